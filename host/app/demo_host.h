// The host application: the objects of the show in start-up order, the frame loop and the
// render pass. demoplayer runs it as it is; tools run the same start-up and render pass with
// another audio device (the "no sound" device, whose clock they set) and their own loop.
// The host's objects are made once and never destroyed: the end of the process releases them.
#pragma once
#include <cstdint>
#include <string>

#include "gfx/window/window.h"
#include "host/show/host_constants.h"
#include "host/sound/sound_module_bass.h"

class igfxContext;
class cSyncDevice;
class cModuleInput;
class cModuleManager;

struct cStartupOptions {
    int32_t audio_device = 1;  // 1: the default output; 0: no sound, the caller moves the clock
    bool fullscreen = true;
    bool show_window = true;
    // An image that cannot be used gets a visible stand-in instead of ending the process (the
    // development mode).
    bool stand_in_images = false;
    // The window and render size. The player always runs at the show's 1280 x 720; a capture
    // renders at the size it writes, and every screen-relative render target follows it.
    int32_t width = host_constants::window_width;
    int32_t height = host_constants::window_height;
    // Where the modules are copied to and loaded from: the show's own, or another folder of a
    // show that cannot write its own (relative paths resolve against the show).
    std::string module_cache_directory = host_constants::module_cache_directory;
};

class cDemoHost {
public:
    cWindow window;
    igfxContext* gfx = nullptr;  // the host's gfxContext
    cSoundModule_bass sound;
    cSyncDevice* sync = nullptr;
    cModuleInput* input = nullptr;
    cModuleManager* modules = nullptr;

    // Window, graphics context, sound, sync device, module input, modules, and every scene's
    // init, in this order. Ends the process on the fatal failures of the lower layers.
    void start_up(const cStartupOptions& options = {});
    // Resumes the audio output and runs frames until the music passes the end of the show.
    void main_loop();
    // One frame's module rendering: clear, then every module whose track is above 0.
    void render_pass();
    // The loop's frame without the end test: messages, render pass, channel update, swap.
    void run_frame();
};

// The window-procedure table: Escape, 'q', 'Q' and the close request end the show; every
// other key and message changes nothing (a resize only asks for a repaint).
bool message_ends_show(const cWindowMessage& message);

// The player's window procedure: a message that ends the show ends the process with status 0
// at once; a resize asks for a repaint.
int host_window_procedure(cWindow& window, const cWindowMessage& message);
