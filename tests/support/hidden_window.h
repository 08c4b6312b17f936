// The window GL tests draw on: hidden, 1280 x 720 like the show's, not full screen, with its GL
// context current and every entry point loaded (SDL's offscreen driver under ctest).
#pragma once
#include <memory>

#include "gfx/window/window.h"

inline std::unique_ptr<cWindow> open_hidden_window() {
    cWindowDesc desc;
    desc.width = desc.render_width = 1280;
    desc.height = desc.render_height = 720;
    desc.fullscreen = false;
    desc.show = false;
    auto window = std::make_unique<cWindow>();
    window->open(desc);
    load_extensions();
    return window;
}
