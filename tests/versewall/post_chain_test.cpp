// The post-processing passes on their own, against a recording graphics context: composite
// programs and their refusal of modes without a program, the in-place blur, and the render
// state and bindings each primitive pass leaves behind.
#include <gtest/gtest.h>

#include <string>

#include "post_chain.h"
#include "recording_context.h"
#include "support/capture_stream.h"

using namespace versewall;
using namespace versewall_test;

namespace {

// The passes keep what they loaded (programs, the vignette image) for the life of the
// library, as in the show, where the host's context outlives them. So all tests share one.
cRecordingContext& shared_context() {
    static cRecordingContext context;
    return context;
}

class post_chain : public ::testing::Test {
protected:
    void SetUp() override {
        ctx.events.clear();
        ctx.stack.clear();
        ctx.pending = cRecordingContext().pending;
        ASSERT_EQ(ctx.outstanding(), 0);
    }
    cRecordingContext& ctx = shared_context();
    cTexture over{gl_texture_rectangle, 7, 1280, 720};
    cTexture under{gl_texture_rectangle, 8, 320, 180};
};

}  // namespace

TEST_F(post_chain, composite_modes_one_and_four_bind_over_and_under_as_given) {
    const cRenderTargetLease dst = ctx.acquire_render_target(1280, 720);
    for (int mode : {1, 4}) {
        ctx.events.clear();
        post_comp(ctx, &over, &under, dst, mode, 0.25f);
        const std::string program = mode == 1 ? "add_comp" : "modulate_comp";
        const auto textures = ctx.of("set_texture");
        ASSERT_EQ(textures.size(), 2u);
        EXPECT_EQ(textures[0].program, program);
        EXPECT_EQ(textures[0].uniform, "tex_over");
        EXPECT_EQ(textures[0].texture, &over);
        EXPECT_EQ(textures[1].uniform, "tex_under");
        EXPECT_EQ(textures[1].texture, &under);
        EXPECT_EQ(ctx.vectors(program, "opasity"), (std::vector<std::vector<float>>{{0.25f, 0.25f, 0.25f, 0.25f}}));
        const auto draws = ctx.of("draw_fullscreen_quad_uv2");
        ASSERT_EQ(draws.size(), 1u);
        EXPECT_EQ(draws[0].numbers, (std::vector<int>{1280, 720, 320, 180}));
        EXPECT_EQ(draws[0].bound, static_cast<cFakeTarget*>(dst.target)->id());
    }
}

TEST_F(post_chain, composite_modes_without_a_program_are_refused_with_one_error_line) {
    const cRenderTargetLease dst = ctx.acquire_render_target(1280, 720);
    post_comp(ctx, &over, &under, dst, 1, 1.0f);  // the first call loads the two programs
    for (int mode : {0, 2, 3, 5, -1}) {
        ctx.events.clear();
        cCaptureStream err(STDERR_FILENO);
        post_comp(ctx, &over, &under, dst, mode, 1.0f);
        const std::string text = err.stop();
        EXPECT_EQ(text.rfind("## ERROR: post_comp: composite mode " + std::to_string(mode), 0), 0u) << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
        EXPECT_TRUE(ctx.events.empty()) << "mode " << mode << " reached the context with " << ctx.events.front().op;
    }
    cCaptureStream err(STDERR_FILENO);
    post_comp(ctx, &over, &under, dst, 2, 1.0f);
    EXPECT_NE(err.stop().find("\"screen_comp\""), std::string::npos);
}

TEST_F(post_chain, blur_in_place_reads_its_own_target_only_in_the_first_direction) {
    const cRenderTargetLease dst = ctx.acquire_render_target(320, 180);
    const int dst_id = static_cast<cFakeTarget*>(dst.target)->id();
    const cTexture* own = dst.target->texture();
    ctx.events.clear();
    post_dir_blur(ctx, own, dst);

    const auto draws = ctx.of("draw_fullscreen_quad_tex");
    ASSERT_EQ(draws.size(), 2u);
    EXPECT_NE(draws[0].bound, dst_id) << "the first direction must not write what it reads";
    EXPECT_EQ(draws[0].texture, own);
    EXPECT_EQ(draws[1].bound, dst_id);
    EXPECT_NE(draws[1].texture, own);
    EXPECT_EQ(draws[1].texture->width, 320);
    EXPECT_EQ(ctx.vectors("dir_blur", "blurdir"), (std::vector<std::vector<float>>{{1, 0, 0, 0}, {0, 1, 0, 0}}));

    // The temporary goes back after the state is popped, and nothing stays leased.
    std::vector<std::string> tail;
    for (const auto& e : ctx.events)
        if (e.op == "pop_state" || e.op == "release") tail.push_back(e.op);
    EXPECT_EQ(tail, (std::vector<std::string>{"pop_state", "release"}));
    EXPECT_EQ(ctx.outstanding(), 1);  // dst only
}

TEST_F(post_chain, every_primitive_pass_restores_the_state_and_unbinds) {
    const cRenderTargetLease src = ctx.acquire_render_target(640, 360);
    const cRenderTargetLease dst = ctx.acquire_render_target(640, 360);
    cRenderState custom = ctx.pending;
    custom.set_fill_mode(cRenderState::fill_line);
    custom.set_blend_color(cRenderState::blend_src_color, cRenderState::blend_zero);
    ctx.pending = custom;

    post_passthrough(ctx, src.target->texture());
    post_downsample(ctx, src.target->texture(), dst);
    post_dir_blur(ctx, src.target->texture(), dst);
    post_levels(ctx, src, dst, {32, 255, 1.3f, 0, 255});
    post_comp(ctx, &over, &under, dst, 1, 1.0f);
    post_vignette(ctx, &under, dst, 0.5f);
    post_glow(ctx, src.target->texture(), dst);

    EXPECT_EQ(ctx.pending, custom);
    EXPECT_TRUE(ctx.stack.empty());
    EXPECT_EQ(ctx.bound, -1);
    EXPECT_EQ(ctx.outstanding(), 2);
    for (const auto& e : ctx.events) {
        if (e.op.rfind("draw_", 0) != 0) continue;
        EXPECT_FALSE(e.state.blending()) << e.op;
        EXPECT_FALSE(e.state.depth_test()) << e.op;
        EXPECT_EQ(e.state.fill(), cRenderState::fill_line) << "fill mode is not the passes' business";
    }
    // The passthrough drew where it was called: on the window.
    EXPECT_EQ(ctx.of("draw_fullscreen_quad_tex").front().bound, -1);
}

TEST_F(post_chain, vignette_image_is_kept_and_spans_its_own_size) {
    const cRenderTargetLease dst = ctx.acquire_render_target(1280, 720);
    post_vignette(ctx, &over, dst, 1.0f);
    post_vignette(ctx, &over, dst, 1.0f);
    const cTexture* vignette = ctx.texture("data/textures/vignette01.png");
    ASSERT_NE(vignette, nullptr);
    EXPECT_LE(ctx.count("load_texture"), 1);  // none when an earlier test ran the vignette
    EXPECT_EQ(ctx.of("set_texture").front().texture, vignette);
    // Its coordinates span its own size, whatever the scene's.
    for (const auto& draw : ctx.of("draw_fullscreen_quad_uv2")) EXPECT_EQ(draw.numbers, (std::vector<int>{640, 360, 1280, 720}));
}
