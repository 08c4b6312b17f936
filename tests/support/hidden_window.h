// The window GL tests draw on: hidden, 1280 x 720 like the show's, not full screen, with its GL
// context current and every entry point loaded (SDL's offscreen driver under ctest).
#pragma once
#include <memory>

#include "gfx/window/window.h"

// The description the host opens its window with (1280 x 720, render size the same).
inline cWindowDesc show_window_desc(bool fullscreen, bool show) {
    cWindowDesc desc;
    desc.width = desc.render_width = 1280;
    desc.height = desc.render_height = 720;
    desc.fullscreen = fullscreen;
    desc.use_window_height = false;
    desc.show = show;
    return desc;
}

inline std::unique_ptr<cWindow> open_hidden_window() {
    const cWindowDesc desc = show_window_desc(false, false);
    auto window = std::make_unique<cWindow>();
    window->open(desc);
    load_extensions();
    return window;
}
