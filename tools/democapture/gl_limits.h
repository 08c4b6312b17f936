// The sizes the GL implementation can render and read back, asked of a small hidden window with
// the show's kind of context before the show's own window opens, so that a capture size the GL
// cannot hold is refused at start with one line instead of failing in the window layer.
// Opens and closes its window on the calling thread; leaves no window, context or table behind.
#pragma once
#include <cstdint>
#include <string>

struct cGLLimits {
    int32_t max_texture = 0;          // GL_MAX_TEXTURE_SIZE
    int32_t max_rectangle = 0;        // GL_MAX_RECTANGLE_TEXTURE_SIZE (the render targets)
    int32_t max_renderbuffer = 0;     // GL_MAX_RENDERBUFFER_SIZE (their depth)
    int32_t max_viewport_width = 0;   // GL_MAX_VIEWPORT_DIMS
    int32_t max_viewport_height = 0;
    std::string renderer;
};

// False with error when no GL context could be had at all.
bool probe_gl_limits(cGLLimits& limits, std::string& error);

// "" when the show can render at width x height; else the limit that forbids it.
std::string render_size_refusal(const cGLLimits& limits, int32_t width, int32_t height);
