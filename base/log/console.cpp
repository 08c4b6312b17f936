// Console redirection and the soft assertion. Platform services used: POSIX file descriptors
// (dup2), /proc for debugger presence, the controlling terminal for the pause.
#include "console.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "base/log/log_config.h"

namespace {

std::atomic<bool> g_assertions_wait{true};

// Replaces the descriptor behind one standard stream by a freshly truncated file.
bool redirect_stream(FILE* stream, int fd, const char* file_name, bool owner_only) {
    const mode_t mode = owner_only ? kPrivateLogFileMode : kLogFileMode;
    int file = ::open(file_name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    // An existing file keeps its mode through the truncation. What is no plain file (a log sent
    // to /dev/null) is not the logs' to change.
    struct stat info {};
    const bool plain = file >= 0 && ::fstat(file, &info) == 0 && S_ISREG(info.st_mode);
    if (plain && owner_only && ::fchmod(file, kPrivateLogFileMode) != 0) {
        const int code = errno;
        ::close(file);
        file = -1;
        errno = code;
    }
    if (file < 0) {
        int code = errno;
        std::fprintf(stream, "# WARNING: cannot create \"%s\" (%s); reports stay on this stream\n", file_name,
                     std::strerror(code));
        std::fflush(stream);
        return false;
    }
    std::fflush(stream);
    // With the stream's own descriptor closed at start, open() hands out that very number:
    // the file already sits where it belongs and must stay open (without close-on-exec, as a
    // dup2 would leave it).
    if (file == fd) return ::fcntl(fd, F_SETFD, 0) == 0;
    bool ok = ::dup2(file, fd) >= 0;
    ::close(file);
    return ok;
}

bool debugger_attached() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("TracerPid:", 0) == 0) return std::stol(line.substr(10)) != 0;
    }
    return false;
}

// The shell's "pause": only where somebody can answer it.
void pause_for_enter() {
    if (!::isatty(STDIN_FILENO)) return;
    int tty = ::open("/dev/tty", O_WRONLY | O_CLOEXEC);
    if (tty >= 0) {
        static const char prompt[] = "Press Enter to continue . . . ";
        ssize_t written = ::write(tty, prompt, sizeof prompt - 1);
        (void)written;
        ::close(tty);
    }
    int c;
    while ((c = std::getchar()) != EOF && c != '\n') {
    }
}

}  // namespace

bool redirect_console(bool owner_only) {
    bool out = redirect_stream(stdout, STDOUT_FILENO, kStdoutLogName, owner_only);
    bool err = redirect_stream(stderr, STDERR_FILENO, kStderrLogName, owner_only);
    return out && err;
}

void assertions_never_wait() { g_assertions_wait = false; }

void assert_failed(const char* message) {
    if (debugger_attached())
        std::raise(SIGTRAP);
    else if (g_assertions_wait)
        pause_for_enter();
    if (message) std::cerr << "## ASSERT FAILED: " << message << std::endl;
}
