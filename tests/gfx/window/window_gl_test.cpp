// The window layer on a real GL context (SDL's offscreen driver on Mesa): the glinfo report,
// the extension loader's checks and messages, the fatal extensions, the message translation
// and letterboxing on a drawable that differs from the render size.
#include <SDL2/SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "gfx/gl/gl_entry_points.h"
#include "gfx/window/letterbox_gl.h"
#include "gfx/window/window.h"
#include "support/capture_stream.h"
#include "support/hidden_window.h"

namespace {

cWindowDesc host_desc(bool fullscreen = false) { return show_window_desc(fullscreen, true); }

// ---- a GL_EXTENSIONS string of our choosing, through the table ----
std::string crafted_extensions;
demo_gl_type_glGetString real_get_string = nullptr;

const GLubyte* crafted_get_string(GLenum name) {
    if (name == GL_EXTENSIONS) return reinterpret_cast<const GLubyte*>(crafted_extensions.c_str());
    return real_get_string(name);
}

// The driver's own string with one token taken out (or renamed, when replacement is given).
std::string driver_extensions_without(const std::string& token, const std::string& replacement = "") {
    std::istringstream in(reinterpret_cast<const char*>(demo_glGetString(GL_EXTENSIONS)));
    std::string result, word;
    while (in >> word) {
        if (word == token) {
            if (replacement.empty()) continue;
            word = replacement;
        }
        if (!result.empty()) result += ' ';
        result += word;
    }
    return result;
}

// ---- a resolver that loses chosen names ----
std::set<std::string> lost_names;
void* losing_resolver(const char* name) {
    return lost_names.count(name) != 0 ? nullptr : platform_gl_resolver(name);
}

// ---- a window procedure that records what it gets ----
std::vector<cWindowMessage> received;
bool repaint_on_resize = false;
int recording_procedure(cWindow& window, const cWindowMessage& message) {
    if (message.kind != cWindowMessage::other) received.push_back(message);
    if (repaint_on_resize && message.kind == cWindowMessage::resized) window.request_repaint();
    return 0;
}

class window_gl : public ::testing::Test {
protected:
    void SetUp() override {
        cCaptureStream quiet(STDOUT_FILENO);
        window.open(host_desc());
    }
    void TearDown() override {
        if (real_get_string != nullptr) demo_glGetString = real_get_string;
        real_get_string = nullptr;
        set_gl_resolver(nullptr);
        lost_names.clear();
        window.close();
    }
    void craft_extensions(const std::string& extensions) {
        crafted_extensions = extensions;
        real_get_string = demo_glGetString;
        demo_glGetString = &crafted_get_string;
    }
    // Runs the loader and returns what it wrote on standard error.
    static std::string load_and_capture() {
        cCaptureStream err(STDERR_FILENO);
        load_extensions();
        return err.stop();
    }
    cWindow window;
};

std::vector<int> viewport_in_gl() {
    GLint v[4] = {-1, -1, -1, -1};
    glGetIntegerv(GL_VIEWPORT, v);
    return {v[0], v[1], v[2], v[3]};
}

// ---- opening ----

TEST(window_open, writes_the_three_glinfo_lines_of_the_real_driver) {
    cWindow window;
    cCaptureStream out(STDOUT_FILENO);
    window.open(host_desc());
    const std::string text = out.stop();
    const std::string expected = "# glinfo: Vendor:   " + window.vendor + "\n#         Renderer: " + window.renderer +
                                 "\n#         Version:  " + window.version + "\n";
    EXPECT_EQ(text, expected);
    EXPECT_NE(window.renderer.find("llvmpipe"), std::string::npos) << window.renderer;
    EXPECT_FALSE(window.version.empty());
    EXPECT_EQ(window.description.width, 1280);
    EXPECT_EQ(window.render_width(), 1280);
    EXPECT_EQ(window.render_height(), 720);
    window.close();
}

TEST(window_open, gives_a_context_with_depth_and_stencil_and_an_exact_client_area) {
    cWindow window;
    {
        cCaptureStream quiet(STDOUT_FILENO);
        window.open(host_desc());
    }
    // (The offscreen driver draws into a single-buffered surface; double buffering is checked
    // on a real X window.)
    int value = 0;
    SDL_GL_GetAttribute(SDL_GL_DEPTH_SIZE, &value);
    EXPECT_GE(value, 24);
    SDL_GL_GetAttribute(SDL_GL_STENCIL_SIZE, &value);
    EXPECT_GE(value, 8);
    int w = 0, h = 0;
    SDL_GetWindowSize(window.handle, &w, &h);
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 720);
    EXPECT_STREQ(SDL_GetWindowTitle(window.handle), "OpenGL");
    EXPECT_EQ(window.drawable_width, 1280);
    EXPECT_EQ(window.drawable_height, 720);
    // Fixed-function state must be there: the system relies on a compatibility profile.
    glGetError();
    glEnable(GL_ALPHA_TEST);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    window.close();
}

// Failures to get a window end the process with status 1 and their message. No display is
// left to the child, so the message box cannot wait for anyone.
void open_without_display(const cWindowDesc& desc, const char* video_driver) {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    setenv("SDL_VIDEODRIVER", video_driver, 1);
    cWindow window;
    window.open(desc);
}

TEST(window_open_death, without_a_video_system_reports_the_class_failure_and_exits_1) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(open_without_display(host_desc(), "no_such_video_driver"), ::testing::ExitedWithCode(1),
                "RegisterClass\\(\\) failed: Cannot register window class\\.");
}

TEST(window_open_death, a_window_without_a_size_reports_the_creation_failure_and_exits_1) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    cWindowDesc empty = host_desc();
    empty.width = 0;
    EXPECT_EXIT(open_without_display(empty, "offscreen"), ::testing::ExitedWithCode(1),
                "CreateWindow\\(\\) failed:  Cannot create a window\\.");
}

// ---- the extension loader ----

TEST_F(window_gl, load_extensions_on_the_real_driver_reports_nothing_and_fills_what_the_system_calls) {
    const std::string err = load_and_capture();
    EXPECT_EQ(err, "") << "the driver offers everything, so nothing may be reported";
    EXPECT_TRUE(has_extension("GL_ARB_vertex_buffer_object"));
    for (void* entry : {(void*)demo_glGenBuffersARB, (void*)demo_glBindBufferARB, (void*)demo_glActiveTextureARB,
                        (void*)demo_glTexImage3D, (void*)demo_glBlendFuncSeparate, (void*)demo_glCreateShader,
                        (void*)demo_glUniformMatrix4fv, (void*)demo_glGenFramebuffers,
                        (void*)demo_glCheckFramebufferStatus, (void*)demo_wglSwapIntervalEXT}) {
        EXPECT_NE(entry, nullptr);
    }
    // The fetched entry points are the driver's real ones.
    GLuint buffer = 0;
    glGenBuffersARB(1, &buffer);
    EXPECT_NE(buffer, 0u);
    glDeleteBuffersARB(1, &buffer);
    GLuint shader = glCreateShader(GL_VERTEX_SHADER);
    EXPECT_NE(shader, 0u);
    glDeleteShader(shader);
}

TEST_F(window_gl, a_missing_extension_is_reported_with_its_own_text_and_loading_goes_on) {
    struct cCase {
        const char* extension;
        const char* message;
    };
    // Every check that lets loading go on, with its documented text.
    const cCase cases[] = {
        {"GL_ARB_texture_compression", "# WARNING: GL_ARB_texture_compression not supported\n"},
        {"GL_ARB_framebuffer_object", "# WARNING: GL_ARB_framebuffer_object not supported\n"},
        {"GL_ARB_draw_buffers", "# WARNING: GL_ARB_draw_buffers not supported\n"},
        {"GL_SGIS_texture_lod", "# WARNING: GL_SGIS_texture_lod not supported\n"},
        {"GL_SGIS_generate_mipmap", "# WARNING: GL_SGIS_generate_mipmap not supported\n"},
        {"GL_ARB_texture_env_add", "# WARNING: GL_ARB_texture_env_add not supported\n"},
        {"GL_EXT_texture_lod_bias", "# WARNING: EXT_texture_lod_bias not supported\n"},
        {"GL_ARB_texture_float", "# WARNING: GL_ARB_texture_float not supported\n"},
        {"GL_ARB_multisample", "# WARNING: GL_ARB_multisample not supported\n"},
        {"GL_ARB_texture_non_power_of_two", "# WARNING: GL_ARB_texture_non_power_of_two not supported!\n"},
        {"GL_ARB_pixel_buffer_object",
         "# WARNING: \tGL_ARB_pixel_buffer_object not supported! (go bug your hardware-vendor)\n"},
        {"GL_ARB_point_sprite", "# WARNING: \tGL_ARB_point_sprite not supported! (go bug your hardware-vendor)\n"},
    };
    real_get_string = demo_glGetString;
    for (const cCase& c : cases) {
        SCOPED_TRACE(c.extension);
        crafted_extensions = driver_extensions_without(c.extension);
        demo_glGetString = &crafted_get_string;
        demo_glQueryCounter = nullptr;
        const std::string err = load_and_capture();
        demo_glGetString = real_get_string;
        EXPECT_EQ(err, c.message);
        EXPECT_NE(demo_glQueryCounter, nullptr) << "the loader stopped after the missing extension";
    }
}

TEST_F(window_gl, an_extension_that_only_shares_a_prefix_counts_as_missing) {
    craft_extensions(driver_extensions_without("GL_ARB_point_sprite", "GL_ARB_point_sprite_x"));
    EXPECT_FALSE(has_extension("GL_ARB_point_sprite"));
    EXPECT_NE(load_and_capture().find("\tGL_ARB_point_sprite not supported!"), std::string::npos);
}

TEST_F(window_gl, a_missing_entry_point_is_named_then_its_group_reported) {
    set_gl_resolver(&losing_resolver);
    lost_names = {"glQueryCounter"};
    EXPECT_EQ(load_and_capture(), "glQueryCounter not initialized\n# WARNING: GL_ARB_timer_query not supported...\n");
    EXPECT_EQ(demo_glQueryCounter, nullptr);
    EXPECT_NE(demo_glGetQueryObjectui64v, nullptr);

    lost_names = {"glFenceSync", "glStencilMaskSeparate", "glBeginQuery"};
    EXPECT_EQ(load_and_capture(),
              "glFenceSync not initialized\n# WARNING: sync-objects not supported...\n"
              "glStencilMaskSeparate not initialized\n# WARNING: stencil functions not supported...\n"
              "glBeginQuery not initialized\n# WARNING: GL_ARB_occlusion_query not supported...\n");

    lost_names = {"glBindBufferARB", "glVertexAttribPointer"};
    EXPECT_EQ(load_and_capture(), "glBindBufferARB not initialized\nglVertexAttribPointer not initialized\n")
        << "groups without a group message name only the entry points";
}

TEST_F(window_gl, the_point_parameter_entry_points_are_fetched_quietly) {
    set_gl_resolver(&losing_resolver);
    lost_names = {"glPointParameterfARB", "glPointParameterfvARB"};
    EXPECT_EQ(load_and_capture(), "");
    EXPECT_EQ(demo_glPointParameterfARB, nullptr);
}

using window_gl_death = window_gl;

TEST_F(window_gl_death, missing_buffer_objects_end_the_process_with_a_failure_status) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    craft_extensions(driver_extensions_without("GL_ARB_vertex_buffer_object"));
    EXPECT_EXIT(load_extensions(), ::testing::ExitedWithCode(1),
                "^# WARNING: GL_ARB_vertex_buffer_object not supported\n$");
}

TEST_F(window_gl_death, missing_multitexture_ends_the_process_with_minus_one) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    craft_extensions(driver_extensions_without("GL_ARB_multitexture"));
    EXPECT_EXIT(load_extensions(), ::testing::ExitedWithCode(255), "^# WARNING: GL_ARB_multitexture not supported\n$");
}

// ---- messages ----

SDL_Event key_event(SDL_Keycode key) {
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.state = SDL_PRESSED;
    e.key.keysym.sym = key;
    return e;
}

SDL_Event text_event(const char* text) {
    SDL_Event e{};
    e.type = SDL_TEXTINPUT;
    SDL_strlcpy(e.text.text, text, sizeof(e.text.text));
    return e;
}

SDL_Event window_event(const cWindow& window, Uint8 what) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.event = what;
    e.window.windowID = SDL_GetWindowID(window.handle);
    return e;
}

std::vector<std::pair<int, int>> kinds_and_keys(const std::vector<cWindowMessage>& messages) {
    std::vector<std::pair<int, int>> result;
    for (const auto& m : messages) result.emplace_back(m.kind, m.key);
    return result;
}

TEST_F(window_gl, events_reach_the_procedure_as_the_host_messages) {
    window.dispatch_messages();  // whatever opening queued
    received.clear();
    window.procedure = &recording_procedure;
    SDL_Event events[] = {
        key_event(SDLK_ESCAPE),
        key_event(SDLK_SPACE),
        key_event(SDLK_q),
        text_event("qQ"),
        text_event("\xC3\xA9"),  // e acute, one character of two bytes
        key_event(SDLK_F5),
        key_event(SDLK_LEFT),
        window_event(window, SDL_WINDOWEVENT_FOCUS_GAINED),
        window_event(window, SDL_WINDOWEVENT_FOCUS_LOST),
        window_event(window, SDL_WINDOWEVENT_CLOSE),
    };
    for (SDL_Event& e : events) ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    ASSERT_EQ(SDL_PushEvent(&quit), 1);

    window.dispatch_messages();
    using M = cWindowMessage;
    const std::vector<std::pair<int, int>> expected = {
        {M::key_down, 27},  {M::key_down, 32},    {M::key_down, 'Q'},      {M::character, 113},
        {M::character, 81}, {M::character, 233},  {M::key_down, 116},      {M::key_down, 37},
        {M::focus_gained, 0}, {M::focus_lost, 0}, {M::close_request, 0},   {M::close_request, 0},
    };
    EXPECT_EQ(kinds_and_keys(received), expected);
    EXPECT_FALSE(SDL_HasEvents(SDL_FIRSTEVENT, SDL_LASTEVENT)) << "dispatch must drain the queue";
    window.procedure = nullptr;
}

TEST_F(window_gl, a_resize_that_asks_for_a_repaint_gets_it_in_the_same_drain) {
    window.dispatch_messages();
    received.clear();
    window.procedure = &recording_procedure;
    repaint_on_resize = true;
    SDL_Event resized = window_event(window, SDL_WINDOWEVENT_SIZE_CHANGED);
    ASSERT_EQ(SDL_PushEvent(&resized), 1);
    window.dispatch_messages();
    repaint_on_resize = false;
    window.procedure = nullptr;
    using M = cWindowMessage;
    EXPECT_EQ(kinds_and_keys(received), (std::vector<std::pair<int, int>>{{M::resized, 0}, {M::paint, 0}}));

    // Requests between drains are answered once, by the next drain.
    received.clear();
    window.procedure = &recording_procedure;
    window.request_repaint();
    window.request_repaint();
    window.dispatch_messages();
    window.dispatch_messages();
    window.procedure = nullptr;
    EXPECT_EQ(kinds_and_keys(received), (std::vector<std::pair<int, int>>{{M::paint, 0}}));
}

TEST_F(window_gl, without_a_procedure_messages_are_drained_and_dropped) {
    window.procedure = nullptr;
    SDL_Event escape = key_event(SDLK_ESCAPE);
    SDL_Event close = window_event(window, SDL_WINDOWEVENT_CLOSE);
    SDL_PushEvent(&escape);
    SDL_PushEvent(&close);
    window.dispatch_messages();
    EXPECT_FALSE(SDL_HasEvents(SDL_FIRSTEVENT, SDL_LASTEVENT));
}

// ---- vertical synchronisation ----

int refuse_swap_interval(int) { return 0; }

TEST_F(window_gl, a_refused_swap_interval_is_a_note_on_standard_output) {
    load_and_capture();
    {
        cCaptureStream out(STDOUT_FILENO);
        cCaptureStream err(STDERR_FILENO);
        enable_vsync();
        EXPECT_EQ(err.stop(), "") << "the real driver";
        const std::string printed = out.stop();
        if (SDL_GL_GetSwapInterval() != 1) {
            EXPECT_EQ(printed.rfind("# note: ", 0), 0u) << printed;
        }
    }
    // A driver that refuses, whatever this machine's does.
    const auto real = demo_wglSwapIntervalEXT;
    demo_wglSwapIntervalEXT = &refuse_swap_interval;
    cCaptureStream out(STDOUT_FILENO);
    cCaptureStream err(STDERR_FILENO);
    enable_vsync();
    demo_wglSwapIntervalEXT = real;
    EXPECT_EQ(err.stop(), "");
    EXPECT_EQ(out.stop(),
              "# note: the display driver refused swap interval 1; frames are not synchronised to the display\n");
}

// ---- letterboxing ----

TEST_F(window_gl, a_drawable_of_the_render_size_leaves_the_table_and_viewport_alone) {
    load_and_capture();
    EXPECT_FALSE(letterbox_active());
    EXPECT_EQ((void*)demo_glViewport, platform_gl_resolver("glViewport"));
    EXPECT_EQ((void*)demo_glBindFramebuffer, platform_gl_resolver("glBindFramebuffer"));
    glViewport(0, 0, 1280, 720);
    EXPECT_EQ(viewport_in_gl(), (std::vector<int>{0, 0, 1280, 720}));
}

// An off-screen framebuffer with a colour texture, as render targets make them.
struct cOffscreen {
    GLuint texture = 0, framebuffer = 0;
    cOffscreen(int w, int h) {
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        glGenFramebuffers(1, &framebuffer);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
    }
    ~cOffscreen() {
        glDeleteFramebuffers(1, &framebuffer);
        glDeleteTextures(1, &texture);
    }
};

std::vector<int> pixel_at(int x, int y) {
    unsigned char rgba[4] = {0, 0, 0, 0};
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    return {rgba[0], rgba[1], rgba[2]};
}

TEST_F(window_gl, a_larger_drawable_shows_the_whole_picture_centred_and_off_screen_targets_stay_plain) {
    load_and_capture();
    SDL_SetWindowSize(window.handle, 1920, 1200);
    window.dispatch_messages();
    ASSERT_EQ(window.drawable_width, 1920);
    ASSERT_EQ(window.drawable_height, 1200);
    ASSERT_TRUE(letterbox_active());
    EXPECT_EQ(letterbox_box(), (cViewportRect{0, 60, 1920, 1080}));
    EXPECT_EQ(window.render_width(), 1280) << "the render size never follows the drawable";

    glViewport(0, 0, 1280, 720);
    EXPECT_EQ(viewport_in_gl(), (std::vector<int>{0, 60, 1920, 1080}));

    // The render-target sequence: viewport for the target, bind, draw, bind the window, viewport back.
    cOffscreen target(640, 360);
    glViewport(0, 0, 640, 360);
    glBindFramebuffer(GL_FRAMEBUFFER, target.framebuffer);
    EXPECT_EQ(viewport_in_gl(), (std::vector<int>{0, 0, 640, 360}));
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    EXPECT_EQ(viewport_in_gl(), (std::vector<int>{0, 60, 960, 540}));
    glViewport(0, 0, 1280, 720);
    EXPECT_EQ(viewport_in_gl(), (std::vector<int>{0, 60, 1920, 1080}));

    // The bars are black after the swap, the picture is what was drawn.
    glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    window.swap_buffers();
    EXPECT_EQ(pixel_at(960, 5), (std::vector<int>{0, 0, 0})) << "bottom bar";
    EXPECT_EQ(pixel_at(960, 1195), (std::vector<int>{0, 0, 0})) << "top bar";
    EXPECT_EQ(pixel_at(960, 600), (std::vector<int>{255, 0, 0})) << "picture";
    EXPECT_EQ(pixel_at(0, 60), (std::vector<int>{255, 0, 0})) << "picture's corner";
    GLfloat clear_colour[4] = {0, 0, 0, 0};
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear_colour);
    EXPECT_EQ(clear_colour[0], 1.0f) << "the bar clearing must restore the clear colour";
    EXPECT_FALSE(glIsEnabled(GL_SCISSOR_TEST));

    // Back to the render size: the table holds the driver's entries again, viewports are plain.
    SDL_SetWindowSize(window.handle, 1280, 720);
    window.dispatch_messages();
    EXPECT_FALSE(letterbox_active());
    EXPECT_EQ((void*)demo_glViewport, platform_gl_resolver("glViewport"));
    EXPECT_EQ(viewport_in_gl(), (std::vector<int>{0, 0, 1280, 720}));
}

TEST_F(window_gl, a_drawable_that_shrinks_while_a_target_is_bound_keeps_the_target_viewport_plain) {
    load_and_capture();
    cOffscreen target(320, 180);
    glBindFramebuffer(GL_FRAMEBUFFER, target.framebuffer);
    glViewport(0, 0, 320, 180);
    SDL_SetWindowSize(window.handle, 640, 480);
    window.dispatch_messages();
    ASSERT_TRUE(letterbox_active());
    EXPECT_EQ(viewport_in_gl(), (std::vector<int>{0, 0, 320, 180}));
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    // Box on 640x480: 640x360 at y 60; a quarter-size viewport fills half of it.
    EXPECT_EQ(viewport_in_gl(), (std::vector<int>{0, 60, 160, 90}));
}

TEST(window_letterbox, a_render_size_smaller_than_the_window_is_scaled_up_from_the_start) {
    cWindowDesc desc = host_desc();
    desc.render_width = 640;
    desc.render_height = 360;
    cWindow window;
    {
        cCaptureStream quiet(STDOUT_FILENO);
        window.open(desc);
        load_extensions();
    }
    EXPECT_TRUE(letterbox_active());
    EXPECT_EQ(viewport_in_gl(), (std::vector<int>{0, 0, 1280, 720})) << "the whole render area from the start";
    glViewport(0, 0, 320, 180);
    EXPECT_EQ(viewport_in_gl(), (std::vector<int>{0, 0, 640, 360}));
    window.close();
    EXPECT_FALSE(letterbox_active());
    EXPECT_NE((void*)demo_glViewport, nullptr);
}

}  // namespace
