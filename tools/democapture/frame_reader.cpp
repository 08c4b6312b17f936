// glReadPixels of the window's picture through the host's entry-point table, flipped top-down.
// Depends on the window layer's letterbox arithmetic for where the picture sits.
#include "tools/democapture/frame_reader.h"

#include <cstring>

#include "gfx/gl/gl_entry_points.h"
#include "gfx/window/letterbox.h"
#include "gfx/window/window.h"

cFrameReader::cFrameReader(int32_t width, int32_t height)
    : width_(width),
      height_(height),
      bottom_up_(static_cast<size_t>(width) * height * 3),
      pixels_(static_cast<size_t>(width) * height * 3) {}

bool cFrameReader::fit_window(const cWindow& window, std::string& error) {
    if (window.render_width() != width_ || window.render_height() != height_) {
        error = "the show renders at " + std::to_string(window.render_width()) + "x" +
                std::to_string(window.render_height()) + ", not " + std::to_string(width_) + "x" + std::to_string(height_);
        return false;
    }
    const cViewportRect box = letterbox_rect(width_, height_, window.drawable_width, window.drawable_height);
    if (box.width != width_ || box.height != height_) {
        error = "the window's drawable is " + std::to_string(window.drawable_width) + "x" +
                std::to_string(window.drawable_height) + ", too small for a " + std::to_string(width_) + "x" +
                std::to_string(height_) + " picture";
        return false;
    }
    x_ = box.x;
    y_ = box.y;
    return true;
}

void cFrameReader::read() {
    // The modules leave their render targets unbound, but a read must not depend on it.
    GLint read_framebuffer = 0;
    if (glBindFramebuffer) {
        glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &read_framebuffer);
        if (read_framebuffer != 0) glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    }
    GLint pack_alignment = 4;
    glGetIntegerv(GL_PACK_ALIGNMENT, &pack_alignment);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(x_, y_, width_, height_, GL_BGR, GL_UNSIGNED_BYTE, bottom_up_.data());
    glPixelStorei(GL_PACK_ALIGNMENT, pack_alignment);
    if (read_framebuffer != 0) glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(read_framebuffer));

    // GL counts rows from the bottom; files and encoders from the top.
    const size_t row = row_bytes();
    for (int32_t y = 0; y < height_; ++y) {
        std::memcpy(pixels_.data() + static_cast<size_t>(y) * row,
                    bottom_up_.data() + static_cast<size_t>(height_ - 1 - y) * row, row);
    }
}
