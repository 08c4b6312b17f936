// The pure computations of the versewall passes (see scene_math.h). Float arithmetic with
// the rounding rules of maths.h; a few interpolations run in double on purpose. Depends on
// maths.h only. Must not call the host or GL: everything here is checked without a context.
#include "scene_math.h"

#include <cmath>

namespace versewall {

namespace {

float clamp01(float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }

// (1 - c) a + c b evaluated in double and rounded once, as the circle and its trail move.
float lerp_double(float a, float b, float c) {
    const double cd = c;
    return static_cast<float>((1.0 - cd) * static_cast<double>(a) + cd * static_cast<double>(b));
}

// The trail's ramps: 0.16666667 is the float nearest 1/6, 0.6666666 one float step below 2/3.
constexpr float trail_ramp_start = 0.16666667f;
constexpr float trail_ramp_length = 0.6666666f;

}  // namespace

float background_grey(float kick) { return (kick + 0.15f) * 0.5f; }

// ---- words ----

int word_count(float numwords) {
    const float rounded = numwords + 0.5f;
    if (!(rounded >= 1.0f)) return 0;  // also NaN
    if (rounded >= static_cast<float>(config::max_words + 1)) return config::max_words;
    return static_cast<int>(rounded);
}

cWordRow layout_words(float numwords) {
    cWordRow row;
    row.count = word_count(numwords);
    float width = numwords * config::word_spacing;
    float spacing = config::word_spacing;
    const float r = width / config::canvas_width;
    if (r > 1.0f) {
        spacing = config::word_spacing / r;
        width = width / r;
    }
    const float start = (width - spacing) * -0.5f;
    for (int i = 0; i < row.count; ++i) row.centres[i] = {static_cast<float>(i) * spacing + start, 0.0f, 0.0f, 1.0f};
    row.spacing = spacing;
    return row;
}

mat4 text_projection() {
    mat4 s;
    s[0] = 2.0f / config::canvas_width;   // 0.0025
    s[5] = 2.0f / config::canvas_height;  // 0.004
    s[10] = -1.0f;
    s[15] = 1.0f;
    return s;
}

mat4 text_matrix(float textrot) { return multiply(rotation({0.0f, 0.0f, 1.0f, 0.0f}, textrot), text_projection()); }

std::array<float, 16> quad_corners(const vec4& centre, const vec4& size) {
    const float hx = size.x * 0.5f, hy = size.y * 0.5f;
    const float z = centre.z, w = centre.w + 0.5f;
    return {centre.x - hx, centre.y - hy, z, w,  //
            centre.x + hx, centre.y - hy, z, w,  //
            centre.x + hx, centre.y + hy, z, w,  //
            centre.x - hx, centre.y + hy, z, w};
}

// ---- circle ----

bool circle_visible(float word_t, int count) {
    // Written as the positive range so that a value that is not a number shows no circle.
    return word_t >= config::circle_min_t && word_t <= static_cast<float>(count) + config::circle_tail_t;
}

vec4 circle_position(const cWordRow& row, float word_t, float hofs) {
    int k = static_cast<int>(word_t);
    if (k < 0) k = 0;
    if (k > row.count) k = row.count;
    const float f = word_t - floor_rounded(word_t);

    const vec4 from = k >= 1 ? row.centres[k - 1] : vec4{-config::circle_offstage_x, 0.0f, 0.0f, 1.0f};
    const vec4 to = k < row.count ? row.centres[k] : vec4{config::circle_offstage_x, 0.0f, 0.0f, 1.0f};

    const float x = lerp_double(from.x, to.x, clamp01(f));
    const float arch = std::fabs(sin_rounded(f * config::pi_float)) * config::circle_arc_height;
    const float lift = std::fabs(sin_rounded(hofs * config::pi_float)) * config::circle_lift_height;
    const float y = arch + config::circle_base_y + lift;
    return {x, y, 0.0f, 1.0f};
}

float circle_distance(const vec4& a, const vec4& b) {
    const float dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z, dw = a.w - b.w;
    return sqrt_rounded(dx * dx + dy * dy + dz * dz + dw * dw);
}

cTrail make_trail(const vec4& previous, const vec4& current, float step_count) {
    cTrail trail;
    std::array<float, config::trail_steps> red{}, green{}, blue{}, along{};
    float sum_red = 0.0f, sum_green = 0.0f, sum_blue = 0.0f;
    for (int i = 0; i < config::trail_steps; ++i) {
        const float u = static_cast<float>(i) / step_count;
        const float first_half = u < 0.5f ? 1.0f : 0.0f;
        const float v = clamp01((u - trail_ramp_start) / trail_ramp_length);
        const float w = clamp01(1.0f - std::fabs(2.0f * v - 1.0f));
        red[i] = pow_rounded((1.0f - w) * first_half, config::trail_gamma);
        green[i] = pow_rounded(w, config::trail_gamma);
        blue[i] = pow_rounded((1.0f - w) * (1.0f - first_half), config::trail_gamma);
        along[i] = u;
        sum_red += red[i];
        sum_green += green[i];
        sum_blue += blue[i];
    }
    for (int i = 0; i < config::trail_steps; ++i) {
        trail.colours[i] = {red[i] / sum_red, green[i] / sum_green, blue[i] / sum_blue, 1.0f};
        const float c = clamp01(along[i]);
        trail.centres[i] = {lerp_double(previous.x, current.x, c), lerp_double(previous.y, current.y, c), 0.0f, 1.0f};
    }
    return trail;
}

// ---- duck ----

float duck_height(float trans_y) {
    return sin_rounded(trans_y * config::duck_bob_rate) * config::duck_bob_height + config::duck_rest_y;
}

mat4 duck_model_matrix(float rot, float trans_x, float trans_y) {
    const float a = config::duck_axis_component;
    mat4 m = identity();
    m = multiply(m, rotation({a, a, a, 0.0f}, rot));
    mat4 t = identity();
    t[12] = trans_x;
    t[13] = duck_height(trans_y);
    t[14] = 0.0f;
    return multiply(m, t);
}

cCamera duck_camera(const int32_t* viewport) {
    cCamera camera;
    camera.eye = {0.0f, 0.0f, config::duck_eye_z, 1.0f};
    camera.target = {0.0f, 0.0f, 0.0f, 1.0f};
    camera.up = {0.0f, 1.0f, 0.0f, 0.0f};
    camera.fov = config::duck_fov;
    camera.aspect = static_cast<float>(viewport[2]) / static_cast<float>(viewport[3]);
    camera.near_plane = config::duck_near;
    camera.far_plane = config::duck_far;
    return camera;
}

// ---- tunnel ----

float tunnel_offset(float v) { return v * (v * v) * config::tunnel_offset_scale; }

// ---- post-processing ----

const char* composite_program(int mode) {
    switch (mode) {
        case 0: return "overlay_comp";
        case 1: return "add_comp";
        case 2: return "screen_comp";
        case 3: return "dodge_comp";
        case 4: return "modulate_comp";
        default: return "";
    }
}

bool composite_mode_supported(int mode) {
    return mode == config::composite_add || mode == config::composite_modulate;
}

}  // namespace versewall
