// Drives the built versewall plug-in, loaded with dlopen like the host does, against a
// recording graphics context: creation and deletion, init's loads, and one frame's protocol
// (clear, leases, pass order, render state, uniforms, tracks) without GL.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>

#include "recording_context.h"
#include "render_module_base.h"
#include "scene_math.h"
#include "support/temp_dir.h"

using namespace versewall_test;

namespace {

// A private copy of the module per test, so that its library-wide state (first-use flags,
// the circle's last position) starts fresh, as after the host's start-up.
class cLoadedModule {
public:
    cLoadedModule() {
        path_ = dir_ / "render_versewall.so";
        std::filesystem::copy_file(DEMO_VERSEWALL_MODULE, path_);
        handle_ = ::dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle_) return;
        create = reinterpret_cast<CreateSceneFn>(::dlsym(handle_, "CreateScene"));
        destroy = reinterpret_cast<DeleteSceneFn>(::dlsym(handle_, "DeleteScene"));
    }
    ~cLoadedModule() {
        if (handle_) ::dlclose(handle_);
    }
    bool loaded() const { return handle_ && create && destroy; }
    CreateSceneFn create = nullptr;
    DeleteSceneFn destroy = nullptr;

private:
    cTempDir dir_;
    std::string path_;
    void* handle_ = nullptr;
};

class versewall_module : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(module.loaded()) << ::dlerror();
        scene = module.create();
        ASSERT_NE(scene, nullptr);
        scene->init(&input);
        ctx.events.clear();
        sync.reads.clear();
    }
    void TearDown() override {
        if (scene) module.destroy(&scene);
    }

    // One frame as the host runs it: push, render, pop.
    void frame() {
        ctx.push_state();
        const size_t first = ctx.events.size();
        scene->render(&input);
        frame_events.assign(ctx.events.begin() + static_cast<long>(first), ctx.events.end());
        ctx.pop_state();
    }

    std::vector<cGfxEvent> in_frame(const std::string& op) const {
        std::vector<cGfxEvent> out;
        for (const auto& e : frame_events)
            if (e.op == op) out.push_back(e);
        return out;
    }

    // Full-size targets of the last frame: A (the scene) and B (the spare), by lease order.
    std::pair<int, int> scene_targets() const {
        const auto acquires = in_frame("acquire");
        return {acquires.at(0).numbers[0], acquires.at(1).numbers[0]};
    }

    cLoadedModule module;
    cRecordingContext ctx;
    cFakeSync sync;
    cFakeInput input{&ctx, &sync};
    cRenderModuleBase* scene = nullptr;
    std::vector<cGfxEvent> frame_events;
};

std::vector<float> translation(float x, float y, float z) {
    return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1};
}

}  // namespace

// ---- life of the scene object ----

TEST(versewall_exports, create_names_the_scene_and_delete_clears_the_pointer) {
    cLoadedModule module;
    ASSERT_TRUE(module.loaded()) << ::dlerror();
    cRenderModuleBase* scene = module.create();
    ASSERT_NE(scene, nullptr);
    EXPECT_STREQ(scene->name(), "scene_karaoke");
    scene->reserved();

    cRecordingContext ctx;
    cFakeSync sync;
    cFakeInput input(&ctx, &sync);
    scene->init(&input);
    EXPECT_STREQ(scene->name(), "scene_karaoke");

    module.destroy(&scene);
    EXPECT_EQ(scene, nullptr);
    module.destroy(&scene);  // already null: stays null, nothing else happens
    EXPECT_EQ(scene, nullptr);
    module.destroy(nullptr);
}

TEST_F(versewall_module, init_asks_for_programs_model_and_pictures_in_order) {
    cRecordingContext fresh;
    cFakeInput fresh_input(&fresh, &sync);
    scene->init(&fresh_input);

    std::vector<std::string> calls;
    for (const auto& e : fresh.events) calls.push_back(e.op + " " + e.program + " " + e.uniform + " " + e.extra);
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
    for (const auto& e : fresh.of("load_texture")) EXPECT_EQ(e.numbers, (std::vector<int>{0, 2, 0})) << e.program;
}

TEST_F(versewall_module, init_leaves_programs_the_host_already_holds) {
    cRecordingContext fresh;
    fresh.programs = {"text", "duck"};
    cFakeInput fresh_input(&fresh, &sync);
    scene->init(&fresh_input);
    EXPECT_EQ(fresh.count("load_shader"), 0);
    EXPECT_EQ(fresh.count("load_model"), 1);
}

// ---- the frame ----

TEST_F(versewall_module, frame_clears_to_the_kick_grey_and_starts_a_cleared_full_size_target) {
    sync.values["kick"] = 1.0f;
    frame();
    ASSERT_GE(frame_events.size(), 4u);
    EXPECT_EQ(frame_events[0].op, "set_clear_color");
    EXPECT_FLOAT_EQ(frame_events[0].values[0], 0.575f);
    EXPECT_FLOAT_EQ(frame_events[0].values[1], 0.575f);
    EXPECT_FLOAT_EQ(frame_events[0].values[2], 0.575f);
    EXPECT_EQ(frame_events[0].values[3], 0.5f);
    EXPECT_EQ(frame_events[1].op, "clear");
    EXPECT_EQ(frame_events[1].bound, -1);
    EXPECT_EQ(frame_events[2].op, "acquire");
    EXPECT_EQ(frame_events[2].numbers[1], 1280);
    EXPECT_EQ(frame_events[2].numbers[2], 720);
    EXPECT_EQ(frame_events[3].op, "bind");
    EXPECT_EQ(frame_events[3].numbers, (std::vector<int>{frame_events[2].numbers[0], 1}));
}

TEST_F(versewall_module, frame_gives_every_lease_back_in_reverse_order_within_the_warm_up_sizes) {
    sync.values["numwords"] = 3.0f;
    sync.values["word_t"] = 1.5f;
    sync.values["draw_duck"] = 1.0f;
    for (int i = 0; i < 3; ++i) {
        frame();
        EXPECT_EQ(ctx.outstanding(), 0) << "frame " << i;
    }
    // The most held at once, and so the most ever created, match the pool's warm-up.
    const std::map<std::pair<int, int>, int> expected = {
        {{1280, 720}, 2}, {{640, 360}, 3}, {{320, 180}, 2}, {{160, 90}, 2}};
    EXPECT_EQ(ctx.leased_peak, expected);
    EXPECT_EQ(ctx.created, expected);

    // Acquired: A, B, gA, gB, blur temporary, gC, temporary, gD, temporary, gE.
    const auto acquires = in_frame("acquire");
    ASSERT_EQ(acquires.size(), 10u);
    std::vector<int> a;
    for (const auto& e : acquires) a.push_back(e.numbers[0]);
    std::vector<int> released;
    for (const auto& e : in_frame("release")) released.push_back(e.numbers[0]);
    const std::vector<int> expected_order = {a[4], a[6], a[8], a[9], a[7], a[5], a[3], a[2], a[1], a[0]};
    EXPECT_EQ(released, expected_order);
}

TEST_F(versewall_module, frame_runs_its_passes_in_order_and_leaves_nothing_bound) {
    sync.values["numwords"] = 2.0f;
    sync.values["draw_duck"] = 1.0f;
    frame();
    std::vector<std::string> order;
    for (const auto& e : frame_events) {
        if (e.op != "use_shader") continue;
        if (order.empty() || order.back() != e.program) order.push_back(e.program);
    }
    const std::vector<std::string> expected = {"text",       "modulate_comp", "downsample", "levels",     "dir_blur",
                                               "downsample", "dir_blur",      "downsample", "dir_blur",   "levels",
                                               "add_comp",   "passthrough",   "tunnel",     "duck"};
    EXPECT_EQ(order, expected);
    EXPECT_EQ(ctx.bound, -1);
    EXPECT_EQ(ctx.count("bind"), ctx.count("unbind"));
    EXPECT_TRUE(ctx.stack.empty());
}

TEST_F(versewall_module, frame_keeps_the_words_state_and_restores_every_other_pass) {
    const cRenderState before = ctx.pending;
    ctx.push_state();
    scene->render(&input);
    // The words pass turns depth testing off and additive blending on for the rest of the
    // frame without pushing; everything else it changed is back.
    cRenderState expected = before;
    expected.set_depth_test(false);
    expected.set_blending(true);
    expected.set_blend_color(cRenderState::blend_one, cRenderState::blend_one);
    EXPECT_EQ(ctx.pending, expected) << std::hex << ctx.pending.word[0] << " vs " << expected.word[0];
    EXPECT_EQ(ctx.stack.size(), 1u);
    ctx.pop_state();
    EXPECT_EQ(ctx.pending, before);
}

TEST_F(versewall_module, post_passes_draw_opaque_without_depth_or_culling) {
    frame();
    int draws = 0;
    for (const auto& e : frame_events) {
        if (e.op != "draw_fullscreen_quad_tex" && e.op != "draw_fullscreen_quad_uv2") continue;
        ++draws;
        EXPECT_FALSE(e.state.depth_test());
        EXPECT_FALSE(e.state.depth_write());
        EXPECT_FALSE(e.state.face_culling());
        EXPECT_FALSE(e.state.blending());
    }
    // vignette 1, glow 11 at half size or less plus its composite, passthrough 1
    EXPECT_EQ(draws, 14);

    const auto [a, b] = scene_targets();
    const auto composites = in_frame("draw_fullscreen_quad_uv2");
    ASSERT_EQ(composites.size(), 2u);
    EXPECT_EQ(composites[0].bound, b);                                             // vignette into B
    EXPECT_EQ(composites[0].numbers, (std::vector<int>{640, 360, 1280, 720}));     // vignette over scene
    EXPECT_EQ(composites[1].bound, a);                                             // glow back into A
    EXPECT_EQ(composites[1].numbers, (std::vector<int>{1280, 720, 160, 90}));      // source over glow

    const auto copies = in_frame("draw_fullscreen_quad_tex");
    ASSERT_FALSE(copies.empty());
    EXPECT_EQ(copies.back().bound, -1);  // passthrough lands on the window
    EXPECT_EQ(copies.back().texture->width, 1280);
}

TEST_F(versewall_module, vignette_and_glow_bind_their_images_in_argument_order) {
    frame();
    const cTexture* vignette = ctx.texture("data/textures/vignette01.png");
    ASSERT_NE(vignette, nullptr);
    std::vector<std::string> bindings;
    for (const auto& e : frame_events)
        if (e.op == "set_texture" && e.program.find("_comp") != std::string::npos)
            bindings.push_back(e.program + " " + e.uniform + " " + std::to_string(e.texture->width));
    const std::vector<std::string> expected = {"modulate_comp tex_over 640", "modulate_comp tex_under 1280",
                                               "add_comp tex_over 1280", "add_comp tex_under 160"};
    EXPECT_EQ(bindings, expected);
    EXPECT_EQ(ctx.vectors("modulate_comp", "opasity"), (std::vector<std::vector<float>>{{1, 1, 1, 1}}));
    EXPECT_EQ(ctx.vectors("add_comp", "opasity"), (std::vector<std::vector<float>>{{1, 1, 1, 1}}));

    const auto levels = ctx.vectors("levels", "levels_inout");
    EXPECT_EQ(levels, (std::vector<std::vector<float>>{{32, 255, 0, 255}, {0, 255, 0, 255}}));
    EXPECT_EQ(ctx.vectors("levels", "gamma"), (std::vector<std::vector<float>>{{1.3f, 1.3f, 1.3f, 1.3f}, {1.3f, 1.3f, 1.3f, 1.3f}}));
    EXPECT_EQ(ctx.vectors("dir_blur", "blurdir").size(), 6u);
}

TEST_F(versewall_module, first_frame_loads_post_and_tunnel_resources_once) {
    frame();
    frame();
    std::map<std::string, std::string> shaders;
    for (const auto& e : ctx.of("load_shader")) {
        EXPECT_EQ(shaders.count(e.program), 0u) << e.program << " loaded twice";
        shaders[e.program] = e.uniform + " " + e.extra;
    }
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
    for (const auto& e : ctx.of("load_texture"))
        textures.push_back(e.program + " " + std::to_string(e.numbers[0]) + std::to_string(e.numbers[1]) + std::to_string(e.numbers[2]));
    EXPECT_EQ(textures, (std::vector<std::string>{"data/textures/vignette01.png 024", "data/textures/tunnel.jpg 010"}));
}

TEST_F(versewall_module, tracks_are_read_at_the_music_position) {
    input.now_ms = 5432;
    sync.values["numwords"] = 1.0f;
    sync.values["word_t"] = 0.5f;
    sync.values["draw_duck"] = 1.0f;
    frame();
    ASSERT_FALSE(sync.reads.empty());
    for (const auto& [name, time] : sync.reads) EXPECT_EQ(time, 5432) << name;
    EXPECT_EQ(sync.reads.front().first, "kick");
}

// ---- words ----

TEST_F(versewall_module, words_are_lit_by_textits_and_their_own_tracks) {
    sync.values["numwords"] = 8.0f;
    sync.values["textits"] = 0.5f;
    sync.values["word2its"] = 0.4f;
    sync.values["word0its"] = 1.0f;
    frame();
    const auto colours = ctx.vectors("text", "color");
    ASSERT_EQ(colours.size(), 8u);
    EXPECT_EQ(colours[0], (std::vector<float>{0.5f, 0.5f, 0.5f, 0.5f}));
    EXPECT_EQ(colours[1], (std::vector<float>{0, 0, 0, 0}));
    EXPECT_FLOAT_EQ(colours[2][0], 0.2f);
    EXPECT_EQ(colours[2][0], colours[2][3]);
    EXPECT_EQ(colours[7], (std::vector<float>{0.5f, 0.5f, 0.5f, 0.5f}));

    const auto [a, b] = scene_targets();
    const auto quads = in_frame("draw_indexed_uv");
    ASSERT_EQ(quads.size(), 8u);
    for (const auto& q : quads) {
        EXPECT_EQ(q.bound, a);
        EXPECT_FALSE(q.state.depth_test());
        EXPECT_TRUE(q.state.blending());
        EXPECT_EQ(q.state.src_color(), cRenderState::blend_one);
        EXPECT_EQ(q.state.dst_color(), cRenderState::blend_one);
        EXPECT_EQ(q.numbers, (std::vector<int>{0, 1, 2, 0, 2, 3}));
    }
    // Eight words squeeze into the canvas: 100 apart, the first centred at -350.
    const std::vector<float> first(quads[0].values.begin(), quads[0].values.begin() + 16);
    EXPECT_EQ(first, (std::vector<float>{-400, -50, 0, 1.5f, -300, -50, 0, 1.5f, -300, 50, 0, 1.5f, -400, 50, 0, 1.5f}));
    const std::vector<float> uv(quads[0].values.begin() + 16, quads[0].values.end());
    EXPECT_EQ(uv, (std::vector<float>{0, 0, 1, 0, 1, 1, 0, 1}));
}

TEST_F(versewall_module, words_turn_with_textrot) {
    sync.values["numwords"] = 1.0f;
    sync.values["textrot"] = 30.0f;
    frame();
    const auto matrices = ctx.of("set_matrix");
    ASSERT_FALSE(matrices.empty());
    EXPECT_EQ(matrices[0].program, "text");
    EXPECT_EQ(matrices[0].uniform, "mvp");
    const versewall::mat4 expected = versewall::text_matrix(30.0f);
    EXPECT_EQ(matrices[0].values, std::vector<float>(expected.m, expected.m + 16));
}

TEST_F(versewall_module, umptchi_switches_the_picture_only_above_one_half) {
    sync.values["numwords"] = 1.0f;
    const cTexture* la = ctx.texture("data/textures/la.png");
    const cTexture* umptchi = ctx.texture("data/textures/umptchi.png");
    for (float value : {0.5f, 0.51f}) {
        sync.values["umptchi"] = value;
        frame();
        const cTexture* used = nullptr;
        for (const auto& e : frame_events)
            if (e.op == "set_texture" && e.program == "text") {
                used = e.texture;
                break;
            }
        EXPECT_EQ(used, value > 0.5f ? umptchi : la) << value;
    }
}

TEST_F(versewall_module, no_words_without_numwords_but_a_small_value_still_moves_the_circle) {
    sync.values["word_t"] = 0.5f;
    frame();
    EXPECT_TRUE(in_frame("draw_indexed_uv").empty());

    sync.values["numwords"] = 0.3f;
    frame();
    // No word; the circle crosses from far left to far right: at its middle, above the centre.
    const auto quads = in_frame("draw_indexed_uv");
    ASSERT_EQ(quads.size(), 20u);
    EXPECT_EQ(quads[0].values[0], -25.0f);  // the trail starts at the canvas centre
    EXPECT_EQ(quads[0].values[1], -25.0f);
}

// ---- circle ----

TEST_F(versewall_module, circle_trails_from_the_centre_then_jumps_as_one_white_disc) {
    sync.values["numwords"] = 3.0f;
    sync.values["word_t"] = 1.5f;
    frame();
    auto quads = in_frame("draw_indexed_uv");
    ASSERT_EQ(quads.size(), 3u + 20u);
    const versewall::vec4 first_stop = versewall::circle_position(versewall::layout_words(3.0f), 1.5f, 0.0f);
    const versewall::cTrail trail = versewall::make_trail({0, 0, 0, 1}, first_stop, 20.0f);
    const auto colours = ctx.vectors("text", "color");
    for (int i = 0; i < 20; ++i) {
        const auto& q = quads[3 + static_cast<size_t>(i)];
        EXPECT_EQ(q.stack_depth, 2) << "trail quads are drawn under a pushed state";
        EXPECT_EQ(q.values[0], trail.centres[i].x - 25.0f) << i;
        EXPECT_EQ(q.values[1], trail.centres[i].y - 25.0f) << i;
        const auto& c = colours[3 + static_cast<size_t>(i)];
        EXPECT_EQ(c, (std::vector<float>{trail.colours[i].x, trail.colours[i].y, trail.colours[i].z, 1.0f})) << i;
    }

    // A frame without circle changes nothing; then a long way off, one white disc.
    sync.values["word_t"] = 0.0f;
    frame();
    EXPECT_EQ(in_frame("draw_indexed_uv").size(), 3u);
    sync.values["word_t"] = 3.5f;
    frame();
    quads = in_frame("draw_indexed_uv");
    ASSERT_EQ(quads.size(), 4u);
    const versewall::vec4 jump = versewall::circle_position(versewall::layout_words(3.0f), 3.5f, 0.0f);
    EXPECT_EQ(quads[3].values[0], jump.x - 25.0f);
    EXPECT_EQ(quads[3].values[1], jump.y - 25.0f);
    EXPECT_EQ(ctx.vectors("text", "color").back(), (std::vector<float>{1, 1, 1, 1}));

    // A short move from there draws a trail again.
    sync.values["word_t"] = 3.6f;
    frame();
    EXPECT_EQ(in_frame("draw_indexed_uv").size(), 3u + 20u);
}

// ---- tunnel ----

TEST_F(versewall_module, tunnel_is_added_with_its_uniforms_from_the_tracks) {
    input.now_ms = 1234;
    sync.values["tunnel"] = 0.7f;
    sync.values["tunnel_twist"] = 0.3f;
    sync.values["tunnel_ofs"] = 0.5f;
    frame();
    EXPECT_EQ(ctx.vectors("tunnel", "time"), (std::vector<std::vector<float>>{{1.234f, 1.234f, 1.234f, 1.234f}}));
    EXPECT_EQ(ctx.vectors("tunnel", "opasity"), (std::vector<std::vector<float>>{{0.7f, 0.7f, 0.7f, 0.7f}}));
    EXPECT_EQ(ctx.vectors("tunnel", "twist"), (std::vector<std::vector<float>>{{0.3f, 0.3f, 0.3f, 0.3f}}));
    EXPECT_EQ(ctx.vectors("tunnel", "ofs"), (std::vector<std::vector<float>>{{1.25f, 1.25f, 1.25f, 1.25f}}));

    const auto quads = in_frame("draw_fullscreen_quad");
    ASSERT_EQ(quads.size(), 1u);
    const cRenderState s = quads[0].state;
    EXPECT_EQ(quads[0].bound, -1);
    EXPECT_FALSE(s.depth_test());
    EXPECT_FALSE(s.depth_write());
    EXPECT_TRUE(s.blending());
    EXPECT_EQ(s.src_color(), cRenderState::blend_one);
    EXPECT_EQ(s.dst_color(), cRenderState::blend_one);
    EXPECT_EQ(s.src_alpha(), cRenderState::blend_one);   // alpha factors as the host left them
    EXPECT_EQ(s.dst_alpha(), cRenderState::blend_zero);
    EXPECT_TRUE(s.face_culling());

    std::vector<std::string> names;
    for (const auto& [name, time] : sync.reads) names.push_back(name);
    const auto at = std::find(names.begin(), names.end(), "tunnel");
    ASSERT_NE(at, names.end());
    ASSERT_LE(at + 3, names.end());
    EXPECT_EQ(std::vector<std::string>(at, at + 3), (std::vector<std::string>{"tunnel", "tunnel_twist", "tunnel_ofs"}));
}

// ---- duck ----

TEST_F(versewall_module, duck_is_drawn_from_one_half_with_the_rest_pose_matrices) {
    sync.values["draw_duck"] = 0.49f;
    frame();
    EXPECT_TRUE(in_frame("model.draw").empty());
    for (const auto& e : in_frame("use_shader")) EXPECT_NE(e.program, "duck");

    sync.values["draw_duck"] = 0.5f;
    frame();
    const auto draws = in_frame("model.draw");
    ASSERT_EQ(draws.size(), 1u);
    const cRenderState s = draws[0].state;
    EXPECT_TRUE(s.depth_test());
    EXPECT_TRUE(s.depth_write());
    EXPECT_FALSE(s.blending());
    EXPECT_TRUE(s.face_culling());
    EXPECT_EQ(draws[0].bound, -1);

    std::map<std::string, std::vector<float>> matrices;
    for (const auto& e : frame_events)
        if (e.op == "set_matrix" && e.program == "duck") matrices[e.uniform] = e.values;
    EXPECT_EQ(matrices["modelmat_IT"], translation(0, -1, 0));
    EXPECT_EQ(matrices["ws_to_vs"], translation(0, 0, -7));
    versewall::cCamera camera = versewall::duck_camera(ctx.viewport_values);
    const versewall::mat4 mvp = versewall::multiply(versewall::duck_model_matrix(0, 0, 0), camera.view_projection());
    EXPECT_EQ(matrices["mvp"], std::vector<float>(mvp.m, mvp.m + 16));
}

TEST(versewall_duck, a_refused_model_skips_the_pass) {
    cLoadedModule module;
    ASSERT_TRUE(module.loaded());
    cRecordingContext ctx;
    ctx.give_model = false;
    cFakeSync sync;
    sync.values["draw_duck"] = 1.0f;
    cFakeInput input(&ctx, &sync);
    cRenderModuleBase* scene = module.create();
    scene->init(&input);
    scene->render(&input);
    EXPECT_EQ(ctx.count("model.draw"), 0);
    for (const auto& e : ctx.of("use_shader")) EXPECT_NE(e.program, "duck");
    EXPECT_TRUE(ctx.stack.empty());
    module.destroy(&scene);
}
