// The window of the show and its GL context: the platform layer under the graphics context.
// Opens one window (SDL2) with a double-buffered compatibility-profile GL context, reports the
// GL implementation, pumps window messages into the host's window procedure, swaps buffers,
// and loads and checks the GL entry points. Every failure to get a window ends the process.
#pragma once
#include <cstdint>
#include <string>

struct SDL_Window;

struct cWindowDesc {
    int32_t width = -1;            // client width, and display width in full-screen mode
    int32_t height = -1;           // client height, and display height in full-screen mode
    int32_t render_width = -1;     // width of the area the graphics context renders to
    int32_t render_height = -1;    // height of that area (unless use_window_height)
    bool fullscreen = false;       // switch the display to width x height
    bool use_window_height = false;  // render height = height instead of render_height
    bool show = true;              // show the window once the context exists
};

// What the window layer hands to the window procedure: the platform's events, reduced to the
// messages the host's table knows.
struct cWindowMessage {
    enum kind_t { resized, focus_gained, focus_lost, key_down, character, close_request, other, paint };
    kind_t kind = other;
    int32_t key = 0;  // key_down: virtual-key style code (27 Escape, 32 Space, ...); character: the character
    int32_t modifiers = 0;  // key_down: the kKeyModifier* bits held with the key
};

// Modifier bits of key_down messages.
enum : int32_t { kKeyModifierShift = 1, kKeyModifierControl = 2, kKeyModifierAlt = 4 };

// Virtual-key style codes of key_down messages. Letters are their capitals ('A' 65 .. 'Z' 90),
// digits their characters ('0' 48 .. '9' 57); a key without a code of its own gives 0.
enum : int32_t {
    kKeyBackspace = 8, kKeyTab = 9, kKeyReturn = 13, kKeyShift = 16, kKeyControl = 17, kKeyAlt = 18,
    kKeyPause = 19, kKeyEscape = 27, kKeySpace = 32, kKeyPageUp = 33, kKeyPageDown = 34, kKeyEnd = 35,
    kKeyHome = 36, kKeyLeft = 37, kKeyUp = 38, kKeyRight = 39, kKeyDown = 40, kKeyInsert = 45,
    kKeyDelete = 46, kKeyF1 = 112,  // F2 .. F12 follow
};

class cWindow;
// The host's window procedure; returns 0 for a handled message. It may end the process.
using cWindowProcedure = int (*)(cWindow& window, const cWindowMessage& message);

class cWindow {
public:
    cWindowDesc description;           // copied at the end of open
    SDL_Window* handle = nullptr;      // also given to the audio layer
    void* gl_context = nullptr;        // SDL_GLContext, current on the main thread from open on
    std::string vendor, renderer, version;

    // Creates the window ("OpenGL" at (0, 0)) and its GL context, makes it current, fetches the
    // base GL functions, writes the three "# glinfo" lines and shows the window. Returns only
    // on success; every failure writes its message and ends the process with status 1.
    void open(const cWindowDesc& desc);

    // Handles every waiting event without blocking, through the window procedure.
    void dispatch_messages();
    // Presents the back buffer.
    void swap_buffers();

    // The render size of the graphics context and the pool.
    int32_t render_width() const;
    int32_t render_height() const;

    // Where window messages go; the host installs its own before the loop runs. Without one,
    // messages are taken from the queue and dropped.
    cWindowProcedure procedure = nullptr;
    // Whatever the procedure was installed for; the window never reads it. A procedure that
    // belongs to an object finds that object here instead of in a global.
    void* procedure_context = nullptr;

    // Asks for a repaint: once the queue is empty, the running (or else the next)
    // dispatch_messages hands the procedure one paint message, however many requests came.
    // The picture is redrawn every frame anyway.
    void request_repaint();
    bool repaint_requested = false;

    // The size of the window's drawable in pixels, as the platform last reported it. It differs
    // from the render size where the display could not switch to the requested mode; the
    // picture is then letterboxed (see letterbox.h).
    int32_t drawable_width = 0;
    int32_t drawable_height = 0;

    // Destroys the GL context and the window. The show never calls it (the process ends with
    // the window open); tests that open several windows in one process do.
    void close();
};

// The render size rule on its own (also used before a window exists).
int32_t render_width_of(const cWindowDesc& desc);
int32_t render_height_of(const cWindowDesc& desc);

// True when name is one whole token of the current context's GL_EXTENSIONS string.
bool has_extension(const char* name);
bool has_extension_in(const char* extensions, const char* name);

// Fills the entry-point table's extension groups and checks the extensions, writing each
// missing one's message. Ends the process when GL_ARB_vertex_buffer_object (status 1) or
// GL_ARB_multitexture (status 255) is missing. The context must be current.
void load_extensions();

// Swap interval 1 (vertical synchronisation); a driver that refuses it is reported with a
// "# note: " line on standard output and the show goes on without it.
void enable_vsync();

// Fetches the base GL functions of the entry-point table quietly; one the driver does not
// give is named with " not initialized". open() runs it once the context is current.
void load_base_functions();

// How entry points are found by name. The platform's resolver asks SDL_GL_GetProcAddress and
// provides wglSwapIntervalEXT itself (over SDL_GL_SetSwapInterval). Tests install their own to
// make chosen entry points "missing"; set_gl_resolver(nullptr) restores the platform's.
using cGLResolver = void* (*)(const char* name);
void set_gl_resolver(cGLResolver resolver);
void* platform_gl_resolver(const char* name);
void* resolve_gl_entry(const char* name);  // through the installed resolver
