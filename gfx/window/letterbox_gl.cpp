// The letterbox wrappers on the GL entry-point table and the bar clearing at swap. Depends on
// the table (gfx/gl) and the arithmetic of letterbox.h. Must never change GL state that it
// does not restore, and must never touch the table while letterboxing is off.
#include "gfx/window/letterbox_gl.h"

#include "gfx/gl/gl_entry_points.h"

namespace {

struct cLetterboxState {
    int32_t render_width = 0;
    int32_t render_height = 0;
    int32_t drawable_width = 0;
    int32_t drawable_height = 0;
    bool active = false;
    cViewportRect box;
    cViewportRect logical;          // the viewport as the callers set it, in render-size coordinates
    GLuint draw_framebuffer = 0;    // 0: the window
    demo_gl_type_glViewport real_viewport = nullptr;
    demo_gl_type_glBindFramebuffer real_bind_framebuffer = nullptr;
};

cLetterboxState state;

// Sends the logical viewport to GL: placed in the box for the window, unchanged off-screen.
void apply_viewport() {
    if (state.real_viewport == nullptr) return;
    cViewportRect r = state.logical;
    if (state.active && state.draw_framebuffer == 0) {
        r = map_viewport(state.logical, state.box, state.render_width, state.render_height);
    }
    state.real_viewport(r.x, r.y, r.width, r.height);
}

void letterboxed_viewport(GLint x, GLint y, GLsizei width, GLsizei height) {
    state.logical = {x, y, width, height};
    apply_viewport();
}

void letterboxed_bind_framebuffer(GLenum target, GLuint framebuffer) {
    if (state.real_bind_framebuffer == nullptr) return;
    state.real_bind_framebuffer(target, framebuffer);
    if (target != GL_FRAMEBUFFER && target != GL_DRAW_FRAMEBUFFER) return;
    const bool was_window = state.draw_framebuffer == 0;
    state.draw_framebuffer = framebuffer;
    // The viewport is shared by all framebuffers: switching between the window and an
    // off-screen target must switch between the placed and the plain form of it.
    if (was_window != (framebuffer == 0)) apply_viewport();
}

void install_wrappers() {
    if (demo_glViewport != nullptr && demo_glViewport != &letterboxed_viewport) {
        state.real_viewport = demo_glViewport;
        demo_glViewport = &letterboxed_viewport;
    }
    if (demo_glBindFramebuffer != nullptr && demo_glBindFramebuffer != &letterboxed_bind_framebuffer) {
        state.real_bind_framebuffer = demo_glBindFramebuffer;
        demo_glBindFramebuffer = &letterboxed_bind_framebuffer;
    }
}

// Only entries that still hold the wrappers are restored: someone who wrapped them in turn
// keeps calling through them, and they pass calls straight on while letterboxing is off.
void remove_wrappers() {
    if (demo_glViewport == &letterboxed_viewport) demo_glViewport = state.real_viewport;
    if (demo_glBindFramebuffer == &letterboxed_bind_framebuffer) demo_glBindFramebuffer = state.real_bind_framebuffer;
}

// Letterboxing on or off, or a new box, for the current sizes. read_gl_state: take the
// viewport and the framebuffer binding from GL (they were set plainly while it was off).
void update(bool read_gl_state) {
    const bool wanted =
        needs_letterbox(state.render_width, state.render_height, state.drawable_width, state.drawable_height);
    state.box = letterbox_rect(state.render_width, state.render_height, state.drawable_width, state.drawable_height);
    if (wanted && !state.active) {
        if (read_gl_state && demo_glGetIntegerv != nullptr) {
            GLint viewport[4] = {0, 0, 0, 0};
            GLint framebuffer = 0;
            demo_glGetIntegerv(GL_VIEWPORT, viewport);
            demo_glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &framebuffer);
            state.logical = {viewport[0], viewport[1], viewport[2], viewport[3]};
            state.draw_framebuffer = static_cast<GLuint>(framebuffer);
        }
        install_wrappers();
        state.active = true;
        apply_viewport();
    } else if (wanted) {
        install_wrappers();
        apply_viewport();
    } else if (state.active) {
        state.active = false;
        apply_viewport();
        remove_wrappers();
    }
}

}  // namespace

void letterbox_begin(int32_t render_width, int32_t render_height, int32_t drawable_width, int32_t drawable_height) {
    letterbox_end();
    state.render_width = render_width;
    state.render_height = render_height;
    state.drawable_width = drawable_width;
    state.drawable_height = drawable_height;
    state.logical = {0, 0, render_width, render_height};
    state.draw_framebuffer = 0;
    update(false);
}

void letterbox_resize(int32_t drawable_width, int32_t drawable_height) {
    if (drawable_width == state.drawable_width && drawable_height == state.drawable_height) return;
    state.drawable_width = drawable_width;
    state.drawable_height = drawable_height;
    update(true);
}

void letterbox_refresh_entries() {
    if (state.active) install_wrappers();
}

void letterbox_clear_bars() {
    if (!state.active || state.draw_framebuffer != 0) return;
    const cViewportRect& b = state.box;
    const int32_t right = b.x + b.width, top = b.y + b.height;
    const cViewportRect bars[4] = {
        {0, 0, b.x, state.drawable_height},                                // left
        {right, 0, state.drawable_width - right, state.drawable_height},  // right
        {0, 0, state.drawable_width, b.y},                                // bottom
        {0, top, state.drawable_width, state.drawable_height - top},      // top
    };
    // Scissored clears touch only the bars; the scissor and the clear colour are put back.
    // (The system never masks colour writes, so the clears always reach the bars.)
    const GLboolean scissor_was_on = glIsEnabled(GL_SCISSOR_TEST);
    GLint scissor_box[4] = {0, 0, 0, 0};
    GLfloat clear_colour[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_SCISSOR_BOX, scissor_box);
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear_colour);
    glEnable(GL_SCISSOR_TEST);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    for (const cViewportRect& bar : bars) {
        if (bar.width <= 0 || bar.height <= 0) continue;
        glScissor(bar.x, bar.y, bar.width, bar.height);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    glClearColor(clear_colour[0], clear_colour[1], clear_colour[2], clear_colour[3]);
    glScissor(scissor_box[0], scissor_box[1], scissor_box[2], scissor_box[3]);
    if (!scissor_was_on) glDisable(GL_SCISSOR_TEST);
}

void letterbox_end() {
    remove_wrappers();
    // The driver's own entries stay known: a wrapper that someone else still calls through
    // then passes calls on instead of dropping them.
    cLetterboxState fresh;
    fresh.real_viewport = state.real_viewport;
    fresh.real_bind_framebuffer = state.real_bind_framebuffer;
    state = fresh;
}

bool letterbox_active() {
    return state.active;
}

cViewportRect letterbox_box() {
    return state.box;
}
