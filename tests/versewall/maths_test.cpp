// Checks the scene's vector and matrix helpers, several of them to the last bit: the shaders
// receive these matrices, and the show's look depends on their exact rounding.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "modules/versewall/maths.h"

using namespace versewall;

namespace {

mat4 translation(float x, float y, float z) {
    mat4 m = identity();
    m[12] = x;
    m[13] = y;
    m[14] = z;
    return m;
}

vec4 transform(const mat4& m, const vec4& p) {
    return {m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12] * p.w, m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13] * p.w,
            m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14] * p.w, m[3] * p.x + m[7] * p.y + m[11] * p.z + m[15] * p.w};
}

void expect_same_bits(const mat4& a, const mat4& b) {
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(std::bit_cast<uint32_t>(a[i]), std::bit_cast<uint32_t>(b[i])) << "element " << i << ": " << a[i] << " vs " << b[i];
}

void expect_equal(const mat4& a, const mat4& b) {
    for (int i = 0; i < 16; ++i) EXPECT_EQ(a[i], b[i]) << "element " << i;
}

}  // namespace

TEST(maths_multiply, identity_on_either_side_changes_nothing) {
    mat4 a;
    for (int i = 0; i < 16; ++i) a[i] = 0.5f * static_cast<float>(i) - 3.25f;
    expect_same_bits(multiply(identity(), a), a);
    expect_same_bits(multiply(a, identity()), a);
}

TEST(maths_multiply, applies_the_first_argument_first) {
    mat4 scale = identity();
    scale[0] = scale[5] = scale[10] = 2.0f;
    const vec4 origin{0, 0, 0, 1};
    const vec4 moved = transform(multiply(translation(1, 0, 0), scale), origin);
    EXPECT_EQ(moved.x, 2.0f);
    EXPECT_EQ(moved.y, 0.0f);
    EXPECT_EQ(moved.z, 0.0f);
    EXPECT_EQ(moved.w, 1.0f);
    // The other order moves after scaling: the origin lands on (1, 0, 0).
    EXPECT_EQ(transform(multiply(scale, translation(1, 0, 0)), origin).x, 1.0f);
}

TEST(maths_rotation, turns_by_the_scenes_degree_factor_and_rounds_as_float) {
    // 0.017453292519943278 falls short of pi / 180 in its last digits. At 108.1587 degrees the
    // angle rounds to another float with it (1.88772535) than with pi / 180 (1.88772547).
    const float odd = 108.1587f;
    const float a = static_cast<float>(static_cast<double>(odd) * 0.017453292519943278);
    ASSERT_NE(a, static_cast<float>(static_cast<double>(odd) * (std::numbers::pi / 180.0)));
    const mat4 r = rotation({0, 0, 1, 0}, odd);
    EXPECT_EQ(r[0], static_cast<float>(std::cos(static_cast<double>(a))));
    EXPECT_EQ(r[4], static_cast<float>(std::sin(static_cast<double>(a))));

    const mat4 m = rotation({0, 0, 2, 0}, 90.0f);
    expect_same_bits(m, rotation({0, 0, 1, 0}, 90.0f));

    const float c = static_cast<float>(std::cos(static_cast<double>(static_cast<float>(90.0 * 0.017453292519943278))));
    EXPECT_NEAR(c, -4.37e-8f, 1e-10f);
    EXPECT_EQ(m[0], c);
    EXPECT_EQ(m[5], c);
    EXPECT_EQ(m[1], -1.0f);
    EXPECT_EQ(m[4], 1.0f);
    // t = 1 - c rounds to 1, and 1 + c then rounds down: one float step below 1.
    EXPECT_EQ(m[10], 0.99999994f);
    EXPECT_EQ(m[15], 1.0f);
    for (int i : {2, 3, 6, 7, 8, 9, 11, 12, 13, 14}) EXPECT_EQ(m[i], 0.0f) << "element " << i;
}

TEST(maths_rotation, positive_angles_turn_clockwise_with_y_up) {
    const vec4 x_axis = transform(rotation({0, 0, 1, 0}, 90.0f), {1, 0, 0, 1});
    EXPECT_NEAR(x_axis.x, 0.0f, 1e-6f);
    EXPECT_NEAR(x_axis.y, -1.0f, 1e-6f);
}

TEST(maths_rotation, spin_about_the_diagonal_keeps_the_diagonal) {
    const mat4 m = rotation({0.3f, 0.3f, 0.3f, 0}, 73.0f);
    const vec4 d = transform(m, {1, 1, 1, 1});
    EXPECT_NEAR(d.x, 1.0f, 1e-5f);
    EXPECT_NEAR(d.y, 1.0f, 1e-5f);
    EXPECT_NEAR(d.z, 1.0f, 1e-5f);
    // and a full turn about it comes back to the start.
    const vec4 p = transform(rotation({0.3f, 0.3f, 0.3f, 0}, 360.0f), {1, 0, 0, 1});
    EXPECT_NEAR(p.x, 1.0f, 1e-5f);
    EXPECT_NEAR(p.y, 0.0f, 1e-5f);
}

TEST(maths_perspective, the_duck_projection) {
    const mat4 m = perspective(110.0f, 1280.0f / 720.0f, 0.1f, 100.0f);
    EXPECT_NEAR(m[5], 0.7002075f, 1e-6f);
    EXPECT_EQ(m[0], m[5] / 1.7777778f);
    EXPECT_NEAR(m[10], -1.002002f, 1e-6f);
    EXPECT_EQ(m[11], -1.0f);
    EXPECT_NEAR(m[14], -0.2002002f, 1e-6f);
    EXPECT_EQ(m[15], 0.0f);
    for (int i : {1, 2, 3, 4, 6, 7, 8, 9, 12, 13}) EXPECT_EQ(m[i], 0.0f) << "element " << i;
}

TEST(maths_perspective, uses_the_short_pi_in_double) {
    // 3.14159265358979 is a little below pi. Near 180 degrees the tangent magnifies the gap
    // enough to change the float: at 179.9787 degrees f is 0.000185888654 with the short pi
    // and 0.000185888639 with pi itself.
    const float fov = 179.9787f;
    const float f = perspective(fov, 1.0f, 1.0f, 2.0f)[5];
    EXPECT_EQ(f, static_cast<float>(1.0 / std::tan(static_cast<double>(fov) / 180.0 * 3.14159265358979 * 0.5)));
    EXPECT_NE(f, static_cast<float>(1.0 / std::tan(static_cast<double>(fov) / 180.0 * std::numbers::pi * 0.5)));
}

TEST(maths_look_at, camera_on_z_looking_at_origin_is_a_translation) {
    expect_equal(look_at({0, 0, 7, 1}, {0, 0, 0, 1}, {0, 1, 0, 0}), translation(0, 0, -7));
}

TEST(maths_look_at, moves_the_target_onto_negative_z) {
    const vec4 eye{3, 2, 5, 1}, target{-1, 0.5f, -2, 1};
    const mat4 view = look_at(eye, target, {0, 1, 0, 0});
    const vec4 t = transform(view, target);
    const float distance = std::sqrt(16.0f + 2.25f + 49.0f);
    EXPECT_NEAR(t.x, 0.0f, 1e-5f);
    EXPECT_NEAR(t.y, 0.0f, 1e-5f);
    EXPECT_NEAR(t.z, -distance, 1e-4f);
    const vec4 e = transform(view, eye);
    EXPECT_NEAR(e.x, 0.0f, 1e-5f);
    EXPECT_NEAR(e.y, 0.0f, 1e-5f);
    EXPECT_NEAR(e.z, 0.0f, 1e-5f);
}

TEST(maths_camera, computes_each_matrix_once_and_keeps_it) {
    cCamera camera;
    camera.eye = {0, 0, 7, 1};
    camera.target = {0, 0, 0, 1};
    camera.up = {0, 1, 0, 0};
    camera.fov = 110.0f;
    camera.aspect = 1280.0f / 720.0f;
    camera.near_plane = 0.1f;
    camera.far_plane = 100.0f;

    const mat4 expected = multiply(look_at(camera.eye, camera.target, camera.up), perspective(110.0f, camera.aspect, 0.1f, 100.0f));
    const mat4 first = camera.view_projection();
    expect_same_bits(first, expected);
    EXPECT_TRUE(camera.view_valid && camera.projection_valid && camera.view_projection_valid);

    // The inputs are not looked at again once the matrices exist.
    camera.eye = {5, 5, 5, 1};
    camera.fov = 30.0f;
    expect_same_bits(camera.view_projection(), first);
    expect_equal(camera.view_matrix(), translation(0, 0, -7));
}
