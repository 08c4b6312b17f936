// The clean-up of unfinished output on every way out of the process. Depends on POSIX signals
// and the getdents64 system call only. Must never allocate or lock in abandon_all: it runs
// inside signal handlers.
#include "tools/democapture/partial_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace partial_files {
namespace {

constexpr int slot_count = 16;
constexpr int child_count = 272;  // a chunk process for each job, and a few encoders
constexpr size_t max_path = 4096;

// A slot is free, being filled, or holding a complete path; only held paths are removed.
enum : int { slot_free = 0, slot_filling = 1, slot_held = 2 };
enum : int { kind_file = 0, kind_folder = 1, kind_empty_folder = 2 };
struct cSlot {
    std::atomic<int> state{slot_free};
    int kind = kind_file;
    char path[max_path] = {};
};
struct cChild {
    std::atomic<pid_t> pid{0};
    std::atomic<int> signal{SIGKILL};
};

cSlot slots[slot_count];
// Set once the process's end has begun its clean-up (see made).
std::atomic<bool> abandoning{false};
cChild children[child_count];
std::terminate_handler previous_terminate = nullptr;

void write_stderr(const char* text) {
    ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
}

void on_signal(int sig) {
    const bool any_held = [] {
        for (const auto& slot : slots)
            if (slot.state.load() == slot_held) return true;
        for (const auto& child : children)
            if (child.pid.load() > 0) return true;
        return false;
    }();
    abandoning.store(true);
    abandon_all();
    if (sig == SIGINT || sig == SIGTERM || sig == SIGHUP) {
        write_stderr(any_held ? "\n## ERROR: democapture: stopped; the unfinished output was removed\n"
                              : "\n## ERROR: democapture: stopped\n");
    }
    // End the way the signal would have ended the process, so callers see the signal.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

void on_exit() {
    abandoning.store(true);
    abandon_all();
}

void on_terminate() {
    abandoning.store(true);
    abandon_all();
    if (previous_terminate) previous_terminate();
    std::abort();
}

int hold_as(const std::string& path, int kind) {
    if (path.size() >= max_path) return -1;
    for (int i = 0; i < slot_count; ++i) {
        int expected = slot_free;
        if (!slots[i].state.compare_exchange_strong(expected, slot_filling)) continue;
        // Held only once the path is complete, so a signal never reads half a path.
        slots[i].kind = kind;
        std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
        slots[i].state.store(slot_held);
        return i;
    }
    return -1;
}

// The records of getdents64, as the kernel lays them out.
struct cDirent64 {
    ino64_t inode;
    off64_t offset;
    unsigned short length;
    unsigned char type;
    char name[1];
};

}  // namespace

void install() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) ::sigaction(sig, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
    std::atexit(on_exit);
    previous_terminate = std::set_terminate(on_terminate);
}

int hold(const std::string& path) { return hold_as(path, kind_file); }

int hold_folder(const std::string& path, bool files_too) {
    return hold_as(path, files_too ? kind_folder : kind_empty_folder);
}

void release(int slot) {
    if (slot >= 0 && slot < slot_count) slots[slot].state.store(slot_free);
}

void made(const std::string& path) {
    // The flag is set before the clean-up reads the slots, and the slot was held before the
    // file was made: either the clean-up found this file, or this sees the flag. The writer
    // then fails to put the file in place, as the process ends.
    if (abandoning.load()) ::unlink(path.c_str());
}

bool add_child(pid_t pid, int signal) {
    for (auto& child : children) {
        pid_t expected = 0;
        if (!child.pid.compare_exchange_strong(expected, -1)) continue;
        child.signal.store(signal);
        child.pid.store(pid);
        return true;
    }
    return false;
}

void remove_child(pid_t pid) {
    for (auto& child : children) {
        pid_t expected = pid;
        if (child.pid.compare_exchange_strong(expected, 0)) return;
    }
}

void abandon_all() {
    // Signal every child first, then wait: chunk processes clean up at the same time.
    pid_t stopped[child_count];
    int count = 0;
    for (auto& child : children) {
        const pid_t pid = child.pid.exchange(0);
        if (pid <= 0) continue;
        ::kill(pid, child.signal.load());
        stopped[count++] = pid;
    }
    for (int i = 0; i < count; ++i) {
        int status = 0;
        while (::waitpid(stopped[i], &status, 0) < 0 && errno == EINTR) {
        }
    }
    for (auto& slot : slots) {
        int expected = slot_held;
        if (!slot.state.compare_exchange_strong(expected, slot_free)) continue;
        if (slot.kind == kind_file) {
            ::unlink(slot.path);
        } else if (slot.kind == kind_folder) {
            remove_folder(slot.path);
        } else {
            ::rmdir(slot.path);
        }
    }
}

bool remove_folder(const char* folder) {
    const int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT;
    bool removed_all = true;
    alignas(8) char buffer[4096];
    for (;;) {
        const long n = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
        if (n <= 0) break;
        // Entries removed while reading may shift the listing; read again until none is left.
        bool removed_any = false;
        for (long at = 0; at < n;) {
            const auto* entry = reinterpret_cast<const cDirent64*>(buffer + at);
            at += entry->length;
            const char* name = entry->name;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
            if (::unlinkat(fd, name, 0) == 0) {
                removed_any = true;
            } else {
                removed_all = false;
            }
        }
        if (removed_any) ::lseek(fd, 0, SEEK_SET);
        else break;
    }
    ::close(fd);
    return ::rmdir(folder) == 0 && removed_all;
}

}  // namespace partial_files
