// The clean-up of unfinished output on every way out of the process. Depends on POSIX signals
// only. Must never allocate or lock in abandon_all: it runs inside signal handlers.
#include "tools/democapture/partial_files.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace partial_files {
namespace {

constexpr int slot_count = 4;
constexpr size_t max_path = 4096;

// A slot is free, being filled, or holding a complete path; only held paths are removed.
enum : int { slot_free = 0, slot_filling = 1, slot_held = 2 };
struct cSlot {
    std::atomic<int> state{slot_free};
    char path[max_path] = {};
};

cSlot slots[slot_count];
std::atomic<pid_t> child{0};
std::terminate_handler previous_terminate = nullptr;

void write_stderr(const char* text) {
    ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
}

void on_signal(int sig) {
    const bool any_held = [] {
        for (const auto& slot : slots)
            if (slot.state.load() == slot_held) return true;
        return false;
    }();
    abandon_all();
    if (sig == SIGINT || sig == SIGTERM || sig == SIGHUP) {
        write_stderr(any_held ? "\n## ERROR: democapture: stopped; the unfinished output was removed\n"
                              : "\n## ERROR: democapture: stopped\n");
    }
    // End the way the signal would have ended the process, so callers see the signal.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

void on_exit() { abandon_all(); }

void on_terminate() {
    abandon_all();
    if (previous_terminate) previous_terminate();
    std::abort();
}

}  // namespace

void install() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) ::sigaction(sig, &action, nullptr);
    // A dead encoder must show up as a failed write, not end the capture without clean-up.
    ::signal(SIGPIPE, SIG_IGN);
    std::atexit(on_exit);
    previous_terminate = std::set_terminate(on_terminate);
}

int hold(const std::string& path) {
    if (path.size() >= max_path) return -1;
    for (int i = 0; i < slot_count; ++i) {
        int expected = slot_free;
        if (!slots[i].state.compare_exchange_strong(expected, slot_filling)) continue;
        // Held only once the path is complete, so a signal never reads half a path.
        std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
        slots[i].state.store(slot_held);
        return i;
    }
    return -1;
}

void release(int slot) {
    if (slot >= 0 && slot < slot_count) slots[slot].state.store(slot_free);
}

void set_child(pid_t pid) { child.store(pid); }

void abandon_all() {
    const pid_t pid = child.exchange(0);
    if (pid > 0) {
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
    for (auto& slot : slots) {
        int expected = slot_held;
        if (slot.state.compare_exchange_strong(expected, slot_free)) ::unlink(slot.path);
    }
}

}  // namespace partial_files
