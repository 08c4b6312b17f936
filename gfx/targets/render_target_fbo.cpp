// Framebuffer-object render targets. Depends on the GL entry-point table, the depth-buffer cache
// and the graphics context's viewport and state operations; reads no GL error state.
#include "gfx/targets/render_target_fbo.h"

#include <iostream>

#include "gfx/gl/gl_entry_points.h"
#include "gfx/targets/depth_buffer_cache.h"
#include "igfx_context.h"

cRenderTarget_fbo::cRenderTarget_fbo(int32_t width, int32_t height, bool has_depth)
    : width_(width), height_(height), colour_{GL_TEXTURE_RECTANGLE, 0, width, height}, has_depth_(has_depth) {}

cRenderTarget_fbo::~cRenderTarget_fbo() {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glBindTexture(GL_TEXTURE_RECTANGLE, 0);
    if (framebuffer_) glDeleteFramebuffers(1, &framebuffer_);
    framebuffer_ = 0;
    // Shared with the other targets of this size: the cache deletes it with its last user.
    depth_buffers::release(depth_renderbuffer_);
    depth_renderbuffer_ = 0;
    if (colour_.name) glDeleteTextures(1, &colour_.name);
    colour_.name = 0;
}

void cRenderTarget_fbo::create() {
    if (framebuffer_) return;  // a second create would orphan the first objects

    glGenTextures(1, &colour_.name);
    glBindTexture(GL_TEXTURE_RECTANGLE, colour_.name);
    glTexImage2D(GL_TEXTURE_RECTANGLE, 0, GL_RGBA8, width_, height_, 0, GL_BGRA, GL_FLOAT, nullptr);
    glTexParameteri(GL_TEXTURE_RECTANGLE, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_RECTANGLE, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_RECTANGLE, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_RECTANGLE, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glBindTexture(GL_TEXTURE_RECTANGLE, 0);

    glGenFramebuffers(1, &framebuffer_);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_RECTANGLE, colour_.name, 0);

    if (has_depth_) {
        depth_renderbuffer_ = depth_buffers::acquire(width_, height_);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth_renderbuffer_);
    }

    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glBindTexture(GL_TEXTURE_RECTANGLE, 0);
}

void cRenderTarget_fbo::bind(igfxContext& ctx, int32_t clear) {
    const int32_t* viewport = ctx.viewport();
    for (int i = 0; i < 4; ++i) saved_viewport_[i] = viewport[i];
    const int32_t zero = 0;
    ctx.set_viewport(zero, zero, width_, height_);

    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    GLint draw_buffer = 0;
    glGetIntegerv(GL_DRAW_BUFFER, &draw_buffer);
    saved_draw_buffer_ = static_cast<uint32_t>(draw_buffer);
    glDrawBuffer(GL_COLOR_ATTACHMENT0);

    if (clear == 1) {
        ctx.apply_state();
        glClear(has_depth_ ? GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT : GL_COLOR_BUFFER_BIT);
    }
}

void cRenderTarget_fbo::unbind(igfxContext& ctx) {
    // bind read the draw buffer with this target's framebuffer bound, so this restores the
    // target's own setting while it is still bound; the window's draw buffer is never touched.
    glDrawBuffer(saved_draw_buffer_);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    ctx.set_viewport(saved_viewport_[0], saved_viewport_[1], saved_viewport_[2], saved_viewport_[3]);
}

void cRenderTarget_fbo::set_filter(uint32_t min_filter, uint32_t mag_filter) {
    glBindTexture(colour_.target, colour_.name);
    glTexParameteri(colour_.target, GL_TEXTURE_MIN_FILTER, static_cast<GLint>(min_filter));
    glTexParameteri(colour_.target, GL_TEXTURE_MAG_FILTER, static_cast<GLint>(mag_filter));
    glBindTexture(colour_.target, 0);
}

void cRenderTarget_fbo::set_wrap(uint32_t mode) {
    glBindTexture(colour_.target, colour_.name);
    glTexParameteri(colour_.target, GL_TEXTURE_WRAP_S, static_cast<GLint>(mode));
    glTexParameteri(colour_.target, GL_TEXTURE_WRAP_T, static_cast<GLint>(mode));
    glBindTexture(colour_.target, 0);
}

bool cRenderTarget_fbo::check_complete() {
    const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    switch (status) {
        case GL_FRAMEBUFFER_COMPLETE: return true;
        case GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT:
            std::cerr << "FRAMEBUFFER_INCOMPLETE_ATTACHMENT" << std::endl;
            break;
        case GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT:
            std::cerr << "GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT" << std::endl;
            break;
        case GL_FRAMEBUFFER_INCOMPLETE_DRAW_BUFFER:
            std::cerr << "GL_FRAMEBUFFER_INCOMPLETE_DRAW_BUFFER" << std::endl;
            break;
        case GL_FRAMEBUFFER_INCOMPLETE_READ_BUFFER:
            std::cerr << "GL_FRAMEBUFFER_INCOMPLETE_READ_BUFFER" << std::endl;
            break;
        case GL_FRAMEBUFFER_UNSUPPORTED:
            std::cerr << "## ERROR, recieved GL_FRAMEBUFFER_UNSUPPORTED" << std::endl;
            std::cerr << "(if you programmed this, you should probably choose a different fbo-format!\n"
                         "... if not, your graphics-card probably just plain sucks)"
                      << std::endl;
            break;
        default: std::cerr << "## ERROR, FBO error" << std::endl; break;
    }
    describe();
    return false;
}

void cRenderTarget_fbo::describe() {
    std::cerr << "width x height = (" << width_ << " x " << height_ << ")" << std::endl;
    const char* target = colour_.target == GL_TEXTURE_2D          ? "GL_TEXTURE_2D"
                         : colour_.target == GL_TEXTURE_RECTANGLE ? "GL_TEXTURE_RECTANGLE"
                                                                  : "unknown";
    std::cerr << "textarget: " << target << std::endl;
    std::cerr << "with" << (has_depth_ ? "" : "out") << " depth" << std::endl;
}
