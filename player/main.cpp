// The process entry of demoplayer: the command line, then logs, working directory, start-up,
// loop, exit. Without arguments it is the show as it ships, full screen; "--windowed" plays it
// in a window; "--dev" starts the development mode instead; anything else gets the usage line
// and status 2, except the development mode's own trial of a module library (never shown in
// the usage). The show is the folder above the program's own, wherever it was started from.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "host/app/av_offset.h"
#include "host/app/demo_host.h"
#include "base/files/file_utils.h"
#include "authoring/dev/dev_mode.h"
#include "authoring/dev/dev_options.h"
#include "host/modules/library_trial.h"
#include "host/modules/module_config.h"
#include "host/modules/module_input.h"
#include "player/show_folder.h"

int main(int argc, char** argv) {
    // The development mode's trial of a rebuilt module library, in a process of its own.
    if (argc == 3 && std::string(argv[1]) == kLibraryProbeOption) run_library_trial(argv[2]);
    cPlayerOptions options;
    std::string reason;
    if (!parse_player_options(std::vector<std::string>(argv + 1, argv + argc), options, reason)) {
        std::cerr << "demoplayer: " << reason << "; usage: " << dev_config::kUsage << std::endl;
        return 2;
    }
    // show/bin/, wherever the player was started from.
    enter_program_directory();
    if (options.dev) return run_dev_mode(options.dev_options);

    // Logs in show/bin/ (or the state directory of a read-only show); every relative path of
    // the show resolves against show/.
    const cShowPlaces places = enter_show_folder();
    std::cout << "cwd: " << current_directory() << std::endl;

    // Lives until the process ends: nothing of the show is torn down before exit.
    auto* host = new cDemoHost();
    cStartupOptions startup;
    startup.fullscreen = !options.windowed;
    startup.module_cache_directory = places.module_cache_directory;
    host->start_up(startup);
    host->input->set_av_offset_ms(av_offset_from_environment());
    host->main_loop();

    std::fflush(stdout);
    std::fflush(stderr);
    return 0;
}
