// The console tee over the log files: standard output and error are the files themselves, so
// every line is in its file once the writing thread's write returns; a copying thread follows
// the files (inotify) and puts what they gained onto the terminal, and a fatal signal copies
// the rest before the process goes. Terminal errors are ignored (a closed terminal must not
// stop the show) and a terminal that blocks holds up only the copy, never the show. The C++
// streams write through a buffer of their own that never turns bad: what a full disk does not
// take goes straight onto the terminal.
//
// [SECTION] the copy   [SECTION] the C++ streams   [SECTION] a crash   [SECTION] set-up
#include "authoring/dev/console_tee.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <streambuf>
#include <string>
#include <thread>

#include "base/files/file_utils.h"
#include "base/log/console.h"
#include "base/log/log_config.h"
#include "authoring/dev/dev_config.h"

namespace {

// ---- [SECTION] the copy ----

struct cTeeStream {
    const char* name = nullptr;
    int target_fd = -1;  // STDOUT_FILENO or STDERR_FILENO, which the file now is
    int file = -1;       // the log file, also open for reading
    int terminal = -1;   // where the stream went before
    // How far the file is on the terminal. A piece is claimed before it is written, so the
    // copier and a crash's handler do not write the same bytes twice; written trails claimed
    // while a piece is on its way.
    std::atomic<int64_t> claimed{0};
    std::atomic<int64_t> written{0};
    std::atomic<bool> terminal_broken{false};
};

struct cTee {
    cTeeStream streams[2];
    int changes = -1;  // inotify on both files; -1: the copier looks every little while
    int wake = -1;     // eventfd: the process ends
    std::atomic<bool> ending{false};
    std::atomic<bool> done{false};
    std::thread copier;
};

// Never freed: a fatal signal's handler may read it at any moment of the process.
cTee* g_tee = nullptr;

static_assert(std::atomic<int64_t>::is_always_lock_free, "the crash handler needs a lock-free position");

// What the file holds beyond the claimed position, onto the terminal. Async-signal-safe.
void copy_new(cTeeStream& stream) {
    char buffer[4096];
    for (;;) {
        int64_t from = stream.claimed.load();
        const ssize_t got = ::pread(stream.file, buffer, sizeof buffer, from);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return;
        if (!stream.claimed.compare_exchange_strong(from, from + got)) continue;
        if (!stream.terminal_broken.load() && !write_all(stream.terminal, buffer, static_cast<size_t>(got))) {
            stream.terminal_broken = true;
        }
        // Only forward: a piece of another thread's may have been written after this one.
        int64_t seen = stream.written.load();
        while (seen < from + got && !stream.written.compare_exchange_weak(seen, from + got)) {
        }
    }
}

// Everything the file holds onto the terminal now, from another thread than the copier's (a
// crash's handler, a writer whose line the file did not take all of). The copier may be
// half-way through a piece, in a thread that a crash ends: it is given a moment, and a piece
// still on its way then is written again (twice on the terminal rather than lost).
// Async-signal-safe.
void copy_rest(cTeeStream& stream) {
    const timespec moment{0, 1000000};
    for (int i = 0; i < dev_config::kTeeCopierWaitMilliseconds && stream.written.load() < stream.claimed.load(); ++i) {
        ::nanosleep(&moment, nullptr);
    }
    stream.claimed = stream.written.load();
    copy_new(stream);
}

void copy_until_ended(cTee* tee) {
    for (;;) {
        const bool ending = tee->ending.load();
        for (cTeeStream& stream : tee->streams) copy_new(stream);
        if (ending) break;
        pollfd fds[2] = {{tee->wake, POLLIN, 0}, {tee->changes, POLLIN, 0}};
        const int timeout_ms = tee->changes >= 0 ? -1 : dev_config::kTeeLookMilliseconds;
        if (::poll(fds, tee->changes >= 0 ? 2 : 1, timeout_ms) < 0 && errno != EINTR) {
            ::usleep(dev_config::kTeeLookMilliseconds * 1000);
        }
        if (tee->changes >= 0 && (fds[1].revents & POLLIN)) {
            char events[4096];
            while (::read(tee->changes, events, sizeof events) > 0) {
            }
        }
    }
    tee->done = true;
}

void finish_tee() {
    if (!g_tee) return;
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    g_tee->ending = true;
    const uint64_t one = 1;
    if (::write(g_tee->wake, &one, sizeof one) < 0) {
        // the copier still looks on its own every little while
    }
    // A terminal that takes nothing (stopped, or a pipe nobody reads) must not hold the exit.
    const auto give_up =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(dev_config::kTeeFinishSeconds);
    while (!g_tee->done && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (g_tee->done) {
        g_tee->copier.join();
    } else {
        g_tee->copier.detach();
    }
}

// ---- [SECTION] the C++ streams ----

// Standard output or error for the C++ streams: a line at a time (or at each flush) into the
// log file; what the file does not take (a full disk) goes onto the terminal at once, so it is
// seen, and the stream stays good, so that lines reach the file again once there is room.
class cLogBuffer final : public std::streambuf {
public:
    explicit cLogBuffer(cTeeStream& stream) : stream_(stream) {}

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char byte = traits_type::to_char_type(c);
        xsputn(&byte, 1);
        return c;
    }
    std::streamsize xsputn(const char* bytes, std::streamsize count) override {
        std::lock_guard<std::mutex> hold(mutex_);
        pending_.append(bytes, static_cast<size_t>(count));
        if (!pending_.empty() && pending_.back() == '\n') put_pending();
        return count;
    }
    int sync() override {
        std::lock_guard<std::mutex> hold(mutex_);
        put_pending();
        return 0;
    }

private:
    void put_pending() {
        size_t done = 0;
        while (done < pending_.size()) {
            const ssize_t put = ::write(stream_.target_fd, pending_.data() + done, pending_.size() - done);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) break;
            done += static_cast<size_t>(put);
        }
        if (done < pending_.size()) {
            // What the file took goes first, so that the line reaches the terminal in order.
            copy_rest(stream_);
            if (!stream_.terminal_broken.load() &&
                !write_all(stream_.terminal, pending_.data() + done, pending_.size() - done)) {
                stream_.terminal_broken = true;
            }
        }
        pending_.clear();
    }

    cTeeStream& stream_;
    std::mutex mutex_;  // the editor's threads write lines too
    std::string pending_;
};

// ---- [SECTION] a crash ----

int g_fatal_signals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};

const char* fatal_line(int number) {
    switch (number) {
        case SIGSEGV: return "## ERROR: the player crashed (SIGSEGV); the show ends\n";
        case SIGBUS: return "## ERROR: the player crashed (SIGBUS); the show ends\n";
        case SIGILL: return "## ERROR: the player crashed (SIGILL); the show ends\n";
        case SIGFPE: return "## ERROR: the player crashed (SIGFPE); the show ends\n";
        case SIGABRT: return "## ERROR: the player was aborted (SIGABRT); the show ends\n";
        default: return "## ERROR: the player crashed; the show ends\n";
    }
}

// Says so in the log, copies what the terminal lacks, and lets the signal end the process as
// it would have (a core, the status of the signal). Async-signal-safe throughout.
void on_fatal_signal(int number) {
    const int saved = errno;
    // A terminal that blocks must not keep a crashed process alive.
    ::alarm(dev_config::kTeeCrashCopySeconds);
    const char* line = fatal_line(number);
    if (!write_all(STDERR_FILENO, line, std::strlen(line))) {
        // the file is gone too: nothing more to say anywhere
    }
    if (g_tee) {
        for (cTeeStream& stream : g_tee->streams) copy_rest(stream);
    }
    // The handler was reset on entry (SA_RESETHAND): a fault happens again on return and ends
    // the process; a signal sent by another process is raised again for the same end.
    ::raise(number);
    errno = saved;
}

void catch_fatal_signals() {
    // Its own stack, so that a stack overflow still gets its line and its copy.
    static char alternate[64 * 1024];
    stack_t stack{};
    stack.ss_sp = alternate;
    stack.ss_size = sizeof alternate;
    const bool on_own_stack = ::sigaltstack(&stack, nullptr) == 0;
    struct sigaction action {};
    action.sa_handler = on_fatal_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | (on_own_stack ? SA_ONSTACK : 0);
    for (int number : g_fatal_signals) ::sigaction(number, &action, nullptr);
}

// ---- [SECTION] set-up ----

// The log file, open for writing and for the copier's reading; -1 when it cannot be made, or
// is no plain file (a device would be read back without end).
int open_log(const char* name) {
    const int fd = ::open(name, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, kPrivateLogFileMode);
    if (fd < 0) return -1;
    struct stat info {};
    // A file there from before keeps its mode through the truncation.
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || ::fchmod(fd, kPrivateLogFileMode) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

bool redirect_console_with_tee() {
    auto* tee = new cTee;
    const char* names[2] = {kStdoutLogName, kStderrLogName};
    const int targets[2] = {STDOUT_FILENO, STDERR_FILENO};
    // The terminals first: a stream closed at start would otherwise lend its number to a file,
    // which would then be copied onto itself.
    bool ok = true;
    for (int i = 0; i < 2; ++i) {
        tee->streams[i].name = names[i];
        tee->streams[i].target_fd = targets[i];
        tee->streams[i].terminal = ::fcntl(targets[i], F_DUPFD_CLOEXEC, 3);
        ok = ok && tee->streams[i].terminal >= 0;
    }
    for (int i = 0; i < 2 && ok; ++i) {
        tee->streams[i].file = open_log(names[i]);
        ok = tee->streams[i].file >= 0;
    }
    tee->wake = ok ? ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK) : -1;
    if (!ok || tee->wake < 0) {
        for (const cTeeStream& stream : tee->streams) {
            if (stream.file >= 0) ::close(stream.file);
            if (stream.terminal >= 0) ::close(stream.terminal);
        }
        if (tee->wake >= 0) ::close(tee->wake);
        delete tee;
        // Said on the terminal, where the person is, and then in the log.
        const char* warning =
            "# WARNING: the console cannot be copied to the terminal; it goes to stdout.txt and stderr.txt only";
        std::cerr << warning << std::endl;
        redirect_console(true);
        std::cerr << warning << std::endl;
        return false;
    }
    tee->changes = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    for (const char* name : names) {
        if (tee->changes >= 0 && ::inotify_add_watch(tee->changes, name, IN_MODIFY) < 0) {
            ::close(tee->changes);
            tee->changes = -1;
        }
    }
    // A terminal that is closed while the show runs must not end it.
    ::signal(SIGPIPE, SIG_IGN);
    std::fflush(nullptr);
    for (cTeeStream& stream : tee->streams) ::dup2(stream.file, stream.target_fd);
    // Each line reaches its file when it ends, not when a buffer fills: the C library buffers a
    // file fully, and standard output (the C++ stream writes through it) is now a file.
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    // Never freed, as the tee: the streams are used until the very end of the process.
    std::cout.rdbuf(new cLogBuffer(tee->streams[0]));
    auto* errors = new cLogBuffer(tee->streams[1]);
    std::cerr.rdbuf(errors);
    std::clog.rdbuf(errors);
    g_tee = tee;
    tee->copier = std::thread(copy_until_ended, tee);
    std::atexit(finish_tee);
    catch_fatal_signals();
    return true;
}
