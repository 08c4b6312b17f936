// Checks the numbers behind the versewall passes without GL: background grey, word row,
// text matrix, circle position and trail colours, duck matrices, tunnel offset, composites.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "modules/versewall/scene_math.h"

using namespace versewall;

namespace {

constexpr float third = 800.0f / 3.0f;  // 266.67

std::string xs(const cWordRow& row) {
    std::string s;
    for (int i = 0; i < row.count; ++i) s += (i ? " " : "") + std::to_string(row.centres[i].x);
    return s;
}

bool same_bits(const vec4& a, const vec4& b) {
    return std::bit_cast<uint32_t>(a.x) == std::bit_cast<uint32_t>(b.x) && std::bit_cast<uint32_t>(a.y) == std::bit_cast<uint32_t>(b.y) &&
           std::bit_cast<uint32_t>(a.z) == std::bit_cast<uint32_t>(b.z) && std::bit_cast<uint32_t>(a.w) == std::bit_cast<uint32_t>(b.w);
}

}  // namespace

TEST(scene_background, grey_follows_kick) {
    EXPECT_FLOAT_EQ(background_grey(0.0f), 0.075f);
    EXPECT_FLOAT_EQ(background_grey(1.0f), 0.575f);
}

// ---- words ----

TEST(scene_words, whole_counts_are_spaced_400_until_the_canvas_is_full) {
    cWordRow one = layout_words(1.0f);
    ASSERT_EQ(one.count, 1);
    EXPECT_EQ(one.spacing, 400.0f);
    EXPECT_EQ(one.centres[0].x, 0.0f);

    cWordRow two = layout_words(2.0f);
    ASSERT_EQ(two.count, 2) << xs(two);
    EXPECT_EQ(two.centres[0].x, -200.0f);
    EXPECT_EQ(two.centres[1].x, 200.0f);

    cWordRow three = layout_words(3.0f);
    ASSERT_EQ(three.count, 3);
    EXPECT_FLOAT_EQ(three.spacing, third);
    EXPECT_FLOAT_EQ(three.centres[0].x, -third);
    EXPECT_NEAR(three.centres[1].x, 0.0f, 1e-4f);
    EXPECT_FLOAT_EQ(three.centres[2].x, third);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(three.centres[i].y, 0.0f);
        EXPECT_EQ(three.centres[i].z, 0.0f);
        EXPECT_EQ(three.centres[i].w, 1.0f);
    }
}

TEST(scene_words, fractional_count_rounds_but_its_width_slides_the_row) {
    cWordRow row = layout_words(2.4f);
    ASSERT_EQ(row.count, 2);
    EXPECT_FLOAT_EQ(row.spacing, 1000.0f / 3.0f);
    EXPECT_FLOAT_EQ(row.centres[0].x, -700.0f / 3.0f);
    EXPECT_FLOAT_EQ(row.centres[1].x, 100.0f);
    EXPECT_EQ(layout_words(2.5f).count, 3);
    EXPECT_EQ(layout_words(1.49f).count, 1);
}

TEST(scene_words, small_zero_negative_and_undefined_counts_show_no_word) {
    EXPECT_EQ(layout_words(0.3f).count, 0);
    EXPECT_EQ(layout_words(0.0f).count, 0);
    EXPECT_EQ(layout_words(-3.0f).count, 0);
    EXPECT_EQ(layout_words(std::numeric_limits<float>::quiet_NaN()).count, 0);
}

TEST(scene_words, counts_above_the_row_capacity_are_clamped_and_stay_on_the_canvas) {
    EXPECT_EQ(word_count(59.6f), 60);
    EXPECT_EQ(word_count(60.4f), 60);
    EXPECT_EQ(word_count(60.5f), 60);
    EXPECT_EQ(word_count(1000.0f), 60);
    EXPECT_EQ(word_count(std::numeric_limits<float>::infinity()), 60);

    for (float n : {7.0f, 60.0f, 75.0f}) {
        const cWordRow row = layout_words(n);
        const float left = row.centres[0].x - row.spacing * 0.5f;
        EXPECT_GE(left, -400.0f - 0.01f) << n;
        if (n <= 60.0f) {
            const float right = row.centres[row.count - 1].x + row.spacing * 0.5f;
            EXPECT_LE(right, 400.0f + 0.01f) << n;
        }
    }
}

TEST(scene_words, quads_are_counter_clockwise_with_w_one_and_a_half) {
    const auto c = quad_corners({10, 20, 0.25f, 1}, {40, 60, 99, 99});
    const float expected[16] = {-10, -10, 0.25f, 1.5f, 30, -10, 0.25f, 1.5f, 30, 50, 0.25f, 1.5f, -10, 50, 0.25f, 1.5f};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(c[i], expected[i]) << "component " << i;
    // Positive signed area seen from +z: a front face under counter-clockwise winding.
    float area = 0;
    for (int i = 0; i < 4; ++i) {
        const int j = (i + 1) % 4;
        area += c[4 * i] * c[4 * j + 1] - c[4 * j] * c[4 * i + 1];
    }
    EXPECT_GT(area, 0.0f);
}

TEST(scene_words, text_matrix_maps_the_canvas_onto_clip_space) {
    const mat4 s = text_projection();
    EXPECT_EQ(s[0], 0.0025f);
    EXPECT_EQ(s[5], 0.004f);
    EXPECT_EQ(s[10], -1.0f);
    EXPECT_EQ(s[15], 1.0f);
    // Unturned, the text matrix is the projection itself.
    const mat4 m = text_matrix(0.0f);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(m[i], s[i]) << "element " << i;
    // Turned by 90 degrees, the canvas's right edge (400, 0) goes to the bottom of the screen.
    const mat4 r = text_matrix(90.0f);
    EXPECT_NEAR(r[0] * 400.0f, 0.0f, 1e-6f);
    EXPECT_NEAR(r[1] * 400.0f, -1.6f, 1e-6f);
}

// ---- circle ----

TEST(scene_circle, is_on_stage_only_between_the_ends_of_the_row) {
    EXPECT_FALSE(circle_visible(0.0499f, 3));
    EXPECT_TRUE(circle_visible(0.05f, 3));
    EXPECT_TRUE(circle_visible(3.95f, 3));
    EXPECT_FALSE(circle_visible(3.951f, 3));
    EXPECT_TRUE(circle_visible(0.5f, 0));
    EXPECT_FALSE(circle_visible(0.96f, 0));
    EXPECT_FALSE(circle_visible(std::numeric_limits<float>::quiet_NaN(), 3));
}

TEST(scene_circle, hops_on_an_arch_from_word_to_word) {
    const cWordRow row = layout_words(3.0f);
    const vec4 middle = circle_position(row, 1.5f, 0.0f);
    EXPECT_FLOAT_EQ(middle.x, -third / 2.0f);
    EXPECT_FLOAT_EQ(middle.y, 280.0f);
    EXPECT_EQ(middle.z, 0.0f);
    EXPECT_EQ(middle.w, 1.0f);

    const vec4 on_word = circle_position(row, 2.0f, 0.0f);
    EXPECT_NEAR(on_word.x, row.centres[1].x, 1e-4f);
    EXPECT_FLOAT_EQ(on_word.y, 80.0f);

    // "circle_hofs" at 0.5 lifts it by the full 100.
    EXPECT_FLOAT_EQ(circle_position(row, 1.5f, 0.5f).y, 380.0f);
    EXPECT_FLOAT_EQ(circle_position(row, 2.0f, 0.5f).y, 180.0f);
}

TEST(scene_circle, enters_from_far_left_and_leaves_to_far_right) {
    const cWordRow none = layout_words(0.3f);
    EXPECT_FLOAT_EQ(circle_position(none, 0.5f, 0.0f).x, 0.0f);
    EXPECT_FLOAT_EQ(circle_position(none, 0.05f, 0.0f).x, -900.0f);

    const cWordRow row = layout_words(2.0f);
    EXPECT_FLOAT_EQ(circle_position(row, 0.5f, 0.0f).x, -600.0f);  // from -1000 to word 0
    EXPECT_FLOAT_EQ(circle_position(row, 2.5f, 0.0f).x, 600.0f);   // from word 1 to 1000
}

TEST(scene_trail, colours_run_red_green_blue_and_sum_to_one_per_channel) {
    const cTrail trail = make_trail({0, 0, 0, 1}, {100, 50, 0, 1}, 20.0f);
    const auto& c = trail.colours;

    EXPECT_NEAR(c[0].x, 0.1202f, 5e-5f);
    EXPECT_EQ(c[0].y, 0.0f);
    EXPECT_EQ(c[0].z, 0.0f);
    for (int i = 1; i <= 3; ++i) EXPECT_TRUE(same_bits(c[i], c[0])) << "step " << i;

    EXPECT_EQ(c[10].x, 0.0f);
    EXPECT_NEAR(c[10].y, 0.1091f, 5e-5f);
    EXPECT_EQ(c[10].z, 0.0f);

    EXPECT_EQ(c[19].x, 0.0f);
    EXPECT_EQ(c[19].y, 0.0f);
    EXPECT_NEAR(c[19].z, 0.1366f, 5e-5f);
    for (int i = 17; i <= 18; ++i) EXPECT_TRUE(same_bits(c[i], c[19])) << "step " << i;

    float r = 0, g = 0, b = 0;
    for (const vec4& colour : c) {
        EXPECT_EQ(colour.w, 1.0f);
        r += colour.x;
        g += colour.y;
        b += colour.z;
    }
    EXPECT_NEAR(r, 1.0f, 1e-5f);
    EXPECT_NEAR(g, 1.0f, 1e-5f);
    EXPECT_NEAR(b, 1.0f, 1e-5f);
}

TEST(scene_trail, steps_from_the_previous_position_to_95_percent_of_the_way) {
    const cTrail trail = make_trail({-100, 80, 0, 1}, {100, 280, 0, 1}, 20.0f);
    EXPECT_EQ(trail.centres[0].x, -100.0f);
    EXPECT_EQ(trail.centres[0].y, 80.0f);
    EXPECT_FLOAT_EQ(trail.centres[10].x, 0.0f);
    EXPECT_FLOAT_EQ(trail.centres[19].x, 90.0f);
    EXPECT_FLOAT_EQ(trail.centres[19].y, 270.0f);
    for (const vec4& p : trail.centres) {
        EXPECT_EQ(p.z, 0.0f);
        EXPECT_EQ(p.w, 1.0f);
    }
}

TEST(scene_trail, distance_counts_x_and_y) {
    EXPECT_FLOAT_EQ(circle_distance({0, 0, 0, 1}, {300, 400, 0, 1}), 500.0f);
}

// ---- duck ----

TEST(scene_duck, rest_pose_is_one_unit_down) {
    const mat4 m = duck_model_matrix(0.0f, 0.0f, 0.0f);
    mat4 expected = identity();
    expected[13] = -1.0f;
    for (int i = 0; i < 16; ++i) EXPECT_EQ(m[i], expected[i]) << "element " << i;
}

TEST(scene_duck, bobs_with_duck_trans_y) {
    EXPECT_EQ(duck_height(1.0f), 3.0f);
    // 2 x 1.57075 falls 9.27e-5 short of pi: sin 3.1415 x 4 - 1 = -0.99962938 (pi / 2 would
    // give -1.0000003); worked out in frame_values.py.
    EXPECT_NEAR(duck_height(2.0f), -0.99962938f, 1e-6f);
    EXPECT_NEAR(duck_height(3.0f), -5.0f, 1e-3f);
    const mat4 m = duck_model_matrix(0.0f, 2.5f, 1.0f);
    EXPECT_EQ(m[12], 2.5f);
    EXPECT_EQ(m[13], 3.0f);
    EXPECT_EQ(m[14], 0.0f);
}

TEST(scene_duck, turns_about_its_own_origin_before_moving) {
    // The translation stays where it is whatever the spin: the turn comes first.
    const mat4 m = duck_model_matrix(120.0f, 1.0f, 0.0f);
    EXPECT_EQ(m[12], 1.0f);
    EXPECT_EQ(m[13], -1.0f);
    // 120 degrees about (1, 1, 1) permutes the axes; turning by -120 in a right-handed frame
    // (the helpers' sense), it takes x to z, y to x and z to y: columns (0,0,1), (1,0,0), (0,1,0).
    const float permutation[12] = {0, 0, 1, 0, 1, 0, 0, 0, 0, 1, 0, 0};
    for (int i = 0; i < 12; ++i) EXPECT_NEAR(m[i], permutation[i], 1e-5f) << "element " << i;
}

TEST(scene_duck, camera_sits_seven_units_out_with_the_viewport_aspect) {
    const int32_t viewport[4] = {0, 0, 1280, 720};
    cCamera camera = duck_camera(viewport);
    EXPECT_EQ(camera.aspect, 1.7777778f);
    EXPECT_EQ(camera.fov, 110.0f);
    EXPECT_FALSE(camera.view_valid || camera.projection_valid || camera.view_projection_valid);
    const mat4 view = camera.view_matrix();
    mat4 expected = identity();
    expected[14] = -7.0f;
    for (int i = 0; i < 16; ++i) EXPECT_EQ(view[i], expected[i]) << "element " << i;
}

// ---- tunnel and composites ----

TEST(scene_tunnel, offset_is_the_cube_times_ten_with_its_sign) {
    EXPECT_FLOAT_EQ(tunnel_offset(0.5f), 1.25f);
    EXPECT_FLOAT_EQ(tunnel_offset(-1.0f), -10.0f);
    EXPECT_EQ(tunnel_offset(0.0f), 0.0f);
}

TEST(scene_post, composite_modes_name_their_programs) {
    EXPECT_STREQ(composite_program(0), "overlay_comp");
    EXPECT_STREQ(composite_program(1), "add_comp");
    EXPECT_STREQ(composite_program(2), "screen_comp");
    EXPECT_STREQ(composite_program(3), "dodge_comp");
    EXPECT_STREQ(composite_program(4), "modulate_comp");
    EXPECT_STREQ(composite_program(5), "");
    EXPECT_STREQ(composite_program(-1), "");
    for (int mode = -1; mode <= 5; ++mode) EXPECT_EQ(composite_mode_supported(mode), mode == 1 || mode == 4) << mode;
}
