// Opening, presenting and closing the window over SDL2: the window "OpenGL", the full-screen
// display mode, the GL context and its attributes, the glinfo report. Every failure to get a
// window writes its message and ends the process with status 1; it never returns half-built.
#include <SDL2/SDL.h>

#include <cstdlib>
#include <iostream>

#include "gfx/gl/gl_entry_points.h"
#include "gfx/window/letterbox_gl.h"
#include "gfx/window/window.h"
#include "gfx/window/window_config.h"

namespace {

// A message box as the platform shows it, and the same text on standard error (the box may
// not be seen on a headless machine, the log always is).
void report_in_box(const char* text) {
    std::cerr << text << std::endl;
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, window_config::kErrorCaption, text, nullptr);
}

[[noreturn]] void give_up() {
    std::exit(window_config::kExitNoWindow);
}

void set_framebuffer_attributes() {
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, window_config::kColourChannelBits);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, window_config::kColourChannelBits);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, window_config::kColourChannelBits);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, window_config::kAlphaBits);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, window_config::kDepthBits);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, window_config::kStencilBits);
}

// Full screen at width x height, 32 bits per pixel. A display without a mode that large keeps
// its desktop mode and the picture is letterboxed into it; only a refused switch fails.
bool switch_display_mode(SDL_Window* window, int32_t width, int32_t height) {
    int display = SDL_GetWindowDisplayIndex(window);
    if (display < 0) display = 0;
    SDL_DisplayMode wanted{SDL_PIXELFORMAT_RGB888, width, height, 0, nullptr};
    SDL_DisplayMode mode{};
    if (SDL_GetClosestDisplayMode(display, &wanted, &mode) == nullptr) {
        if (SDL_GetDesktopDisplayMode(display, &mode) != 0) return false;
        std::cout << "# note: the display has no " << width << "x" << height << " mode; the picture is shown scaled in "
                  << mode.w << "x" << mode.h << std::endl;
    }
    return SDL_SetWindowDisplayMode(window, &mode) == 0;
}

const char* gl_string(GLenum name) {
    if (demo_glGetString == nullptr) return "";
    const GLubyte* text = glGetString(name);
    return text != nullptr ? reinterpret_cast<const char*>(text) : "";
}

}  // namespace

void cWindow::open(const cWindowDesc& desc) {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        report_in_box(window_config::kRegisterFailed);
        give_up();
    }
    set_framebuffer_attributes();

    // The window is created hidden and shown once the context exists, so nothing unpainted
    // flashes up; a full-screen window switches the display when it is shown.
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN;
    flags |= desc.fullscreen ? SDL_WINDOW_FULLSCREEN : SDL_WINDOW_RESIZABLE;
    SDL_Window* window = nullptr;
    if (desc.width > 0 && desc.height > 0) {
        // SDL sizes the client area, so a windowed client area is exactly width x height.
        window = SDL_CreateWindow(window_config::kTitle, window_config::kPositionX, window_config::kPositionY,
                                  desc.width, desc.height, flags);
    }
    if (window == nullptr) {
        report_in_box(window_config::kCreateFailed);
        give_up();
    }
    if (desc.fullscreen) {
        if (!switch_display_mode(window, desc.width, desc.height)) {
            std::cerr << window_config::kModeSwitchFailed << std::endl;
            SDL_DestroyWindow(window);
            give_up();
        }
        SDL_ShowCursor(SDL_DISABLE);
    }

    // Without a context nothing can be drawn, so unlike a driver that quietly hands back a
    // dead one, a context that cannot be had or made current ends the process here.
    SDL_GLContext context = SDL_GL_CreateContext(window);
    if (context == nullptr || SDL_GL_MakeCurrent(window, context) != 0) {
        std::cerr << window_config::kPixelFormatFailed << std::endl;
        if (context != nullptr) SDL_GL_DeleteContext(context);
        SDL_DestroyWindow(window);
        give_up();
    }
    handle = window;
    gl_context = context;

    load_base_functions();
    vendor = gl_string(GL_VENDOR);
    renderer = gl_string(GL_RENDERER);
    version = gl_string(GL_VERSION);
    std::cout << "# glinfo: Vendor:   " << vendor << std::endl;
    std::cout << "#         Renderer: " << renderer << std::endl;
    std::cout << "#         Version:  " << version << std::endl;

    if (desc.show) SDL_ShowWindow(handle);
    SDL_StartTextInput();  // so 'q' and 'Q' arrive as characters
    description = desc;

    SDL_GL_GetDrawableSize(handle, &drawable_width, &drawable_height);
    letterbox_begin(render_width(), render_height(), drawable_width, drawable_height);
}

void cWindow::swap_buffers() {
    if (handle == nullptr) return;
    // A drawable that changed size without an event yet (a mode switch settling) is caught here,
    // so the next frame is placed right.
    int32_t width = 0, height = 0;
    SDL_GL_GetDrawableSize(handle, &width, &height);
    if (width != drawable_width || height != drawable_height) {
        drawable_width = width;
        drawable_height = height;
        letterbox_resize(width, height);
    }
    letterbox_clear_bars();
    SDL_GL_SwapWindow(handle);
}

void cWindow::close() {
    if (handle == nullptr) return;
    letterbox_end();
    SDL_GL_MakeCurrent(handle, nullptr);
    if (gl_context != nullptr) SDL_GL_DeleteContext(static_cast<SDL_GLContext>(gl_context));
    SDL_DestroyWindow(handle);
    handle = nullptr;
    gl_context = nullptr;
    drawable_width = drawable_height = 0;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}
