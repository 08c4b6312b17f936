// The numbers behind each versewall pass, computed without GL: background grey, word row,
// text matrix, circle position and trail, duck matrices, tunnel offset, composite programs.
// The passes feed these to the graphics context; tests check them directly. No host calls.
#pragma once
#include <array>
#include <cstdint>

#include "maths.h"
#include "versewall_config.h"

namespace versewall {

// Grey level of the cleared background for the "kick" track value.
float background_grey(float kick);

// ---- words ----

// Words shown for a "numwords" value: rounded half up (toward zero below), 0 for values that
// round below one or are not numbers, at most the row's capacity.
int word_count(float numwords);

// The row of word centres on the text canvas. spacing is also the side of each word's quad.
struct cWordRow {
    std::array<vec4, config::max_words> centres{};
    int count = 0;
    float spacing = 0;
};

// Lays out word_count(numwords) words; the width comes from numwords itself, so fractional
// values slide the row, and a row wider than the canvas is squeezed into it.
cWordRow layout_words(float numwords);

// The text canvas projection (800 x 500 units onto clip space, z negated).
mat4 text_projection();
// The canvas turned by textrot degrees (clockwise for positive angles), then projected.
mat4 text_matrix(float textrot);

// The four corners of a word or circle quad, x y z w each, counter-clockwise from the lower
// left: size.x by size.y around centre, every corner with w = centre.w + 0.5.
std::array<float, 16> quad_corners(const vec4& centre, const vec4& size);

// ---- circle ----

// Whether "word_t" puts the circle on stage for a row of count words.
bool circle_visible(float word_t, int count);

// Where the circle is for "word_t" and "circle_hofs": between word k-1 and word k (k the
// integer part of word_t), on an arch over the row. Only meaningful when circle_visible.
vec4 circle_position(const cWordRow& row, float word_t, float hofs);

// Distance between two circle positions over all four components.
float circle_distance(const vec4& a, const vec4& b);

// The trail drawn when the circle moves a short way: colours that run from red through green
// to blue and sum to 1 per channel, and the quad centres from previous towards current.
struct cTrail {
    std::array<vec4, config::trail_steps> colours{};
    std::array<vec4, config::trail_steps> centres{};
};
cTrail make_trail(const vec4& previous, const vec4& current, float step_count);

// ---- duck ----

// Height of the duck for "duck_trans_y".
float duck_height(float trans_y);
// Model matrix: spun about (1, 1, 1) by rot degrees, then moved to (trans_x, duck_height, 0).
mat4 duck_model_matrix(float rot, float trans_x, float trans_y);
// The duck's fixed camera for a viewport given as {x, y, width, height}.
cCamera duck_camera(const int32_t* viewport);

// ---- tunnel ----

// The "ofs" uniform for a "tunnel_ofs" value: v^3 x 10, keeping the sign of v.
float tunnel_offset(float v);

// ---- post-processing ----

// Program of a composite mode: "overlay_comp", "add_comp", "screen_comp", "dodge_comp",
// "modulate_comp" for 0 to 4, the empty name otherwise.
const char* composite_program(int mode);
// Whether this module has loaded the program of a mode (only add and modulate).
bool composite_mode_supported(int mode);

}  // namespace versewall
