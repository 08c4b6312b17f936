// Sending the packed render state to GL: the field order, the code tables and the start-up
// sequence of fixed settings. Depends on the GL entry-point table; never reads GL state back.
#include "gfx/state/render_state_store.h"

#include <iostream>
#include <stdexcept>

#include "gfx/gl/gl_entry_points.h"

namespace {

// ---- code tables ----

GLenum blend_factor_of(uint32_t code) {
    static constexpr GLenum factors[] = {
        GL_ZERO,      GL_ONE,           GL_SRC_COLOR, GL_ONE_MINUS_SRC_COLOR,
        GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_DST_ALPHA, GL_ONE_MINUS_DST_ALPHA,
    };
    if (code >= sizeof factors / sizeof factors[0]) throw std::runtime_error("unknown blendmode");
    return factors[code];
}

GLenum depth_function_of(uint32_t code) {
    static constexpr GLenum functions[] = {GL_LESS, GL_LEQUAL, GL_GREATER, GL_EQUAL, GL_GEQUAL};
    if (code >= sizeof functions / sizeof functions[0]) throw std::runtime_error("unknown depth state");
    return functions[code];
}

GLenum fill_mode_of(uint32_t code) {
    static constexpr GLenum modes[] = {GL_FILL, GL_POINT, GL_LINE};
    if (code >= sizeof modes / sizeof modes[0]) throw std::runtime_error("unknown polygon fill mode");
    return modes[code];
}

void enable(GLenum cap, bool on) {
    if (on)
        glEnable(cap);
    else
        glDisable(cap);
}

constexpr uint32_t depth_func_bits = 0x7u << cRenderState::depth_func_shift;
constexpr uint32_t fill_mode_bits = 0x3u << cRenderState::fill_mode_shift;
constexpr uint32_t blend_factor_bits = 0xFFFF0000u;

}  // namespace

cRenderStateStore::cRenderStateStore() {
    applied_.word[0] = applied_.word[1] = 0xFFFFFFFFu;
    stack_.reserve(reserved_stack_entries);
}

void cRenderStateStore::apply_changes() {
    const cRenderState& p = pending_;
    const uint32_t changed = applied_.word[0] ^ p.word[0];

    if (changed & cRenderState::depth_test_bit) enable(GL_DEPTH_TEST, p.depth_test());
    if (changed & cRenderState::depth_write_bit) glDepthMask(p.depth_write() ? GL_TRUE : GL_FALSE);
    if (changed & depth_func_bits) glDepthFunc(depth_function_of(p.depth_func()));
    if (changed & fill_mode_bits) glPolygonMode(GL_FRONT_AND_BACK, fill_mode_of(p.fill()));
    if (changed & cRenderState::cull_side_bit) glCullFace(p.bit(cRenderState::cull_side_bit) ? GL_BACK : GL_FRONT);
    if (changed & cRenderState::face_culling_bit) enable(GL_CULL_FACE, p.face_culling());
    if (changed & cRenderState::front_face_bit) glFrontFace(p.bit(cRenderState::front_face_bit) ? GL_CCW : GL_CW);
    if (changed & cRenderState::multisample_bit) enable(GL_MULTISAMPLE, p.bit(cRenderState::multisample_bit));
    if (changed & cRenderState::alpha_test_bit) enable(GL_ALPHA_TEST, p.bit(cRenderState::alpha_test_bit));
    if (changed & cRenderState::blending_bit) enable(GL_BLEND, p.blending());
    if (changed & blend_factor_bits) {
        // All four are converted before the one call, so a bad code sends none of them.
        GLenum src_color = blend_factor_of(p.src_color());
        GLenum dst_color = blend_factor_of(p.dst_color());
        GLenum src_alpha = blend_factor_of(p.src_alpha());
        GLenum dst_alpha = blend_factor_of(p.dst_alpha());
        glBlendFuncSeparate(src_color, dst_color, src_alpha, dst_alpha);
    }
    applied_ = pending_;
}

void cRenderStateStore::report_empty_pop() {
    std::cerr << "# WARNING: pop_state on an empty render-state stack; pending state kept" << std::endl;
}

void cRenderStateStore::start_up() {
    pending_.word[1] |= cRenderState::mask_bits_word1;
    pending_.set_blend_color(cRenderState::blend_src_alpha, cRenderState::blend_one_minus_src_alpha);
    pending_.set_blend_alpha(cRenderState::blend_one, cRenderState::blend_zero);
    glAlphaFunc(GL_ALWAYS, 0.0f);
    glClearColor(0.5f, 0.6f, 0.7f, 1.0f);  // the context's init replaces it right afterwards
    glClearDepth(1.0);

    pending_.set_alpha_test(false);
    pending_.set_front_ccw(true);
    pending_.set_face_culling(true);
    pending_.set_blending(true);
    // Byte 0 = 0x83: depth test and writes on, GL_LESS, filled, back faces culled.
    pending_.word[0] = (pending_.word[0] & ~0xFFu) | 0x83u;

    glShadeModel(GL_SMOOTH);
    glHint(GL_POINT_SMOOTH_HINT, GL_NICEST);
    glHint(GL_LINE_SMOOTH_HINT, GL_NICEST);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glEnable(GL_LINE_SMOOTH);
    glEnable(GL_POINT_SMOOTH);

    pending_.set_multisample(false);

    glActiveTextureARB(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_1D, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
    glBindTexture(GL_TEXTURE_RECTANGLE, 0);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_TEXTURE_1D);
    glDisable(GL_TEXTURE_RECTANGLE);
    glDisable(GL_LIGHTING);

    static constexpr GLfloat ambient[4] = {0.1f, 0.1f, 0.1f, 0.1f};
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient);
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, 0);
    glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, 1);
    glLightModeli(GL_LIGHT_MODEL_COLOR_CONTROL, GL_SEPARATE_SPECULAR_COLOR);
    glEnable(GL_COLOR_SUM);
    glDisable(GL_COLOR_MATERIAL);

    // Everything counts as changed once, so GL learns the whole word.
    applied_.word[0] = ~pending_.word[0];
    applied_.word[1] = ~pending_.word[1];
    apply_changes();
    applied_ = pending_;
}
