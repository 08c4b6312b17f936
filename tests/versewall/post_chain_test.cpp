// The post-processing passes on their own, on the host's real graphics context seen through the
// observing wrapper: composite programs and their refusal of modes without a program, the
// in-place blur (its calls and its pixels), and the render state and bindings each pass leaves.
#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "support/observing_context.h"
#include "modules/versewall/post_chain.h"
#include "versewall_stage.h"

using namespace versewall;
using namespace versewall_test;

namespace {

// The passes keep what they loaded (programs, the vignette image) for the life of the library,
// and the host's context outlives them, as in the show. So every test shares one context.
cObservingContext& shared_context() {
    static cObservingContext* context = [] {
        cCaptureStream out(STDOUT_FILENO);
        auto* host = new gfxContext();  // kept to the end of the process, as the host keeps its own
        host->init(&cVersewallStage::window());
        return new cObservingContext(*host);
    }();
    return *context;
}

std::vector<float> four(float v) { return {v, v, v, v}; }

// The pixels of a target, read back with GL.
std::vector<unsigned char> pixels_of(const cRenderTargetLease& lease) {
    const cTexture* t = lease.target->texture();
    std::vector<unsigned char> p(static_cast<size_t>(t->width) * t->height * 4);
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(framebuffer_of(lease.target)));
    glReadPixels(0, 0, t->width, t->height, GL_RGBA, GL_UNSIGNED_BYTE, p.data());
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    return p;
}

class post_chain : public ::testing::Test {
protected:
    void SetUp() override {
        ctx.calls.clear();
        ASSERT_EQ(ctx.outstanding(), 2) << "a lease of an earlier test is still out";
        ASSERT_EQ(ctx.real().render_state().depth(), 0u);
    }
    cObservingContext& ctx = shared_context();
    cRenderTargetLease over_lease = ctx.acquire_render_target(1280, 720);
    cRenderTargetLease under_lease = ctx.acquire_render_target(320, 180);
    const cTexture* over = over_lease.target->texture();
    const cTexture* under = under_lease.target->texture();
};

}  // namespace

TEST_F(post_chain, composite_modes_one_and_four_bind_over_and_under_as_given) {
    const cRenderTargetLease dst = ctx.acquire_render_target(1280, 720);
    for (int mode : {1, 4}) {
        ctx.calls.clear();
        post_comp(ctx, over, under, dst, mode, 0.25f);
        const std::string program = mode == 1 ? "add_comp" : "modulate_comp";
        const auto textures = ctx.of("set_texture");
        ASSERT_EQ(textures.size(), 2u);
        EXPECT_EQ(textures[0].name + " " + textures[0].uniform, program + " tex_over");
        EXPECT_EQ(textures[0].object, over);
        EXPECT_EQ(textures[1].uniform, "tex_under");
        EXPECT_EQ(textures[1].object, under);
        EXPECT_EQ(ctx.vectors(program, "opasity"), (std::vector<std::vector<float>>{four(0.25f)}));
        const auto draws = ctx.of("draw_fullscreen_quad_uv2");
        ASSERT_EQ(draws.size(), 1u);
        EXPECT_EQ(draws[0].numbers, (std::vector<int>{1280, 720, 320, 180}));
        EXPECT_EQ(draws[0].framebuffer, framebuffer_of(dst.target));
    }
}

TEST_F(post_chain, composite_modes_without_a_program_are_refused_with_one_error_line) {
    const cRenderTargetLease dst = ctx.acquire_render_target(1280, 720);
    post_comp(ctx, over, under, dst, 1, 1.0f);  // the first call loads the two programs
    for (int mode : {0, 2, 3, 5, -1}) {
        ctx.calls.clear();
        cCaptureStream err(STDERR_FILENO);
        post_comp(ctx, over, under, dst, mode, 1.0f);
        const std::string text = err.stop();
        EXPECT_EQ(text.rfind("## ERROR: post_comp: composite mode " + std::to_string(mode), 0), 0u) << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
        EXPECT_TRUE(ctx.calls.empty()) << "mode " << mode << " reached the context with " << ctx.calls.front().op;
        if (mode == 2) {
            EXPECT_NE(text.find("\"screen_comp\""), std::string::npos) << text;
        }
    }
}

TEST_F(post_chain, blur_in_place_reads_its_own_target_only_in_the_first_direction) {
    const cRenderTargetLease dst = ctx.acquire_render_target(320, 180);
    const int dst_fb = framebuffer_of(dst.target);
    const cTexture* own = dst.target->texture();
    ctx.calls.clear();
    post_dir_blur(ctx, own, dst);

    const auto draws = ctx.of("draw_fullscreen_quad_tex");
    ASSERT_EQ(draws.size(), 2u);
    EXPECT_NE(draws[0].framebuffer, dst_fb) << "the first direction must not write what it reads";
    EXPECT_EQ(draws[0].object, own);
    EXPECT_EQ(draws[1].framebuffer, dst_fb);
    EXPECT_NE(draws[1].object, own);
    EXPECT_EQ(static_cast<const cTexture*>(draws[1].object)->width, 320);
    EXPECT_EQ(ctx.vectors("dir_blur", "blurdir"), (std::vector<std::vector<float>>{{1, 0, 0, 0}, {0, 1, 0, 0}}));

    // The temporary goes back after the state is popped, and nothing else stays leased.
    std::vector<std::string> tail;
    for (const auto& c : ctx.calls)
        if (c.op == "pop_state" || c.op == "release") tail.push_back(c.op);
    EXPECT_EQ(tail, (std::vector<std::string>{"pop_state", "release"}));
    EXPECT_EQ(ctx.outstanding(), 3);  // over, under, dst
}

TEST_F(post_chain, blur_in_place_gives_the_picture_of_a_blur_from_a_separate_source) {
    cCaptureStream out(STDOUT_FILENO);  // more quarter-size targets than the warm-up made
    // Two targets with the same picture: a bright block on black, copied from one to the other.
    const cRenderTargetLease first = ctx.acquire_render_target(320, 180);
    const cRenderTargetLease second = ctx.acquire_render_target(320, 180);
    const cRenderTargetLease separate = ctx.acquire_render_target(320, 180);
    first.target->bind(ctx, 0);
    ctx.set_clear_color(0, 0, 0, 1);
    ctx.clear();
    glEnable(GL_SCISSOR_TEST);
    glScissor(150, 80, 12, 9);
    ctx.set_clear_color(1, 0.5f, 0.25f, 1);
    ctx.clear();
    glDisable(GL_SCISSOR_TEST);
    first.target->unbind(ctx);
    second.target->bind(ctx, 0);
    post_passthrough(ctx, first.target->texture());
    second.target->unbind(ctx);
    ASSERT_EQ(pixels_of(first), pixels_of(second));

    post_dir_blur(ctx, first.target->texture(), separate);
    post_dir_blur(ctx, second.target->texture(), second);
    const auto blurred = pixels_of(separate);
    EXPECT_EQ(pixels_of(second), blurred);
    EXPECT_NE(pixels_of(first), blurred) << "the blur changed nothing";
}

TEST_F(post_chain, every_primitive_pass_restores_the_state_and_unbinds) {
    const cRenderTargetLease src = ctx.acquire_render_target(640, 360);
    const cRenderTargetLease dst = ctx.acquire_render_target(640, 360);
    cRenderState* pending = ctx.state();
    const cRenderState before = *pending;
    pending->set_fill_mode(cRenderState::fill_line);
    pending->set_blend_color(cRenderState::blend_src_color, cRenderState::blend_zero);
    const cRenderState custom = *pending;

    cCaptureStream out(STDOUT_FILENO);  // the glow leases more half-size targets than the warm-up made
    post_passthrough(ctx, src.target->texture());
    post_downsample(ctx, src.target->texture(), dst);
    post_dir_blur(ctx, src.target->texture(), dst);
    post_levels(ctx, src, dst, {32, 255, 1.3f, 0, 255});
    post_comp(ctx, over, under, dst, 1, 1.0f);
    post_vignette(ctx, under, dst, 0.5f);
    post_glow(ctx, src.target->texture(), dst);

    EXPECT_EQ(*ctx.state(), custom);
    EXPECT_EQ(ctx.real().render_state().depth(), 0u);
    EXPECT_EQ(bound_framebuffer(), 0);
    EXPECT_EQ(ctx.outstanding(), 4);
    for (const auto& c : ctx.calls) {
        if (c.op.rfind("draw_", 0) != 0) continue;
        EXPECT_FALSE(c.state.blending()) << c.op;
        EXPECT_FALSE(c.state.depth_test()) << c.op;
        EXPECT_EQ(c.state.fill(), cRenderState::fill_line) << "fill mode is not the passes' business";
    }
    EXPECT_EQ(ctx.of("draw_fullscreen_quad_tex").front().framebuffer, 0) << "the passthrough draws where it is called";
    *pending = before;
}

TEST_F(post_chain, the_glow_blur_reaches_as_far_over_the_picture_at_any_render_size) {
    // At the show's 1280 x 720 the blur steps one unit; a 1920 x 1080 picture (a capture at
    // that size) steps 1.5 texels, so the glow covers the same part of the picture.
    cCaptureStream out(STDOUT_FILENO);  // more targets than the warm-up made
    for (const auto& [width, height, reach] : {std::tuple{1280, 720, 1.0f}, std::tuple{1920, 1080, 1.5f}}) {
        const cRenderTargetLease src = ctx.acquire_render_target(width, height);
        const cRenderTargetLease dst = ctx.acquire_render_target(width, height);
        ctx.calls.clear();
        post_glow(ctx, src.target->texture(), dst);
        const std::vector<std::vector<float>> one = {{reach, 0, 0, 0}, {0, reach, 0, 0}};
        std::vector<std::vector<float>> expected;
        for (int level = 0; level < 3; ++level) expected.insert(expected.end(), one.begin(), one.end());
        EXPECT_EQ(ctx.vectors("dir_blur", "blurdir"), expected) << width << "x" << height;
    }
}

TEST_F(post_chain, vignette_image_is_kept_and_spans_its_own_size) {
    const cRenderTargetLease dst = ctx.acquire_render_target(1280, 720);
    post_vignette(ctx, over, dst, 1.0f);
    post_vignette(ctx, over, dst, 1.0f);
    const cTexture* vignette = ctx.real().textures().find("data/textures/vignette01.png");
    ASSERT_NE(vignette, nullptr);
    EXPECT_LE(ctx.of("load_texture").size(), 1u);  // none when an earlier test ran the vignette
    EXPECT_EQ(ctx.of("set_texture").front().object, vignette);
    // Its coordinates span its own size, whatever the scene's.
    for (const auto& draw : ctx.of("draw_fullscreen_quad_uv2")) EXPECT_EQ(draw.numbers, (std::vector<int>{640, 360, 1280, 720}));
}
