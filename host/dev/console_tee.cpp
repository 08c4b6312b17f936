// The console tee over pipes: a thread copies each pipe into its log file and onto the
// terminal. At exit the write ends are replaced by the files themselves, which lets the thread
// read the pipes dry and finish before the process goes. Terminal errors are ignored (a closed
// terminal must not stop the show); the files get every byte.
#include "host/dev/console_tee.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "base/files/file_utils.h"
#include "base/log/console.h"

namespace {

struct cTeeStream {
    int pipe_read = -1;
    int file = -1;
    int terminal = -1;
    int target_fd = -1;  // STDOUT_FILENO or STDERR_FILENO
};

struct cTee {
    cTeeStream streams[2];
    std::thread copier;
};

cTee* g_tee = nullptr;

// A stream that failed once (a terminal that went away) is written no more.
void copy_to(int fd, const char* bytes, ssize_t count, bool& broken) {
    if (!broken && !write_all(fd, bytes, static_cast<size_t>(count))) broken = true;
}

void copy_until_closed(cTee* tee) {
    pollfd fds[2];
    bool open[2] = {true, true};
    bool terminal_broken[2] = {false, false};
    bool file_broken[2] = {false, false};
    char buffer[8192];
    while (open[0] || open[1]) {
        for (int i = 0; i < 2; ++i) {
            fds[i].fd = open[i] ? tee->streams[i].pipe_read : -1;
            fds[i].events = POLLIN;
            fds[i].revents = 0;
        }
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        for (int i = 0; i < 2; ++i) {
            if (!open[i] || fds[i].revents == 0) continue;
            const ssize_t got = ::read(tee->streams[i].pipe_read, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                open[i] = false;
                continue;
            }
            copy_to(tee->streams[i].file, buffer, got, file_broken[i]);
            copy_to(tee->streams[i].terminal, buffer, got, terminal_broken[i]);
        }
    }
}

void finish_tee() {
    if (!g_tee) return;
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    // From here on the streams write straight into their files; the pipes lose their last
    // writers, so the copier sees their ends once it has read everything in them.
    for (const cTeeStream& stream : g_tee->streams) ::dup2(stream.file, stream.target_fd);
    if (g_tee->copier.joinable()) g_tee->copier.join();
}

int open_log(const char* name) { return ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644); }

}  // namespace

bool redirect_console_with_tee() {
    auto* tee = new cTee;
    const char* names[2] = {"stdout.txt", "stderr.txt"};
    const int targets[2] = {STDOUT_FILENO, STDERR_FILENO};
    int pipes[2][2] = {{-1, -1}, {-1, -1}};
    bool ok = true;
    for (int i = 0; i < 2 && ok; ++i) {
        cTeeStream& stream = tee->streams[i];
        stream.target_fd = targets[i];
        stream.file = open_log(names[i]);
        stream.terminal = ::fcntl(targets[i], F_DUPFD_CLOEXEC, 3);
        ok = stream.file >= 0 && stream.terminal >= 0 && ::pipe2(pipes[i], O_CLOEXEC) == 0;
    }
    if (!ok) {
        for (const cTeeStream& stream : tee->streams) {
            if (stream.file >= 0) ::close(stream.file);
            if (stream.terminal >= 0) ::close(stream.terminal);
        }
        for (auto& ends : pipes) {
            for (int fd : ends) {
                if (fd >= 0) ::close(fd);
            }
        }
        delete tee;
        redirect_console();
        std::cerr << "# WARNING: the console cannot be copied to the terminal; it goes to stdout.txt and stderr.txt only"
                  << std::endl;
        return false;
    }
    // A terminal that is closed while the show runs must not end it.
    std::signal(SIGPIPE, SIG_IGN);
    std::fflush(nullptr);
    for (int i = 0; i < 2; ++i) {
        tee->streams[i].pipe_read = pipes[i][0];
        ::dup2(pipes[i][1], targets[i]);
        ::close(pipes[i][1]);
    }
    g_tee = tee;
    tee->copier = std::thread(copy_until_closed, tee);
    std::atexit(finish_tee);
    return true;
}
