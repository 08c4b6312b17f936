// The built versewall plug-in, loaded with dlopen as the host does, on the host's real graphics
// context seen through an observing wrapper: creation and deletion, init's loads, and one frame's
// protocol (clear, leases from the real pool, pass order, render state, uniforms, tracks read
// through a real sync device at the music position).
#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "scene_fixture.h"

using namespace versewall_test;

namespace {

std::vector<float> translation(float x, float y, float z) { return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1}; }
std::vector<float> four(float v) { return {v, v, v, v}; }
int width_of(const void* texture) { return static_cast<const cTexture*>(texture)->width; }

using frame_test = versewall_scene;

}  // namespace

// ---- life of the scene object ----

TEST_F(frame_test, create_names_the_scene_and_delete_clears_the_pointer) {
    cRenderModuleBase* other = module.create();
    ASSERT_NE(other, nullptr);
    EXPECT_STREQ(other->name(), "scene_karaoke");
    other->reserved();
    {
        cCaptureStream err(STDERR_FILENO);  // "# already inserted model duck"
        other->init(&input());
    }
    EXPECT_STREQ(other->name(), "scene_karaoke");
    module.destroy(&other);
    EXPECT_EQ(other, nullptr);
    module.destroy(&other);  // already null: stays null, nothing else happens
    EXPECT_EQ(other, nullptr);
    module.destroy(nullptr);
}

TEST_F(frame_test, init_asks_for_programs_model_and_pictures_in_order) {
    std::vector<std::string> calls;
    for (const auto& c : gfx->calls) calls.push_back(c.op + " " + c.name + " " + c.uniform + " " + c.extra);
    const std::vector<std::string> expected = {
        "has_shader text  ",
        "load_shader text data/shaders/text.vert data/shaders/text.frag",
        "has_shader duck  ",
        "load_shader duck data/shaders/duck.vert data/shaders/duck.frag",
        "load_model duck data/models/duck.obj ",
        "model duck  ",
        "load_texture data/textures/la.png  ",
        "load_texture data/textures/umptchi.png  ",
        "load_texture data/textures/circle.png  ",
    };
    EXPECT_EQ(calls, expected);
    for (const auto& c : gfx->of("load_texture")) EXPECT_EQ(c.numbers, (std::vector<int>{0, 2, 0})) << c.name;
    EXPECT_EQ(load_err.find("ERROR"), std::string::npos) << load_err;
}

TEST_F(frame_test, init_leaves_programs_the_host_already_holds) {
    stop();
    start([](gfxContext& host) {
        host.load_shader("text", "data/shaders/text.vert", "data/shaders/text.frag");
        host.load_shader("duck", "data/shaders/duck.vert", "data/shaders/duck.frag");
    });
    EXPECT_TRUE(gfx->of("load_shader").empty());
    EXPECT_EQ(gfx->of("load_model").size(), 1u);
}

TEST_F(frame_test, a_refused_model_skips_the_duck_pass) {
    stop();
    start([](gfxContext& host) { host.model("duck"); });  // the name is taken, with no model
    tracks.set({{"draw_duck", 1}});
    frame();
    EXPECT_TRUE(in_frame("model.draw").empty());
    for (const auto& c : in_frame("use_shader")) EXPECT_NE(c.name, "duck");
    EXPECT_EQ(ctx->render_state().depth(), 0u);
}

// ---- the frame ----

TEST_F(frame_test, frame_clears_to_the_kick_grey_and_starts_a_cleared_full_size_target) {
    tracks.set({{"kick", 1}});
    frame();
    const auto& calls = gfx->calls;
    ASSERT_GE(calls.size(), first + 5);
    EXPECT_EQ(calls[first].op, "set_clear_color");
    EXPECT_EQ(calls[first].values, (std::vector<float>{0.575f, 0.575f, 0.575f, 0.5f}));
    EXPECT_EQ(calls[first + 1].op, "clear");
    EXPECT_EQ(calls[first + 1].framebuffer, 0) << "the window is cleared, for the duck's depth";
    EXPECT_EQ(calls[first + 2].op, "acquire");
    EXPECT_EQ(calls[first + 2].numbers, (std::vector<int>{scene_targets().first, 1280, 720}));
    // Binding A with the clear argument 1 sets the viewport, then applies the state and clears it.
    EXPECT_EQ(calls[first + 3].op + " " + std::to_string(calls[first + 3].numbers.at(2)), "set_viewport 1280");
    EXPECT_EQ(calls[first + 4].op, "apply_state");
    EXPECT_EQ(calls[first + 4].framebuffer, scene_targets().first);
}

TEST_F(frame_test, frame_gives_every_lease_back_in_reverse_order_within_the_warm_up_sizes) {
    tracks.set({{"numwords", 3}, {"word_t", 1.5f}, {"draw_duck", 1}});
    const uint32_t pooled = ctx->pool().free_count();
    cCaptureStream out(STDOUT_FILENO);
    for (int i = 0; i < 3; ++i) {
        frame();
        EXPECT_EQ(gfx->outstanding(), 0) << "frame " << i;
        EXPECT_EQ(ctx->pool().outstanding(), 0) << "frame " << i;
    }
    EXPECT_EQ(out.stop().find("performance-warning"), std::string::npos);
    EXPECT_EQ(ctx->pool().free_count(), pooled) << "the pool made a target after its warm-up";
    // The most held at once match the pool's warm-up.
    const std::map<std::pair<int, int>, int> expected = {{{1280, 720}, 2}, {{640, 360}, 3}, {{320, 180}, 2}, {{160, 90}, 2}};
    EXPECT_EQ(gfx->peak, expected);

    // Acquired: A, B, gA, gB, blur temporary, gC, temporary, gD, temporary, gE.
    std::vector<int> a, released;
    for (const auto& c : in_frame("acquire")) a.push_back(c.numbers[0]);
    for (const auto& c : in_frame("release")) released.push_back(c.numbers[0]);
    ASSERT_EQ(a.size(), 10u);
    EXPECT_EQ(released, (std::vector<int>{a[4], a[6], a[8], a[9], a[7], a[5], a[3], a[2], a[1], a[0]}));
}

TEST_F(frame_test, frame_runs_its_passes_in_order_and_leaves_only_the_words_state) {
    tracks.set({{"numwords", 2}, {"word_t", 1.2f}, {"textits", 1}, {"tunnel", 1}, {"draw_duck", 1}});
    const cRenderState before = *ctx->state();
    first = gfx->calls.size();
    ctx->push_state();
    scene->render(&input());
    // The words pass turns depth testing off and additive blending on for the rest of the frame
    // without pushing; everything else it changed is back.
    cRenderState expected = before;
    expected.set_depth_test(false);
    expected.set_blending(true);
    expected.set_blend_color(cRenderState::blend_one, cRenderState::blend_one);
    EXPECT_EQ(*ctx->state(), expected) << std::hex << ctx->state()->word[0] << " vs " << expected.word[0];
    EXPECT_EQ(ctx->render_state().depth(), 1u);
    ctx->pop_state();
    EXPECT_EQ(*ctx->state(), before);

    std::vector<std::string> order;
    for (const auto& c : in_frame("use_shader"))
        if (order.empty() || order.back() != c.name) order.push_back(c.name);
    const std::vector<std::string> passes = {"text",     "modulate_comp", "downsample", "levels",      "dir_blur",
                                             "downsample", "dir_blur",    "downsample", "dir_blur",    "levels",
                                             "add_comp", "passthrough",   "tunnel",     "duck"};
    EXPECT_EQ(order, passes);
    EXPECT_EQ(bound_framebuffer(), 0);
    const int32_t* viewport = ctx->viewport();
    EXPECT_EQ(std::vector<int32_t>(viewport, viewport + 4), (std::vector<int32_t>{0, 0, 1280, 720}));
}

TEST_F(frame_test, post_passes_draw_opaque_without_depth_or_culling_into_their_targets) {
    frame();
    int draws = 0;
    for (const char* op : {"draw_fullscreen_quad_tex", "draw_fullscreen_quad_uv2"})
        for (const auto& c : in_frame(op)) {
            ++draws;
            EXPECT_FALSE(c.state.depth_test());
            EXPECT_FALSE(c.state.depth_write());
            EXPECT_FALSE(c.state.face_culling());
            EXPECT_FALSE(c.state.blending());
        }
    EXPECT_EQ(draws, 14);  // vignette 1, glow 11 at half size or less plus its composite, passthrough 1

    const auto [a, b] = scene_targets();
    const auto composites = in_frame("draw_fullscreen_quad_uv2");
    ASSERT_EQ(composites.size(), 2u);
    EXPECT_EQ(composites[0].framebuffer, b);                                    // vignette into B
    EXPECT_EQ(composites[0].numbers, (std::vector<int>{640, 360, 1280, 720}));  // the image over the scene
    EXPECT_EQ(composites[1].framebuffer, a);                                    // glow back into A
    EXPECT_EQ(composites[1].numbers, (std::vector<int>{1280, 720, 160, 90}));   // source over glow
    const auto copies = in_frame("draw_fullscreen_quad_tex");
    EXPECT_EQ(copies.back().framebuffer, 0);  // the passthrough lands on the window
    EXPECT_EQ(width_of(copies.back().object), 1280);

    std::vector<std::string> bindings;
    for (const auto& c : in_frame("set_texture"))
        if (c.name.find("_comp") != std::string::npos) bindings.push_back(c.name + " " + c.uniform + " " + std::to_string(width_of(c.object)));
    EXPECT_EQ(bindings, (std::vector<std::string>{"modulate_comp tex_over 640", "modulate_comp tex_under 1280",
                                                  "add_comp tex_over 1280", "add_comp tex_under 160"}));
    EXPECT_EQ(gfx->vectors("modulate_comp", "opasity"), (std::vector<std::vector<float>>{four(1)}));
    EXPECT_EQ(gfx->vectors("add_comp", "opasity"), (std::vector<std::vector<float>>{four(1)}));
    EXPECT_EQ(gfx->vectors("levels", "levels_inout"), (std::vector<std::vector<float>>{{32, 255, 0, 255}, {0, 255, 0, 255}}));
    EXPECT_EQ(gfx->vectors("levels", "gamma"), (std::vector<std::vector<float>>{four(1.3f), four(1.3f)}));
    EXPECT_EQ(gfx->vectors("dir_blur", "blurdir").size(), 6u);
}

TEST_F(frame_test, first_frame_loads_post_and_tunnel_resources_once) {
    frame();
    frame();
    std::map<std::string, std::string> shaders;
    for (const auto& c : gfx->of("load_shader")) {
        EXPECT_EQ(shaders.count(c.name), 0u) << c.name << " loaded twice";
        shaders[c.name] = c.uniform + " " + c.extra;
    }
    shaders.erase("text");
    shaders.erase("duck");
    const std::map<std::string, std::string> expected = {
        {"passthrough", "data/shaders/post_passthrough.vert data/shaders/post_passthrough.frag"},
        {"dir_blur", "data/shaders/post_dir_blur.vert data/shaders/post_dir_blur.frag"},
        {"downsample", "data/shaders/post_downsample.vert data/shaders/post_downsample.frag"},
        {"levels", "data/shaders/post_levels.vert data/shaders/post_levels.frag"},
        {"add_comp", "data/shaders/post_comp.vert data/shaders/post_comp_add.frag"},
        {"modulate_comp", "data/shaders/post_comp.vert data/shaders/post_comp_modulate.frag"},
        {"tunnel", "data/shaders/tunnel.vert data/shaders/tunnel.frag"},
    };
    EXPECT_EQ(shaders, expected);
    std::vector<std::string> textures;
    for (const auto& c : gfx->of("load_texture", after_init))
        textures.push_back(c.name + " " + std::to_string(c.numbers[0]) + std::to_string(c.numbers[1]) + std::to_string(c.numbers[2]));
    EXPECT_EQ(textures, (std::vector<std::string>{"data/textures/vignette01.png 024", "data/textures/tunnel.jpg 010"}));
}

TEST_F(frame_test, every_pass_reads_its_tracks_at_the_music_position) {
    // Ramps over the first ten seconds (240 rows), read at 5.432 s.
    for (const char* name : {"kick", "textits", "tunnel", "duck_trans"}) tracks.keys(name, {{0, 0, 1}, {240, 1, 0}});
    tracks.set({{"numwords", 1}, {"word0its", 1}, {"draw_duck", 1}});
    at(5432);
    frame();
    const int64_t now = cVersewallStage::sound().position_ms();
    ASSERT_EQ(now, 5432);
    auto value = [&](const char* name) { return tracks.device().get_value(name, now); };
    ASSERT_NEAR(value("kick"), 0.5432f, 1e-5f);

    EXPECT_NEAR(in_frame("set_clear_color")[0].values[0], (0.5432f + 0.15f) * 0.5f, 1e-6f);
    EXPECT_EQ(gfx->vectors("text", "color").at(0), four(value("textits")));
    EXPECT_EQ(gfx->vectors("tunnel", "opasity"), (std::vector<std::vector<float>>{four(value("tunnel"))}));
    EXPECT_EQ(gfx->vectors("tunnel", "time"), (std::vector<std::vector<float>>{four(5.432f)}));
    for (const auto& c : in_frame("set_matrix"))
        if (c.name == "duck" && c.uniform == "modelmat_IT") {
            EXPECT_EQ(c.values[12], value("duck_trans"));
        }
}

// ---- words ----

TEST_F(frame_test, words_are_lit_by_textits_and_their_own_tracks) {
    // A brightness of its own for each of the first five words, so each track must reach its
    // own word; the words after them follow "textits" alone.
    tracks.set({{"numwords", 8}, {"textits", 0.5f}, {"word0its", 1}, {"word1its", 0.75f}, {"word2its", 0.4f},
                {"word3its", 0.25f}, {"word4its", 0.125f}});
    frame();
    const auto colours = gfx->vectors("text", "color");
    ASSERT_EQ(colours.size(), 8u);
    const float expected[8] = {0.5f, 0.375f, 0.2f, 0.125f, 0.0625f, 0.5f, 0.5f, 0.5f};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(colours[i], four(expected[i])) << "word " << i;

    const auto quads = in_frame("draw_indexed_uv");
    ASSERT_EQ(quads.size(), 8u);
    for (const auto& q : quads) {
        EXPECT_EQ(q.framebuffer, scene_targets().first);
        EXPECT_FALSE(q.state.depth_test());
        EXPECT_TRUE(q.state.blending());
        EXPECT_EQ(q.state.src_color(), cRenderState::blend_one);
        EXPECT_EQ(q.state.dst_color(), cRenderState::blend_one);
        EXPECT_EQ(q.numbers, (std::vector<int>{0, 1, 2, 0, 2, 3}));
    }
    // Eight words squeeze into the canvas: 100 apart, the first centred at -350.
    EXPECT_EQ(quads[0].values, (std::vector<float>{-400, -50, 0, 1.5f, -300, -50, 0, 1.5f, -300, 50, 0, 1.5f, -400, 50, 0, 1.5f,
                                                   0, 0, 1, 0, 1, 1, 0, 1}));
}

TEST_F(frame_test, words_turn_with_textrot_and_switch_picture_only_above_one_half) {
    tracks.set({{"numwords", 1}, {"textrot", 30}});
    const cTexture* la = texture("data/textures/la.png");
    const cTexture* umptchi = texture("data/textures/umptchi.png");
    for (float value : {0.5f, 0.51f}) {
        tracks.set({{"umptchi", value}});
        frame();
        const auto matrices = in_frame("set_matrix");
        ASSERT_FALSE(matrices.empty());
        EXPECT_EQ(matrices[0].name + " " + matrices[0].uniform, "text mvp");
        // The canvas scaled by 1/400 and 1/250 after a clockwise turn of 30 degrees (cos 30 =
        // 0.8660254, sin 30 = 0.5), column by column; values from frame_values.py.
        const std::vector<float> expected = {0.0021650635f, -0.002f, 0, 0, 0.00125f, 0.0034641018f, 0, 0,
                                             0, 0, -1, 0, 0, 0, 0, 1};
        ASSERT_EQ(matrices[0].values.size(), 16u);
        for (int i = 0; i < 16; ++i) EXPECT_FLOAT_EQ(matrices[0].values[i], expected[i]) << "element " << i;
        EXPECT_EQ(in_frame("set_texture").at(0).object, value > 0.5f ? umptchi : la) << value;
    }
}

TEST_F(frame_test, no_words_without_numwords_but_a_small_value_still_moves_the_circle) {
    tracks.set({{"word_t", 0.5f}});
    frame();
    EXPECT_TRUE(in_frame("draw_indexed_uv").empty());

    tracks.set({{"numwords", 0.3f}});
    frame();
    // No word; the circle crosses from far left to far right, its trail starting at the centre.
    const auto quads = in_frame("draw_indexed_uv");
    ASSERT_EQ(quads.size(), 20u);
    EXPECT_EQ(quads[0].values[0], -25.0f);
    EXPECT_EQ(quads[0].values[1], -25.0f);
}

// ---- circle ----

TEST_F(frame_test, circle_trails_from_the_centre_then_jumps_as_one_white_disc_beyond_500_units) {
    // Positions and distances from frame_values.py. Three words at -266.67, 0, 266.67; "word_t"
    // 1.5 puts the circle at (-133.33, 280), 310 units from the canvas centre where it starts.
    tracks.set({{"numwords", 3}, {"word_t", 1.5f}});
    frame();
    auto quads = in_frame("draw_indexed_uv");
    ASSERT_EQ(quads.size(), 3u + 20u);
    for (size_t i = 0; i < 20; ++i) EXPECT_EQ(quads[3 + i].depth, 2u) << "trail quads are drawn under a pushed state";
    // Lower left corners (centre - 25) of steps 0, 10 and 19, and their colours: red, green, blue.
    const auto colours = gfx->vectors("text", "color");
    const struct {
        size_t step;
        float x, y;
        std::vector<float> colour;
    } steps[] = {{0, -25.0f, -25.0f, {0.1202f, 0, 0, 1}},
                 {10, -91.66668f, 115.0f, {0, 0.1091f, 0, 1}},
                 {19, -151.66669f, 241.0f, {0, 0, 0.1366f, 1}}};
    for (const auto& step : steps) {
        EXPECT_FLOAT_EQ(quads[3 + step.step].values[0], step.x) << step.step;
        EXPECT_FLOAT_EQ(quads[3 + step.step].values[1], step.y) << step.step;
        for (int c = 0; c < 4; ++c) EXPECT_NEAR(colours[3 + step.step][c], step.colour[c], 5e-5f) << step.step;
    }

    // A frame without circle changes nothing; then 766.67 units off, one white disc at (633.33, 280).
    tracks.set({{"word_t", 0}});
    frame();
    EXPECT_EQ(in_frame("draw_indexed_uv").size(), 3u);
    tracks.set({{"word_t", 3.5f}});
    frame();
    quads = in_frame("draw_indexed_uv");
    ASSERT_EQ(quads.size(), 4u);
    EXPECT_FLOAT_EQ(quads[3].values[0], 608.3333f);
    EXPECT_FLOAT_EQ(quads[3].values[1], 255.0f);
    EXPECT_EQ(gfx->vectors("text", "color").back(), four(1));

    // Either side of 500 units: 502.67 away is a jump, both ways; 497.33 away a trail.
    for (const auto& [word_t, quad_count] : {std::pair{2.49f, 4u}, {3.5f, 4u}, {2.51f, 23u}}) {
        tracks.set({{"word_t", word_t}});
        frame();
        EXPECT_EQ(in_frame("draw_indexed_uv").size(), quad_count) << "word_t " << word_t;
    }
}

// ---- tunnel and duck ----

TEST_F(frame_test, tunnel_is_added_with_its_uniforms_from_the_tracks) {
    tracks.set({{"tunnel", 0.7f}, {"tunnel_twist", 0.3f}, {"tunnel_ofs", 0.5f}});
    at(1234);
    frame();
    EXPECT_EQ(gfx->vectors("tunnel", "time"), (std::vector<std::vector<float>>{four(1.234f)}));
    EXPECT_EQ(gfx->vectors("tunnel", "opasity"), (std::vector<std::vector<float>>{four(0.7f)}));
    EXPECT_EQ(gfx->vectors("tunnel", "twist"), (std::vector<std::vector<float>>{four(0.3f)}));
    EXPECT_EQ(gfx->vectors("tunnel", "ofs"), (std::vector<std::vector<float>>{four(1.25f)}));

    const auto quads = in_frame("draw_fullscreen_quad");
    ASSERT_EQ(quads.size(), 1u);
    const cRenderState s = quads[0].state;
    EXPECT_EQ(quads[0].framebuffer, 0);
    EXPECT_FALSE(s.depth_test());
    EXPECT_FALSE(s.depth_write());
    EXPECT_TRUE(s.blending());
    EXPECT_EQ(s.src_color(), cRenderState::blend_one);
    EXPECT_EQ(s.dst_color(), cRenderState::blend_one);
    EXPECT_EQ(s.src_alpha(), cRenderState::blend_one);  // alpha factors as the host left them
    EXPECT_EQ(s.dst_alpha(), cRenderState::blend_zero);
    EXPECT_TRUE(s.face_culling());
}

TEST_F(frame_test, duck_is_drawn_from_one_half_with_the_rest_pose_matrices) {
    tracks.set({{"draw_duck", 0.49f}});
    frame();
    EXPECT_TRUE(in_frame("model.draw").empty());
    for (const auto& c : in_frame("use_shader")) EXPECT_NE(c.name, "duck");

    tracks.set({{"draw_duck", 0.5f}});
    frame();
    const auto draws = in_frame("model.draw");
    ASSERT_EQ(draws.size(), 1u);
    const cRenderState s = draws[0].state;
    EXPECT_TRUE(s.depth_test());
    EXPECT_TRUE(s.depth_write());
    EXPECT_FALSE(s.blending());
    EXPECT_TRUE(s.face_culling());
    EXPECT_EQ(draws[0].framebuffer, 0);

    std::map<std::string, std::vector<float>> matrices;
    for (const auto& c : in_frame("set_matrix"))
        if (c.name == "duck") matrices[c.uniform] = c.values;
    EXPECT_EQ(matrices["modelmat_IT"], translation(0, -1, 0));
    EXPECT_EQ(matrices["ws_to_vs"], translation(0, 0, -7));
    // Projection (110 degrees, 1280/720, near 0.1, far 100) x view x model: the perspective
    // matrix with its last column applied to the duck's origin at (0, -1, -7) in view space.
    // Values from frame_values.py.
    const std::vector<float> mvp = {0.39386675f, 0, 0, 0, 0, 0.70020753f, 0, 0, 0, 0, -1.002002f, -1,
                                    0, -0.70020753f, 6.813814f, 7};
    ASSERT_EQ(matrices["mvp"].size(), 16u);
    for (int i = 0; i < 16; ++i) EXPECT_FLOAT_EQ(matrices["mvp"][i], mvp[i]) << "element " << i;
}
