// The process entry of demoplayer: logs, working directory, start-up, loop, exit.
#include <cstdio>
#include <iostream>

#include "host/app/demo_host.h"
#include "base/files/file_utils.h"
#include "base/log/console.h"

int main() {
    redirect_console();
    // The player starts in show/bin/; every relative path of the show resolves against show/.
    set_current_directory("..");
    std::cout << "cwd: " << current_directory() << std::endl;

    // Lives until the process ends: nothing of the show is torn down before exit.
    auto* host = new cDemoHost();
    host->start_up();
    host->main_loop();

    std::fflush(stdout);
    std::fflush(stderr);
    return 0;
}
