// Vertical synchronisation: swap interval 1 through the table's wglSwapIntervalEXT (or straight
// over SDL before the loader has run). A refusal is a note on standard output, not a warning:
// software drivers and virtual displays commonly refuse, and the show runs correctly without it.
#include <SDL2/SDL.h>

#include <iostream>

#include "gfx/gl/gl_entry_points.h"
#include "gfx/window/window.h"

void enable_vsync() {
    SDL_ClearError();
    const bool taken = demo_wglSwapIntervalEXT != nullptr ? wglSwapIntervalEXT(1) != 0 : SDL_GL_SetSwapInterval(1) == 0;
    if (taken) return;
    const char* reason = SDL_GetError();
    std::cout << "# note: the display driver refused swap interval 1";
    if (reason != nullptr && reason[0] != '\0') std::cout << " (" << reason << ")";
    std::cout << "; frames are not synchronised to the display" << std::endl;
}
