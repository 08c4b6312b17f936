// Asynchronous read-back into pixel-buffer objects through the host's entry-point table, and
// the conversion of a mapped buffer into a frame. Depends on the window layer's letterbox
// arithmetic for where the picture sits on the drawable.
#include "tools/democapture/frame_reader.h"

#include <cstdio>

#include "gfx/gl/gl_entry_points.h"
#include "gfx/window/letterbox.h"
#include "gfx/window/window.h"

namespace {

std::string gl_error_text(GLenum status) {
    char text[32];
    std::snprintf(text, sizeof text, "GL error 0x%04X", status);
    return text;
}

}  // namespace

cFrameReader::cFrameReader(const cFrameLayout& layout, int32_t ring_size) : layout_(layout) {
    buffers_.assign(static_cast<size_t>(ring_size), 0);
}

cFrameReader::~cFrameReader() {
    if (!buffers_.empty() && buffers_.front() != 0 && glDeleteBuffersARB) {
        glDeleteBuffersARB(static_cast<GLsizei>(buffers_.size()), buffers_.data());
    }
}

bool cFrameReader::create(const cWindow& window, std::string& error) {
    const int32_t w = layout_.render_width(), h = layout_.render_height();
    if (window.render_width() != w || window.render_height() != h) {
        error = "the show renders at " + std::to_string(window.render_width()) + "x" +
                std::to_string(window.render_height()) + ", not " + std::to_string(w) + "x" + std::to_string(h);
        return false;
    }
    const cViewportRect box = letterbox_rect(w, h, window.drawable_width, window.drawable_height);
    if (box.width != w || box.height != h) {
        error = "the window's drawable is " + std::to_string(window.drawable_width) + "x" +
                std::to_string(window.drawable_height) + ", too small for a " + std::to_string(w) + "x" +
                std::to_string(h) + " picture";
        return false;
    }
    x_ = box.x;
    y_ = box.y;
    if (!glGenBuffersARB || !glBindBufferARB || !glBufferDataARB || !glMapBufferARB || !glUnmapBufferARB) {
        error = "the GL implementation has no pixel-buffer objects (GL_ARB_pixel_buffer_object)";
        return false;
    }
    while (glGetError() != GL_NO_ERROR) {
    }
    glGenBuffersARB(static_cast<GLsizei>(buffers_.size()), buffers_.data());
    for (uint32_t buffer : buffers_) {
        glBindBufferARB(GL_PIXEL_PACK_BUFFER, buffer);
        glBufferDataARB(GL_PIXEL_PACK_BUFFER, static_cast<GLsizeiptr>(layout_.read_bytes()), nullptr, GL_STREAM_READ);
    }
    glBindBufferARB(GL_PIXEL_PACK_BUFFER, 0);
    const GLenum status = glGetError();
    if (status != GL_NO_ERROR) {
        error = "the GL implementation cannot hold " + std::to_string(buffers_.size()) + " read-back buffers of " +
                std::to_string(layout_.read_bytes() >> 20) + " MiB (" + gl_error_text(status) + ")";
        return false;
    }
    return true;
}

void cFrameReader::start() {
    // The modules leave their render targets unbound, but a read must not depend on it.
    GLint read_framebuffer = 0;
    if (glBindFramebuffer) {
        glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &read_framebuffer);
        if (read_framebuffer != 0) glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    }
    GLint pack_alignment = 4;
    glGetIntegerv(GL_PACK_ALIGNMENT, &pack_alignment);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);  // BGRA rows are whole words anyway
    glReadBuffer(GL_BACK);
    const size_t slot = next_;
    next_ = (next_ + 1) % buffers_.size();
    glBindBufferARB(GL_PIXEL_PACK_BUFFER, buffers_[slot]);
    // BGRA is the layout GL implementations copy without converting; the alpha is dropped later.
    glReadPixels(x_, y_, layout_.render_width(), layout_.render_height(), GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    glBindBufferARB(GL_PIXEL_PACK_BUFFER, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, pack_alignment);
    if (read_framebuffer != 0) glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(read_framebuffer));
    pending_.push_back(slot);
}

bool cFrameReader::finish_oldest(uint8_t* frame, std::string& error) {
    const size_t slot = pending_.front();
    pending_.pop_front();
    glBindBufferARB(GL_PIXEL_PACK_BUFFER, buffers_[slot]);
    const auto* pixels = static_cast<const uint8_t*>(glMapBufferARB(GL_PIXEL_PACK_BUFFER, GL_READ_ONLY));
    if (pixels) {
        place_picture(layout_, pixels, frame, 0, layout_.picture_height);
        glUnmapBufferARB(GL_PIXEL_PACK_BUFFER);
    } else {
        error = "the GL implementation could not map a read-back buffer (" + gl_error_text(glGetError()) + ")";
    }
    glBindBufferARB(GL_PIXEL_PACK_BUFFER, 0);
    return pixels != nullptr;
}
