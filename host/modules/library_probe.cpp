// The caller's side of a module library's trial: the trial program found, started with
// posix_spawn (no copy of the playing process's memory, nothing of its state beyond the
// environment), its report read through a pipe, its end awaited with a deadline. Never
// blocks the caller past that deadline, never leaves the trial behind.
#include "host/modules/library_probe.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "base/files/file_utils.h"
#include "host/modules/module_config.h"

extern char** environ;

namespace {

using probe_clock = std::chrono::steady_clock;

// The report is a line or two of the loader's; more is cut off.
constexpr size_t kMaxReportBytes = 4096;

std::string without_line_end(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

int milliseconds_left(probe_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - probe_clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left);
}

// Reads the report until the trial closes it (it ended) or the deadline passes.
std::string read_report(int fd, probe_clock::time_point deadline) {
    std::string report;
    char buffer[512];
    for (;;) {
        pollfd ready{fd, POLLIN, 0};
        const int got = ::poll(&ready, 1, milliseconds_left(deadline));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        const ssize_t read = ::read(fd, buffer, sizeof buffer);
        if (read < 0 && errno == EINTR) continue;
        if (read <= 0) break;
        if (report.size() < kMaxReportBytes) report.append(buffer, static_cast<size_t>(read));
    }
    return report;
}

// The trial's end, waited for until the deadline; past it the trial is killed. False then.
bool wait_for(pid_t pid, probe_clock::time_point deadline, int& status) {
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) return true;
        if (done < 0 && errno != EINTR) return false;
        if (probe_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return false;
}

std::string signal_name(int number) {
    const char* abbreviation = ::sigabbrev_np(number);
    return abbreviation ? std::string("SIG") + abbreviation : "signal " + std::to_string(number);
}

}  // namespace

cLibraryProbe probe_library(const std::string& program, const std::string& library, double timeout_seconds) {
    cLibraryProbe result;
    int report[2] = {-1, -1};
    if (::pipe2(report, O_CLOEXEC) != 0) {
        result.detail = without_line_end(error_text(errno));
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Nothing of the console: what the library's constructors print is the loaded library's
    // to say, once, in the show.
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawn_file_actions_adddup2(&actions, report[1], kProbeReportFd);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A group of its own: Ctrl-C at the terminal is for the player, not its trial.
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::string option = kLibraryProbeOption;
    std::string program_copy = program, library_copy = library;
    std::vector<char*> argv{program_copy.data(), option.data(), library_copy.data(), nullptr};
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(report[1]);
    if (spawned != 0) {
        ::close(report[0]);
        result.detail = "\"" + program + "\": " + without_line_end(error_text(spawned));
        return result;
    }

    const auto deadline = probe_clock::now() + std::chrono::duration_cast<probe_clock::duration>(
                                                   std::chrono::duration<double>(timeout_seconds));
    const std::string text = without_line_end(read_report(report[0], deadline));
    ::close(report[0]);
    int status = 0;
    if (!wait_for(pid, deadline, status)) {
        result.outcome = cLibraryProbe::hung;
        return result;
    }
    if (WIFSIGNALED(status)) {
        result.outcome = cLibraryProbe::crashed;
        result.detail = signal_name(WTERMSIG(status));
        return result;
    }
    switch (WEXITSTATUS(status)) {
        case kProbeLoads: result.outcome = cLibraryProbe::loads; break;
        case kProbeNotLoaded:
            result.outcome = cLibraryProbe::not_loaded;
            result.detail = text;
            break;
        case kProbeLacksCreate:
        case kProbeLacksDelete:
            result.outcome = cLibraryProbe::lacks_export;
            result.detail = WEXITSTATUS(status) == kProbeLacksCreate ? kCreateSceneExport : kDeleteSceneExport;
            break;
        default:
            result.outcome = cLibraryProbe::failed;
            result.detail = "status " + std::to_string(WEXITSTATUS(status));
            break;
    }
    return result;
}

std::string library_probe_program() {
    char own[4096];
    const ssize_t length = ::readlink(kOwnProgramPath, own, sizeof own - 1);
    if (length > 0) {
        const std::string path(own, static_cast<size_t>(length));
        const size_t slash = path.rfind('/');
        const std::string beside = path.substr(0, slash + 1) + kProbeProgramName;
        if (slash != std::string::npos && ::access(beside.c_str(), X_OK) == 0) return beside;
    }
    return kOwnProgramPath;
}
