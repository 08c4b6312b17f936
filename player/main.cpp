// The process entry of demoplayer: the command line, then logs, working directory, start-up,
// loop, exit. Without arguments it is the show as it ships; "--dev" starts the development
// mode instead; anything else gets the usage line and status 2, except the development mode's
// own trial of a module library (never shown in the usage).
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "host/app/av_offset.h"
#include "host/app/demo_host.h"
#include "base/files/file_utils.h"
#include "base/log/console.h"
#include "authoring/dev/dev_mode.h"
#include "authoring/dev/dev_options.h"
#include "host/modules/library_trial.h"
#include "host/modules/module_config.h"
#include "host/modules/module_input.h"

int main(int argc, char** argv) {
    // The development mode's trial of a rebuilt module library, in a process of its own.
    if (argc == 3 && std::string(argv[1]) == kLibraryProbeOption) run_library_trial(argv[2]);
    cPlayerOptions options;
    std::string reason;
    if (!parse_player_options(std::vector<std::string>(argv + 1, argv + argc), options, reason)) {
        std::cerr << "demoplayer: " << reason << "; usage: " << dev_config::kUsage << std::endl;
        return 2;
    }
    if (options.dev) return run_dev_mode(options.dev_options);

    redirect_console();
    // The player starts in show/bin/; every relative path of the show resolves against show/.
    set_current_directory("..");
    std::cout << "cwd: " << current_directory() << std::endl;

    // Lives until the process ends: nothing of the show is torn down before exit.
    auto* host = new cDemoHost();
    host->start_up();
    host->input->set_av_offset_ms(av_offset_from_environment());
    host->main_loop();

    std::fflush(stdout);
    std::fflush(stderr);
    return 0;
}
