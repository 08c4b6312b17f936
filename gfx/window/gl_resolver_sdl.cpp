// Finding GL entry points by name on SDL: SDL_GL_GetProcAddress, plus wglSwapIntervalEXT, which
// no Linux driver offers under that name and which this file provides over
// SDL_GL_SetSwapInterval. Tests may replace the resolver; nothing here writes the table.
#include <SDL2/SDL.h>

#include <cstring>
#include <type_traits>

#include "gfx/gl/gl_entry_points.h"
#include "gfx/window/window.h"

namespace {

// Same meaning as the WGL call: nonzero when the driver took the interval.
int swap_interval_over_sdl(int interval) {
    return SDL_GL_SetSwapInterval(interval) == 0 ? 1 : 0;
}
static_assert(std::is_same_v<decltype(&swap_interval_over_sdl), demo_gl_type_wglSwapIntervalEXT>);

cGLResolver installed_resolver = nullptr;

}  // namespace

void* platform_gl_resolver(const char* name) {
    if (name == nullptr) return nullptr;
    if (std::strcmp(name, "wglSwapIntervalEXT") == 0) return reinterpret_cast<void*>(&swap_interval_over_sdl);
    return SDL_GL_GetProcAddress(name);
}

void set_gl_resolver(cGLResolver resolver) {
    installed_resolver = resolver;
}

void* resolve_gl_entry(const char* name) {
    return installed_resolver != nullptr ? installed_resolver(name) : platform_gl_resolver(name);
}
