// Start-up of the development mode over the host application: the console tee, the show, the
// development loop and the browser editor's server on the loop's control surface. The loop is
// the session's; the process ends from it through std::exit.
#include "host/dev/dev_mode.h"

#include <cstdlib>
#include <iostream>

#include "base/files/file_utils.h"
#include "host/app/av_offset.h"
#include "host/app/demo_host.h"
#include "host/dev/console_tee.h"
#include "host/dev/dev_session.h"
#include "host/editor/editor_server.h"
#include "host/modules/module_input.h"

namespace {

// The editor's threads read the session's control surface and write to the console. The
// session is never destroyed, but the process's own teardown (static objects, the console
// tee's last copy) must not run under threads still answering pages: the server is stopped
// first, at exit, whichever way the show ends (Escape, q, Q, the window, the terminal).
cEditorServer* g_editor = nullptr;

void stop_editor() {
    cEditorServer* editor = g_editor;
    g_editor = nullptr;
    delete editor;
}

}  // namespace

void run_dev_mode(const cDevOptions& options) {
    redirect_console_with_tee();
    // As the player: started in show/bin/, every relative path resolves against show/.
    set_current_directory("..");
    std::cout << "cwd: " << current_directory() << std::endl;

    // Both live until the process ends, as everything of the show does.
    auto* host = new cDemoHost();
    cStartupOptions startup;
    startup.fullscreen = false;  // a resizable window; the picture is letterboxed into it
    startup.stand_in_images = true;
    host->start_up(startup);
    host->input->set_av_offset_ms(av_offset_from_environment());
    auto* session = new cDevSession(*host, options);

    cEditorOptions editor_options;
    editor_options.port = options.editor_port;
    g_editor = start_editor(editor_options, session->control(), ".").release();
    // Registered after the console tee's handler, so it runs before it: the editor's last
    // words still reach the terminal.
    if (g_editor) std::atexit(stop_editor);
    session->run();
}
