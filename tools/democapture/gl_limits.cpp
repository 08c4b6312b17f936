// The probe window over SDL with the window layer's context attributes, and the comparison of
// a render size with the limits. Depends on the window layer for the base GL functions.
#include "tools/democapture/gl_limits.h"

#include <SDL2/SDL.h>

#include <algorithm>

#include "gfx/gl/gl_entry_points.h"
#include "gfx/window/window.h"

namespace {

constexpr int probe_size = 64;

}  // namespace

bool probe_gl_limits(cGLLimits& limits, std::string& error) {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        error = std::string("no video driver to open a GL context: ") + SDL_GetError();
        return false;
    }
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_Window* window = SDL_CreateWindow("OpenGL", 0, 0, probe_size, probe_size, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    SDL_GLContext context = window ? SDL_GL_CreateContext(window) : nullptr;
    const bool current = context && SDL_GL_MakeCurrent(window, context) == 0;
    if (current) {
        load_base_functions();
        GLint value = 0, viewport[2] = {0, 0};
        glGetIntegerv(GL_MAX_TEXTURE_SIZE, &value);
        limits.max_texture = value;
        value = 0;
        glGetIntegerv(GL_MAX_RECTANGLE_TEXTURE_SIZE, &value);
        limits.max_rectangle = value;
        value = 0;
        glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &value);
        limits.max_renderbuffer = value;
        glGetIntegerv(GL_MAX_VIEWPORT_DIMS, viewport);
        limits.max_viewport_width = viewport[0];
        limits.max_viewport_height = viewport[1];
        const GLubyte* renderer = glGetString(GL_RENDERER);
        limits.renderer = renderer ? reinterpret_cast<const char*>(renderer) : "";
    } else {
        error = std::string("cannot open a GL context: ") + SDL_GetError();
    }
    if (context) {
        SDL_GL_MakeCurrent(window, nullptr);
        SDL_GL_DeleteContext(context);
    }
    if (window) SDL_DestroyWindow(window);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return current;
}

std::string render_size_refusal(const cGLLimits& limits, int32_t width, int32_t height) {
    struct cLimit {
        const char* name;
        int32_t width;
        int32_t height;
    };
    // A limit of 0 is one the implementation did not report; it forbids nothing.
    const cLimit checks[] = {
        {"GL_MAX_TEXTURE_SIZE", limits.max_texture, limits.max_texture},
        {"GL_MAX_RECTANGLE_TEXTURE_SIZE", limits.max_rectangle, limits.max_rectangle},
        {"GL_MAX_RENDERBUFFER_SIZE", limits.max_renderbuffer, limits.max_renderbuffer},
        {"GL_MAX_VIEWPORT_DIMS", limits.max_viewport_width, limits.max_viewport_height},
    };
    for (const cLimit& c : checks) {
        if ((c.width > 0 && width > c.width) || (c.height > 0 && height > c.height)) {
            return std::string("a ") + std::to_string(width) + "x" + std::to_string(height) + " render is beyond " +
                   (limits.renderer.empty() ? std::string("this GL implementation") : limits.renderer) + "'s " +
                   c.name + " of " + std::to_string(std::max(c.width, c.height));
        }
    }
    return "";
}
