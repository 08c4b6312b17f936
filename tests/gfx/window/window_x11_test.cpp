// The window as the show opens it, on a real X server (Xvfb, 1280x720): full screen at the
// display's own size needs no letterbox, the extensions load without warnings, and a refused
// swap interval is a note, never a warning.
#include <SDL2/SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "gfx/gl/gl_entry_points.h"
#include "gfx/window/letterbox_gl.h"
#include "gfx/window/window.h"
#include "support/capture_stream.h"
#include "support/hidden_window.h"

namespace {

TEST(window_on_x11, opens_full_screen_like_the_show_and_warns_about_nothing) {
    const cWindowDesc desc = show_window_desc(true, true);

    cWindow window;
    cCaptureStream out(STDOUT_FILENO);
    cCaptureStream err(STDERR_FILENO);
    window.open(desc);
    load_extensions();
    enable_vsync();
    for (int frame = 0; frame < 3; ++frame) {
        window.dispatch_messages();
        glClear(GL_COLOR_BUFFER_BIT);
        window.swap_buffers();
    }
    const std::string printed = out.stop();
    const std::string reported = err.stop();

    EXPECT_STREQ(SDL_GetCurrentVideoDriver(), "x11");
    EXPECT_EQ(printed.rfind("# glinfo: Vendor:   ", 0), 0u) << printed;
    EXPECT_EQ(reported.find("WARNING"), std::string::npos) << reported;
    EXPECT_EQ(reported.find("not initialized"), std::string::npos) << reported;
    if (SDL_GL_GetSwapInterval() != 1) {
        EXPECT_NE(printed.find("# note: "), std::string::npos) << printed;
    }
    EXPECT_TRUE(SDL_GetWindowFlags(window.handle) & SDL_WINDOW_FULLSCREEN);
    int double_buffered = 0;
    SDL_GL_GetAttribute(SDL_GL_DOUBLEBUFFER, &double_buffered);
    EXPECT_EQ(double_buffered, 1);
    EXPECT_EQ(window.drawable_width, 1280);
    EXPECT_EQ(window.drawable_height, 720);
    EXPECT_FALSE(letterbox_active());
    glViewport(0, 0, 1280, 720);
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 1280);
    EXPECT_EQ(viewport[3], 720);
    window.close();
}

}  // namespace
