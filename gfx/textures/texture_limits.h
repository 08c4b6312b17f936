// What this GL can hold: the largest sizes of its textures, read once with the context current,
// the one-line reason an image is refused for its size, GL's own word on one texture (its
// proxy, which also weighs the memory), and the error check after an upload. Only the size
// reason is free of GL calls.
#pragma once
#include <cstdint>
#include <string>

#include "gfx/gl/gl_entry_points.h"

struct cTextureLimits {
    int64_t max_size = 0;            // GL_MAX_TEXTURE_SIZE: 1D and 2D textures
    int64_t max_rectangle_size = 0;  // GL_MAX_RECTANGLE_TEXTURE_SIZE
};

// Reads both limits; the context must be current.
cTextureLimits query_texture_limits();

// Empty when an image of width x height fits a texture of that kind (1, 2 or 4; kind 0 is
// resolved from the size); otherwise why not, e.g. "at 32768 x 16 it is larger than this
// GL's 2D textures can be (16384 x 16384)". Limits of 0 (not known) refuse nothing.
std::string size_problem(const cTextureLimits& limits, int32_t kind, int64_t width, int64_t height);

// Whether GL takes level 0 of such a texture (asked through its proxy target, which also
// weighs what the implementation can allocate). The context must be current.
bool gl_can_hold(GLenum target, int32_t internal_format, int32_t width, int32_t height, int32_t format);

// The first pending GL error (GL_NO_ERROR when none), clearing the others; and its name.
GLenum take_gl_error();
const char* gl_error_name(GLenum error);
