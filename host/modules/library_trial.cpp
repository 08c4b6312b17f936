// The trial side of trying a module library in a process of its own. Plain POSIX writes and
// the dynamic loader service; no streams, no file utilities, nothing of the host beyond that,
// since the trial program is built from this file alone and must start in a moment.
#include "host/modules/library_trial.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "host/modules/dynamic_library.h"
#include "host/modules/module_config.h"

namespace {

bool write_whole(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += static_cast<size_t>(put);
    }
    return true;
}

}  // namespace

void run_library_trial(const char* library) {
    // A crash while loading ends the trial by its own signal, whatever handlers the program's
    // runtime set up (a sanitizer's would turn it into a report and another status).
    for (int number : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) ::signal(number, SIG_DFL);
    std::string error;
    void* loaded = load_library(library, error);
    int status = kProbeLoads;
    if (!loaded) {
        status = kProbeNotLoaded;
    } else if (!library_export(loaded, kCreateSceneExport)) {
        status = kProbeLacksCreate;
    } else if (!library_export(loaded, kDeleteSceneExport)) {
        status = kProbeLacksDelete;
    }
    // Started by hand, without the report descriptor, it says it on standard error.
    if (!error.empty() && !write_whole(kProbeReportFd, error)) write_whole(STDERR_FILENO, error);
    // No teardown: neither the library's destructors nor the process's exit steps run for a trial.
    ::_exit(status);
}

int library_trial_main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], kLibraryProbeOption) == 0) run_library_trial(argv[2]);
    write_whole(STDERR_FILENO, std::string("usage: ") + (argc > 0 ? argv[0] : "demoplayer_probe") + " " +
                                   kLibraryProbeOption + " LIBRARY (the development mode runs it)\n");
    return 2;
}
