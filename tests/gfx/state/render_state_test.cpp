// The render state on a real context: what start-up leaves in GL, which calls an apply makes
// and in which order, every entry of the code tables, the exceptions of bad codes, and the
// push/pop stack.
#include <stdexcept>

#include "gfx/gl_stage.h"
#include "support/capture_stream.h"

namespace {

using RenderState = GfxTest;

std::string message_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "(nothing thrown)";
}

TEST_F(RenderState, start_up_leaves_the_documented_words_and_gl_agrees) {
    const cRenderState& pending = *ctx->state();
    EXPECT_EQ(pending.word[0], 0x01541983u);
    EXPECT_EQ(pending.word[1], 0x0000000Fu);
    EXPECT_EQ(ctx->render_state().applied(), pending);

    EXPECT_TRUE(gl_enabled(GL_DEPTH_TEST));
    EXPECT_EQ(gl_int(GL_DEPTH_WRITEMASK), GL_TRUE);
    EXPECT_EQ(gl_int(GL_DEPTH_FUNC), GL_LESS);
    GLint fill[2] = {0, 0};
    glGetIntegerv(GL_POLYGON_MODE, fill);
    EXPECT_EQ(fill[0], GL_FILL);
    EXPECT_EQ(fill[1], GL_FILL);
    EXPECT_EQ(gl_int(GL_CULL_FACE_MODE), GL_BACK);
    EXPECT_TRUE(gl_enabled(GL_CULL_FACE));
    EXPECT_EQ(gl_int(GL_FRONT_FACE), GL_CCW);
    EXPECT_FALSE(gl_enabled(GL_MULTISAMPLE));
    EXPECT_FALSE(gl_enabled(GL_ALPHA_TEST));
    EXPECT_TRUE(gl_enabled(GL_BLEND));
    EXPECT_EQ(gl_int(GL_BLEND_SRC_RGB), GL_SRC_ALPHA);
    EXPECT_EQ(gl_int(GL_BLEND_DST_RGB), GL_ONE_MINUS_SRC_ALPHA);
    EXPECT_EQ(gl_int(GL_BLEND_SRC_ALPHA), GL_ONE);
    EXPECT_EQ(gl_int(GL_BLEND_DST_ALPHA), GL_ZERO);

    // The fixed settings sent once.
    EXPECT_EQ(gl_int(GL_ALPHA_TEST_FUNC), GL_ALWAYS);
    EXPECT_EQ(gl_int(GL_SHADE_MODEL), GL_SMOOTH);
    EXPECT_EQ(gl_int(GL_LINE_SMOOTH_HINT), GL_NICEST);
    EXPECT_TRUE(gl_enabled(GL_LINE_SMOOTH));
    EXPECT_TRUE(gl_enabled(GL_POINT_SMOOTH));
    EXPECT_TRUE(gl_enabled(GL_COLOR_SUM));
    EXPECT_FALSE(gl_enabled(GL_LIGHTING));
    EXPECT_EQ(gl_int(GL_LIGHT_MODEL_LOCAL_VIEWER), 1);
    EXPECT_EQ(gl_int(GL_LIGHT_MODEL_COLOR_CONTROL), GL_SEPARATE_SPECULAR_COLOR);
    EXPECT_EQ(gl_int(GL_ACTIVE_TEXTURE), GL_TEXTURE0);
    // init replaces the start-up clear colour.
    GLfloat clear_colour[4] = {1, 1, 1, 1};
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear_colour);
    EXPECT_EQ(clear_colour[0] + clear_colour[1] + clear_colour[2] + clear_colour[3], 0.0f);
}

TEST_F(RenderState, apply_sends_nothing_that_did_not_change) {
    cGLRecorder gl;
    ctx->apply_state();
    EXPECT_TRUE(gl.calls().empty()) << "right after start-up";

    // Off and on again before the apply: the word is back where it was.
    ctx->state()->set_blending(false);
    ctx->state()->set_blending(true);
    ctx->apply_state();
    EXPECT_TRUE(gl.calls().empty());

    // Reserved bits and the mask word never reach GL.
    ctx->state()->word[0] |= 0xE000u;
    ctx->state()->word[1] = 0xFFFFFFFFu;
    ctx->apply_state();
    EXPECT_TRUE(gl.calls().empty());
    EXPECT_EQ(ctx->render_state().applied().word[1], 0xFFFFFFFFu);
}

TEST_F(RenderState, one_blend_factor_change_is_one_call_with_all_four_factors) {
    cGLRecorder gl;
    ctx->state()->set_field(cRenderState::src_color_shift, 0xF, cRenderState::blend_one);
    ctx->apply_state();
    ASSERT_EQ(gl.names(), std::vector<std::string>{"glBlendFuncSeparate"});
    EXPECT_EQ(gl.calls()[0].ints, (std::vector<int64_t>{GL_ONE, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ZERO}));
    gl.clear();
    ctx->apply_state();
    EXPECT_TRUE(gl.calls().empty()) << "the change was remembered";
}

TEST_F(RenderState, every_field_goes_out_in_the_fixed_order) {
    cRenderState& s = *ctx->state();
    s.set_depth_test(false);
    s.set_depth_write(false);
    s.set_depth_func(cRenderState::depth_lequal);
    s.set_fill_mode(cRenderState::fill_line);
    s.set_cull_back(false);
    s.set_face_culling(false);
    s.set_front_ccw(false);
    s.set_multisample(true);
    s.set_alpha_test(true);
    s.set_blending(false);
    s.set_blend_color(cRenderState::blend_dst_alpha, cRenderState::blend_one_minus_dst_alpha);
    s.set_blend_alpha(cRenderState::blend_src_color, cRenderState::blend_one_minus_src_color);

    cGLRecorder gl;
    ctx->apply_state();
    const std::vector<std::pair<std::string, std::vector<int64_t>>> expected = {
        {"glDisable", {GL_DEPTH_TEST}},
        {"glDepthMask", {GL_FALSE}},
        {"glDepthFunc", {GL_LEQUAL}},
        {"glPolygonMode", {GL_FRONT_AND_BACK, GL_LINE}},
        {"glCullFace", {GL_FRONT}},
        {"glDisable", {GL_CULL_FACE}},
        {"glFrontFace", {GL_CW}},
        {"glEnable", {GL_MULTISAMPLE}},
        {"glEnable", {GL_ALPHA_TEST}},
        {"glDisable", {GL_BLEND}},
        {"glBlendFuncSeparate", {GL_DST_ALPHA, GL_ONE_MINUS_DST_ALPHA, GL_SRC_COLOR, GL_ONE_MINUS_SRC_COLOR}},
    };
    ASSERT_EQ(gl.calls().size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(gl.calls()[i].name, expected[i].first) << "call " << i;
        EXPECT_EQ(gl.calls()[i].ints, expected[i].second) << "call " << i << " " << expected[i].first;
    }
    EXPECT_EQ(gl_int(GL_DEPTH_FUNC), GL_LEQUAL);
    EXPECT_EQ(gl_int(GL_FRONT_FACE), GL_CW);
}

// Every entry of the three code tables, stored by its number at the documented bit position
// (a module compiled on its own writes them so), must reach GL as the function or mode that
// the table names. Numbers and names here are the documented tables, not the code's.
TEST_F(RenderState, every_code_of_the_depth_fill_and_blend_tables_reaches_gl_as_documented) {
    auto store = [&](uint32_t shift, uint32_t mask, uint32_t code) {
        cRenderState& s = *ctx->state();
        s.word[0] = (s.word[0] & ~(mask << shift)) | (code << shift);
        ctx->apply_state();
    };
    const GLenum depth_functions[] = {GL_LESS, GL_LEQUAL, GL_GREATER, GL_EQUAL, GL_GEQUAL};
    for (uint32_t code = 0; code < 5; ++code) {
        store(2, 0x7, code);  // bits 2-4
        EXPECT_EQ(gl_int(GL_DEPTH_FUNC), static_cast<GLint>(depth_functions[code])) << "depth code " << code;
    }
    const GLenum fill_modes[] = {GL_FILL, GL_POINT, GL_LINE};
    for (uint32_t code = 0; code < 3; ++code) {
        store(5, 0x3, code);  // bits 5-6, front and back alike
        GLint fill[2] = {0, 0};
        glGetIntegerv(GL_POLYGON_MODE, fill);
        EXPECT_EQ(fill[0], static_cast<GLint>(fill_modes[code])) << "fill code " << code;
        EXPECT_EQ(fill[1], static_cast<GLint>(fill_modes[code])) << "fill code " << code;
    }
    const GLenum factors[] = {GL_ZERO,      GL_ONE,           GL_SRC_COLOR, GL_ONE_MINUS_SRC_COLOR,
                              GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_DST_ALPHA, GL_ONE_MINUS_DST_ALPHA};
    for (uint32_t code = 0; code < 8; ++code) {
        // A different code in each of the four fields, so a swapped field shows too.
        store(16, 0xF, code);            // bits 16-19: source colour
        store(20, 0xF, (code + 1) % 8);  // bits 20-23: destination colour
        store(24, 0xF, (code + 2) % 8);  // bits 24-27: source alpha
        store(28, 0xF, (code + 3) % 8);  // bits 28-31: destination alpha
        EXPECT_EQ(gl_int(GL_BLEND_SRC_RGB), static_cast<GLint>(factors[code])) << "blend code " << code;
        EXPECT_EQ(gl_int(GL_BLEND_DST_RGB), static_cast<GLint>(factors[(code + 1) % 8])) << "blend code " << code;
        EXPECT_EQ(gl_int(GL_BLEND_SRC_ALPHA), static_cast<GLint>(factors[(code + 2) % 8])) << "blend code " << code;
        EXPECT_EQ(gl_int(GL_BLEND_DST_ALPHA), static_cast<GLint>(factors[(code + 3) % 8])) << "blend code " << code;
    }

    // The contract's names for the codes, which modules compile against.
    EXPECT_EQ((std::vector<uint32_t>{cRenderState::depth_less, cRenderState::depth_lequal, cRenderState::depth_greater,
                                     cRenderState::depth_equal, cRenderState::depth_gequal}),
              (std::vector<uint32_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ((std::vector<uint32_t>{cRenderState::fill_fill, cRenderState::fill_point, cRenderState::fill_line}),
              (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_EQ((std::vector<uint32_t>{cRenderState::blend_zero, cRenderState::blend_one, cRenderState::blend_src_color,
                                     cRenderState::blend_one_minus_src_color, cRenderState::blend_src_alpha,
                                     cRenderState::blend_one_minus_src_alpha, cRenderState::blend_dst_alpha,
                                     cRenderState::blend_one_minus_dst_alpha}),
              (std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 6, 7}));
}

struct cBadCode {
    const char* message;
    void (*store)(cRenderState&);
    const char* last_call_before;  // the field sent just before the bad one
};

class RenderStateBadCode : public GfxTest, public ::testing::WithParamInterface<cBadCode> {};

TEST_P(RenderStateBadCode, raises_at_the_next_apply_after_the_earlier_fields_went_out) {
    const cRenderState before = ctx->render_state().applied();
    // An earlier field changes too, so it must have been sent when the bad one is met.
    ctx->state()->set_depth_test(false);
    GetParam().store(*ctx->state());

    cGLRecorder gl;
    EXPECT_EQ(message_of([&] { ctx->apply_state(); }), GetParam().message);
    ASSERT_FALSE(gl.calls().empty());
    EXPECT_EQ(gl.calls().front().name, "glDisable");
    EXPECT_EQ(gl.calls().back().name, GetParam().last_call_before);
    EXPECT_EQ(ctx->render_state().applied(), before) << "applied must not move";
    EXPECT_FALSE(gl_enabled(GL_DEPTH_TEST)) << "the call made before the bad field stands";

    // Through a draw, as a module meets it: the same exception again.
    const float triangle[12] = {-1, -1, 0, 1, 1, -1, 0, 1, 0, 1, 0, 1};
    EXPECT_EQ(message_of([&] { ctx->draw_triangles(triangle, 3); }), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, RenderStateBadCode,
    ::testing::Values(
        cBadCode{"unknown depth state", [](cRenderState& s) { s.set_depth_func(5); }, "glDisable"},
        cBadCode{"unknown polygon fill mode", [](cRenderState& s) { s.set_fill_mode(3); }, "glDisable"},
        cBadCode{"unknown blendmode",
                 [](cRenderState& s) {
                     s.set_blending(false);
                     s.set_field(cRenderState::dst_alpha_shift, 0xF, 9);
                 },
                 "glDisable"}),
    [](const auto& info) { return std::string(info.param.message).substr(8, 5); });

TEST_F(RenderState, a_module_bracketed_by_push_and_pop_changes_gl_only_while_it_runs) {
    const float triangle[12] = {-1, -1, 0, 1, 1, -1, 0, 1, 0, 1, 0, 1};
    cGLRecorder gl;
    ctx->push_state();
    ctx->state()->set_fill_mode(cRenderState::fill_line);
    ctx->draw_triangles(triangle, 3);
    ctx->pop_state();
    ctx->draw_triangles(triangle, 3);
    const auto modes = gl.of("glPolygonMode");
    ASSERT_EQ(modes.size(), 2u);
    EXPECT_EQ(modes[0].ints[1], GL_LINE);
    EXPECT_EQ(modes[1].ints[1], GL_FILL);
    EXPECT_EQ(ctx->render_state().depth(), 0u);
}

TEST_F(RenderState, nested_pushes_restore_in_reverse_order) {
    cRenderState& s = *ctx->state();
    const cRenderState start = s;
    ctx->push_state();
    s.set_blending(false);
    const cRenderState first = s;
    ctx->push_state();
    s.set_depth_func(cRenderState::depth_greater);
    const cRenderState second = s;
    ctx->push_state();
    s.set_fill_mode(cRenderState::fill_point);

    ctx->pop_state();
    EXPECT_EQ(s, second);
    ctx->pop_state();
    EXPECT_EQ(s, first);
    ctx->pop_state();
    EXPECT_EQ(s, start);
}

TEST_F(RenderState, pop_on_an_empty_stack_keeps_the_pending_word_and_says_so) {
    ctx->state()->set_blending(false);
    const cRenderState kept = *ctx->state();
    cGLRecorder gl;
    cCaptureStream err(STDERR_FILENO);
    ctx->pop_state();
    EXPECT_EQ(err.stop(), "# WARNING: pop_state on an empty render-state stack; pending state kept\n");
    EXPECT_EQ(*ctx->state(), kept);
    EXPECT_TRUE(gl.calls().empty());
}

TEST_F(RenderState, the_pending_word_keeps_its_address_through_push_and_pop) {
    cRenderState* pending = ctx->state();
    for (int i = 0; i < 150; ++i) ctx->push_state();  // past the reserved room
    for (int i = 0; i < 150; ++i) ctx->pop_state();
    EXPECT_EQ(ctx->state(), pending);
}

}  // namespace
