// The caller's side of a module library's trial: the trial program found, started as a child
// process (base/process: posix_spawn, no copy of the playing process's memory, nothing of its
// state beyond the environment), its report read through a pipe, its end awaited with a
// deadline. Never blocks the caller past that deadline, never leaves the trial behind.
#include "host/modules/library_probe.h"

#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "base/files/file_utils.h"
#include "base/process/child_process.h"
#include "host/modules/module_config.h"

namespace {

// The report is a line or two of the loader's; more is cut off.
constexpr size_t kMaxReportBytes = 4096;

std::string without_line_end(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
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
    cChildOptions options;
    // Nothing of the console: what the library's constructors print is the loaded library's
    // to say, once, in the show.
    options.input.kind = cChildStream::null_device;
    options.output.kind = cChildStream::null_device;
    options.errors.kind = cChildStream::same_as_output;
    options.descriptors = {{report[1], kProbeReportFd}};
    // A group of its own: Ctrl-C at the terminal is for the player, not its trial.
    options.own_group = true;
    options.clear_signal_mask = true;
    options.default_signals = {SIGPIPE};

    cChildProcess trial;
    const bool started = trial.start({program, kLibraryProbeOption, library}, options);
    ::close(report[1]);
    if (!started) {
        ::close(report[0]);
        result.detail = "\"" + program + "\": " + without_line_end(error_text(trial.start_error()));
        return result;
    }

    // The report is read until the trial closes it (it ended) or the deadline passes.
    const auto deadline = deadline_after(timeout_seconds);
    std::string report_text;
    read_pipes({{report[0], &report_text}}, deadline, kMaxReportBytes);
    ::close(report[0]);
    const std::string text = without_line_end(report_text);
    const cChildEnd& end = trial.wait_or_kill(deadline);
    if (end.timed_out || end.wait_error != 0) {
        result.outcome = cLibraryProbe::hung;
        return result;
    }
    if (!end.exited) {
        result.outcome = cLibraryProbe::crashed;
        result.detail = signal_name(end.signal);
        return result;
    }
    switch (end.status) {
        case kProbeLoads: result.outcome = cLibraryProbe::loads; break;
        case kProbeNotLoaded:
            result.outcome = cLibraryProbe::not_loaded;
            result.detail = text;
            break;
        case kProbeLacksCreate:
        case kProbeLacksDelete:
            result.outcome = cLibraryProbe::lacks_export;
            result.detail = end.status == kProbeLacksCreate ? kCreateSceneExport : kDeleteSceneExport;
            break;
        default:
            result.outcome = cLibraryProbe::failed;
            result.detail = "status " + std::to_string(end.status);
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
