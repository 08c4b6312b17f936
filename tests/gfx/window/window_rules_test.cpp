// The window layer's pure rules: whole-token extension matching, the render size, and the
// letterbox arithmetic that keeps the whole picture visible on a drawable of another size.
#include <gtest/gtest.h>

#include "gfx/window/letterbox.h"
#include "gfx/window/window.h"
#include "support/hidden_window.h"

namespace {

TEST(has_extension_in, matches_whole_tokens_only) {
    const char* extensions = "GL_ARB_multitexture_x GL_ARB_texture_float";
    EXPECT_FALSE(has_extension_in(extensions, "GL_ARB_multitexture"));
    EXPECT_TRUE(has_extension_in(extensions, "GL_ARB_texture_float"));
    EXPECT_TRUE(has_extension_in(extensions, "GL_ARB_multitexture_x"));
    EXPECT_FALSE(has_extension_in(extensions, "GL_ARB_texture"));
    EXPECT_FALSE(has_extension_in(extensions, "ARB_texture_float"));
    EXPECT_FALSE(has_extension_in(extensions, "GL_ARB_texture_float_y"));
}

TEST(has_extension_in, finds_first_and_last_tokens_and_survives_odd_spacing) {
    EXPECT_TRUE(has_extension_in("GL_A GL_B GL_C", "GL_A"));
    EXPECT_TRUE(has_extension_in("GL_A GL_B GL_C", "GL_C"));
    EXPECT_TRUE(has_extension_in("GL_A  GL_B ", "GL_B"));
    EXPECT_TRUE(has_extension_in("GL_ONLY", "GL_ONLY"));
    EXPECT_FALSE(has_extension_in("GL_A GL_B", ""));
    EXPECT_FALSE(has_extension_in("", "GL_A"));
    EXPECT_FALSE(has_extension_in(nullptr, "GL_A"));
    EXPECT_FALSE(has_extension_in("GL_A", nullptr));
}

TEST(render_size, follows_render_fields_or_window_height) {
    cWindowDesc host = show_window_desc(true, true);
    EXPECT_EQ(render_width_of(host), 1280);
    EXPECT_EQ(render_height_of(host), 720);

    cWindowDesc tall = host;
    tall.height = 600;
    tall.use_window_height = true;
    EXPECT_EQ(render_width_of(tall), 1280);
    EXPECT_EQ(render_height_of(tall), 600);

    tall.use_window_height = false;
    EXPECT_EQ(render_height_of(tall), 720) << "render height must not follow the window without the flag";
}

TEST(render_size, of_a_new_window_is_unset) {
    cWindow window;
    EXPECT_EQ(window.render_width(), -1);
    EXPECT_EQ(window.render_height(), -1);
    EXPECT_TRUE(window.description.show);
    EXPECT_FALSE(window.description.fullscreen);
    EXPECT_EQ(window.handle, nullptr);
}

TEST(letterbox_rect, is_the_largest_centred_box_of_the_render_aspect) {
    EXPECT_EQ(letterbox_rect(1280, 720, 1280, 720), (cViewportRect{0, 0, 1280, 720}));
    EXPECT_EQ(letterbox_rect(1280, 720, 1920, 1080), (cViewportRect{0, 0, 1920, 1080}));
    // Taller drawable: bars above and below.
    EXPECT_EQ(letterbox_rect(1280, 720, 1920, 1200), (cViewportRect{0, 60, 1920, 1080}));
    EXPECT_EQ(letterbox_rect(1280, 720, 1000, 1000), (cViewportRect{0, 218, 1000, 563}));
    // Wider drawable: bars left and right.
    EXPECT_EQ(letterbox_rect(1280, 720, 2560, 1080), (cViewportRect{320, 0, 1920, 1080}));
    EXPECT_EQ(letterbox_rect(640, 360, 1280, 720), (cViewportRect{0, 0, 1280, 720}));
}

TEST(letterbox_rect, with_invalid_sizes_covers_the_drawable_or_nothing) {
    EXPECT_EQ(letterbox_rect(-1, -1, 800, 600), (cViewportRect{0, 0, 800, 600}));
    EXPECT_EQ(letterbox_rect(1280, 0, 800, 600), (cViewportRect{0, 0, 800, 600}));
    EXPECT_EQ(letterbox_rect(1280, 720, 0, 600), (cViewportRect{0, 0, 0, 0}));
}

TEST(needs_letterbox, only_for_valid_sizes_that_differ) {
    EXPECT_FALSE(needs_letterbox(1280, 720, 1280, 720));
    EXPECT_TRUE(needs_letterbox(1280, 720, 1920, 1080));
    EXPECT_TRUE(needs_letterbox(1280, 720, 1280, 721));
    EXPECT_FALSE(needs_letterbox(-1, -1, 1280, 720));
    EXPECT_FALSE(needs_letterbox(1280, 720, 0, 0));
}

TEST(map_viewport, places_render_coordinates_in_the_box) {
    const cViewportRect box{0, 60, 1920, 1080};
    EXPECT_EQ(map_viewport({0, 0, 1280, 720}, box, 1280, 720), box);
    EXPECT_EQ(map_viewport({0, 0, 640, 360}, box, 1280, 720), (cViewportRect{0, 60, 960, 540}));
    EXPECT_EQ(map_viewport({640, 360, 640, 360}, box, 1280, 720), (cViewportRect{960, 600, 960, 540}));
    // Identity when the box is the render area itself.
    EXPECT_EQ(map_viewport({13, 7, 101, 55}, {0, 0, 1280, 720}, 1280, 720), (cViewportRect{13, 7, 101, 55}));
}

TEST(map_viewport, rounds_each_edge_to_the_nearest_pixel_so_tiles_stay_adjacent) {
    // The box of 1280 x 720 on 1000 x 1000 is {0, 218, 1000, 563}: edges scale by 1000/1280
    // across and 563/720 down. Edge 427 lands on 333.59, so 334; edge 400 down on 312.78, so 313.
    const cViewportRect box = letterbox_rect(1280, 720, 1000, 1000);
    ASSERT_EQ(box, (cViewportRect{0, 218, 1000, 563}));
    EXPECT_EQ(map_viewport({0, 0, 427, 720}, box, 1280, 720), (cViewportRect{0, 218, 334, 563}));
    EXPECT_EQ(map_viewport({427, 0, 853, 720}, box, 1280, 720), (cViewportRect{334, 218, 666, 563}));
    EXPECT_EQ(map_viewport({0, 400, 1280, 320}, box, 1280, 720), (cViewportRect{0, 531, 1000, 250}));
}

TEST(map_viewport, passes_invalid_viewports_through) {
    const cViewportRect box{0, 60, 1920, 1080};
    EXPECT_EQ(map_viewport({0, 0, -5, 720}, box, 1280, 720), (cViewportRect{0, 0, -5, 720}));
    EXPECT_EQ(map_viewport({0, 0, 100, 100}, box, 0, 720), (cViewportRect{0, 0, 100, 100}));
    // Huge values are clamped rather than overflowing.
    cViewportRect far = map_viewport({2000000000, 0, 2000000000, 720}, box, 1280, 720);
    EXPECT_GE(far.width, 0);
}

}  // namespace
