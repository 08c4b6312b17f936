// Every fixed number and name of the versewall scene in one place: canvas and word limits,
// circle and trail constants, the duck's camera, the glow chain's levels, the data files
// and the programs the scene asks the host for. Constants only; no code.
#pragma once

namespace versewall::config {

// ---- name of the scene, also the sync track that switches it on ----
inline constexpr const char* scene_name = "scene_karaoke";

// ---- words ----
inline constexpr int max_words = 60;             // capacity of the word row
inline constexpr float canvas_width = 800.0f;    // text canvas, centred on the screen
inline constexpr float canvas_height = 500.0f;
inline constexpr float word_spacing = 400.0f;    // before the row is squeezed into the canvas
inline constexpr int brightness_tracks = 5;      // words 0-4 have a brightness track each

// ---- circle and its trail ----
inline constexpr float circle_min_t = 0.05f;     // below this "word_t" shows no circle
inline constexpr float circle_tail_t = 0.95f;    // ... nor above word count + this
inline constexpr float circle_offstage_x = 1000.0f;  // where it enters from and leaves to
inline constexpr float circle_base_y = 80.0f;
inline constexpr float circle_arc_height = 200.0f;
inline constexpr float circle_lift_height = 100.0f;  // full "circle_hofs" lift
inline constexpr float circle_size = 50.0f;
inline constexpr float circle_jump_distance = 500.0f;  // farther than this: no trail
inline constexpr int trail_steps = 20;
inline constexpr float trail_step_count = 20.0f;
inline constexpr float pi_float = 3.1415927f;
// 1/2.2 as a float: the trail colours are gamma-encoded ramps.
inline constexpr float trail_gamma = 0.45454543828964233f;

// ---- duck ----
inline constexpr float duck_eye_z = 7.0f;
inline constexpr float duck_fov = 110.0f;
inline constexpr float duck_near = 0.1f;
inline constexpr float duck_far = 100.0f;
inline constexpr float duck_axis_component = 0.3f;  // spin axis (0.3, 0.3, 0.3)
inline constexpr float duck_bob_rate = 1.57075f;    // not quite pi / 2, by design of the tracks
inline constexpr float duck_bob_height = 4.0f;
inline constexpr float duck_rest_y = -1.0f;
inline constexpr float duck_draw_threshold = 0.5f;

// ---- tunnel ----
inline constexpr float tunnel_offset_scale = 10.0f;

// ---- post-processing (levels on the 0 to 255 scale) ----
inline constexpr float glow_black_first = 32.0f;
inline constexpr float glow_black_second = 0.0f;
inline constexpr float glow_white = 255.0f;
inline constexpr float glow_gamma = 1.3f;
// The render width the glow's blur reach is measured at, in texels of each level. At another
// render size (a capture at 1920 x 1080 or 3840 x 2160) the reach scales with the width, so
// the glow covers the same part of the picture; at this width the scale is exactly 1.
inline constexpr float glow_composed_width = 1280.0f;
inline constexpr int composite_add = 1;
inline constexpr int composite_modulate = 4;

// ---- texture arguments of load_texture ----
inline constexpr int wrap_repeat = 1;
inline constexpr int wrap_clamp = 2;
inline constexpr int kind_automatic = 0;
inline constexpr int kind_rectangle = 4;

// ---- data files ----
inline constexpr const char* la_path = "data/textures/la.png";
inline constexpr const char* umptchi_path = "data/textures/umptchi.png";
inline constexpr const char* circle_path = "data/textures/circle.png";
inline constexpr const char* tunnel_texture_path = "data/textures/tunnel.jpg";
inline constexpr const char* vignette_path = "data/textures/vignette01.png";
inline constexpr const char* duck_model_path = "data/models/duck.obj";
inline constexpr const char* duck_model_name = "duck";

}  // namespace versewall::config

// ---- shader programs: names and their vertex and fragment files ----
namespace versewall::program {

inline constexpr const char* text = "text";
inline constexpr const char* text_vert = "data/shaders/text.vert";
inline constexpr const char* text_frag = "data/shaders/text.frag";
inline constexpr const char* duck = "duck";
inline constexpr const char* duck_vert = "data/shaders/duck.vert";
inline constexpr const char* duck_frag = "data/shaders/duck.frag";
inline constexpr const char* tunnel = "tunnel";
inline constexpr const char* tunnel_vert = "data/shaders/tunnel.vert";
inline constexpr const char* tunnel_frag = "data/shaders/tunnel.frag";
inline constexpr const char* passthrough = "passthrough";
inline constexpr const char* passthrough_vert = "data/shaders/post_passthrough.vert";
inline constexpr const char* passthrough_frag = "data/shaders/post_passthrough.frag";
inline constexpr const char* dir_blur = "dir_blur";
inline constexpr const char* dir_blur_vert = "data/shaders/post_dir_blur.vert";
inline constexpr const char* dir_blur_frag = "data/shaders/post_dir_blur.frag";
inline constexpr const char* downsample = "downsample";
inline constexpr const char* downsample_vert = "data/shaders/post_downsample.vert";
inline constexpr const char* downsample_frag = "data/shaders/post_downsample.frag";
inline constexpr const char* levels = "levels";
inline constexpr const char* levels_vert = "data/shaders/post_levels.vert";
inline constexpr const char* levels_frag = "data/shaders/post_levels.frag";
inline constexpr const char* add_comp = "add_comp";
inline constexpr const char* modulate_comp = "modulate_comp";
inline constexpr const char* comp_vert = "data/shaders/post_comp.vert";
inline constexpr const char* add_comp_frag = "data/shaders/post_comp_add.frag";
inline constexpr const char* modulate_comp_frag = "data/shaders/post_comp_modulate.frag";

}  // namespace versewall::program
