// Start-up of the development mode over the host application; the loop is the session's.
#include "host/dev/dev_mode.h"

#include <iostream>

#include "base/files/file_utils.h"
#include "host/app/av_offset.h"
#include "host/app/demo_host.h"
#include "host/dev/console_tee.h"
#include "host/dev/dev_session.h"
#include "host/modules/module_input.h"

void run_dev_mode(const cDevOptions& options) {
    redirect_console_with_tee();
    // As the player: started in show/bin/, every relative path resolves against show/.
    set_current_directory("..");
    std::cout << "cwd: " << current_directory() << std::endl;

    // Both live until the process ends, as everything of the show does.
    auto* host = new cDemoHost();
    cStartupOptions startup;
    startup.fullscreen = false;  // a resizable window; the picture is letterboxed into it
    host->start_up(startup);
    host->input->set_av_offset_ms(av_offset_from_environment());
    auto* session = new cDevSession(*host, options);
    // The browser editor's server starts here, on session->control() and options.editor_port.
    session->run();
}
