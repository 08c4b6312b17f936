// Texture size limits and GL's proxy check. Depends on the GL entry-point table and the code
// tables; leaves no texture bound and no GL error behind.
#include "gfx/textures/texture_limits.h"

#include "gfx/textures/texture_codes.h"

using namespace texture_codes;

cTextureLimits query_texture_limits() {
    GLint size = 0, rectangle = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
    glGetIntegerv(GL_MAX_RECTANGLE_TEXTURE_SIZE, &rectangle);
    return {size, rectangle};
}

std::string size_problem(const cTextureLimits& limits, int32_t kind, int64_t width, int64_t height) {
    if (kind == kind_automatic && width <= INT32_MAX && height <= INT32_MAX)
        kind = resolve_kind(static_cast<int32_t>(width), static_cast<int32_t>(height));
    const bool rectangle = kind == kind_rectangle;
    const int64_t limit = rectangle ? limits.max_rectangle_size : limits.max_size;
    const bool one_row = kind == kind_1d;
    if (limit <= 0 || (width <= limit && (one_row || height <= limit))) return {};
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    const std::string most = one_row ? std::to_string(limit) + " wide"
                                     : std::to_string(limit) + " x " + std::to_string(limit);
    const char* what = rectangle ? "rectangle" : one_row ? "1D" : "2D";
    return "at " + size + " it is larger than this GL's " + what + " textures can be (" + most + ")";
}

bool gl_can_hold(GLenum target, int32_t internal_format, int32_t width, int32_t height, int32_t format) {
    const GLenum proxy = target == GL_TEXTURE_1D          ? GL_PROXY_TEXTURE_1D
                         : target == GL_TEXTURE_RECTANGLE ? GL_PROXY_TEXTURE_RECTANGLE
                                                          : GL_PROXY_TEXTURE_2D;
    const GLint internal = static_cast<GLint>(format_of(internal_format));
    if (proxy == GL_PROXY_TEXTURE_1D)
        glTexImage1D(proxy, 0, internal, width, 0, format_of(format), GL_UNSIGNED_BYTE, nullptr);
    else
        glTexImage2D(proxy, 0, internal, width, height, 0, format_of(format), GL_UNSIGNED_BYTE, nullptr);
    GLint taken = 0;
    glGetTexLevelParameteriv(proxy, 0, GL_TEXTURE_WIDTH, &taken);
    // A proxy that is refused for its size raises no error, but an odd argument may: leave
    // none behind for the caller's own check.
    take_gl_error();
    return taken != 0;
}

GLenum take_gl_error() {
    const GLenum first = glGetError();
    // GL keeps one flag per kind of error; a few reads clear them all (a lost context would
    // answer forever).
    constexpr int kMoreFlags = 8;
    for (int i = 0; first != GL_NO_ERROR && i < kMoreFlags && glGetError() != GL_NO_ERROR; ++i) {
    }
    return first;
}

const char* gl_error_name(GLenum error) {
    switch (error) {
        case GL_INVALID_ENUM: return "GL_INVALID_ENUM";
        case GL_INVALID_VALUE: return "GL_INVALID_VALUE";
        case GL_INVALID_OPERATION: return "GL_INVALID_OPERATION";
        case GL_OUT_OF_MEMORY: return "GL_OUT_OF_MEMORY";
        case GL_INVALID_FRAMEBUFFER_OPERATION: return "GL_INVALID_FRAMEBUFFER_OPERATION";
        default: return "a GL error";
    }
}
