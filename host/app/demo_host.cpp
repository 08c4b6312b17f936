// Start-up order, frame loop and render pass of the host. Uses every subsystem; owns nothing
// it ever frees (the process end releases the window, the context, the modules).
#include "host/app/demo_host.h"

#include <cstdlib>

#include "gfx/context/gfx_context.h"
#include "host/show/host_constants.h"
#include "base/files/file_utils.h"
#include "host/modules/module_input.h"
#include "host/modules/module_manager.h"
#include "host/sync/sync_device.h"
#include "render_module_base.h"

using namespace host_constants;

void cDemoHost::start_up(const cStartupOptions& options) {
    // 1. The window must exist before the audio device, which is bound to it.
    cWindowDesc desc;
    desc.width = options.width;
    desc.height = options.height;
    desc.render_width = options.width;
    desc.render_height = options.height;
    desc.fullscreen = options.fullscreen;
    desc.use_window_height = false;
    desc.show = options.show_window;
    window.procedure = host_window_procedure;
    window.open(desc);

    // 2. The graphics context needs the window's GL context to be current.
    gfx = new gfxContext(options.stand_in_images);
    gfx->init(&window);

    // 3. Music loaded and playing, output paused until the loop starts.
    sound.init_device(window.handle, options.audio_device);
    sound.load(music_path);

    // 4. Tracks are read from files on first use; the show goes on without a store.
    sync = new cSyncDevice();
    sync->open_store();

    // 5.
    input = new cModuleInput(gfx, sync, &sound);

    // 6. and 7.
    modules = new cModuleManager(absolute_path(module_directory), absolute_path(options.module_cache_directory),
                                 module_pattern);
    modules->load_all();

    // 8.
    for (const auto& module : modules->modules()) {
        if (module->scene) module->scene->init(input);
    }
}

void cDemoHost::render_pass() {
    gfx->clear();
    const auto& list = modules->modules();
    const size_t count = list.size();
    for (size_t i = 0; i < count; ++i) {
        cRenderModuleBase* scene = list[i]->scene;
        if (!scene) continue;
        const int64_t time = input->time_ms();
        const float value = sync->get_value(scene->name(), time);
        if (value > 0.0f) {  // NaN, 0 and negative values leave the module off
            gfx->push_state();
            scene->render(input);
            gfx->pop_state();
        }
    }
}

void cDemoHost::run_frame() {
    window.dispatch_messages();
    render_pass();
    sound.update();
    window.swap_buffers();
}

void cDemoHost::main_loop() {
    sound.start();
    for (;;) {
        run_frame();
        if (sound.position_ms() > show_end_ms) break;
    }
}

bool message_ends_show(const cWindowMessage& message) {
    constexpr int32_t key_escape = 27;
    switch (message.kind) {
        case cWindowMessage::key_down:
            return message.key == key_escape;  // Space and every other key change nothing
        case cWindowMessage::character:
            return message.key == 'q' || message.key == 'Q';
        case cWindowMessage::close_request:
            return true;
        default:
            return false;
    }
}

int host_window_procedure(cWindow& window, const cWindowMessage& message) {
    if (message_ends_show(message)) std::exit(0);
    if (message.kind == cWindowMessage::resized) window.request_repaint();
    return 0;
}
