// The small code tables of texture creation: kind -> GL target, wrap code -> GL wrap mode,
// format code -> GL format. Pure lookups; must never call GL.
#pragma once
#include <cstdint>

#include "gfx/gl/gl_entry_points.h"

namespace texture_codes {

// Kind codes. Kind 0 is resolved from the image size, and only when loading a file.
constexpr int32_t kind_automatic = 0;
constexpr int32_t kind_1d = 1;
constexpr int32_t kind_2d = 2;
constexpr int32_t kind_3d = 3;
constexpr int32_t kind_rectangle = 4;

constexpr int32_t wrap_repeat = 1;
constexpr int32_t wrap_clamp_to_edge = 2;

// Format codes of the uploads that the manager itself makes.
constexpr int32_t format_bgr = 4;
constexpr int32_t format_bgra = 5;
constexpr int32_t format_rgb8 = 2;
constexpr int32_t format_rgba8 = 3;
constexpr int32_t format_depth_component = 12;
constexpr int32_t format_depth_component16 = 13;

// 0 for any kind outside 1-4.
constexpr GLenum target_of_kind(int32_t kind) {
    switch (kind) {
        case kind_1d: return GL_TEXTURE_1D;
        case kind_2d: return GL_TEXTURE_2D;
        case kind_3d: return GL_TEXTURE_3D;
        case kind_rectangle: return GL_TEXTURE_RECTANGLE;
        default: return 0;
    }
}

// 0 (which GL refuses) for any other code.
constexpr GLenum wrap_mode_of(int32_t wrap) {
    return wrap == wrap_repeat ? GL_REPEAT : wrap == wrap_clamp_to_edge ? GL_CLAMP_TO_EDGE : 0;
}

// One table for pixel formats and internal formats alike; 0 outside it.
constexpr GLenum format_of(int32_t code) {
    constexpr GLenum formats[16] = {
        GL_RED,  GL_RG8,  GL_RGB8,  GL_RGBA8,  GL_BGR,  GL_BGRA, GL_COMPRESSED_RGB, GL_COMPRESSED_RGBA,
        GL_R16,  GL_RG16, GL_RGB16, GL_RGBA16, GL_DEPTH_COMPONENT, GL_DEPTH_COMPONENT16, 0,
        GL_DEPTH24_STENCIL8,
    };
    return code >= 0 && code < 16 ? formats[code] : 0;
}

constexpr bool is_power_of_two(int64_t n) { return (n & (n - 1)) == 0; }

// The kind a file's image gets when the caller asked for kind 0: one row is 1D, power-of-two
// sizes are 2D, everything else a rectangle.
constexpr int32_t resolve_kind(int32_t width, int32_t height) {
    if (height == 1) return kind_1d;
    if (is_power_of_two(width) && is_power_of_two(height)) return kind_2d;
    return kind_rectangle;
}

}  // namespace texture_codes
