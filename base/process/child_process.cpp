// Child processes through posix_spawn (with glibc's chdir file action), pipes, waitpid, and a
// pidfd to sleep on while a deadline runs (polling where the system has none).
#include "base/process/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

extern char** environ;

namespace {

constexpr const char* kNullDevice = "/dev/null";
// Without a pidfd the wait looks this often at first, then less often, up to the second figure.
constexpr auto kFirstLook = std::chrono::microseconds(200);
constexpr auto kLongestLook = std::chrono::milliseconds(5);

void close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

std::string name_of(const std::string& entry) { return entry.substr(0, entry.find('=')); }

// The caller's environment with the changes asked for.
std::vector<std::string> environment_for(const cChildOptions& options) {
    std::vector<std::string> removed = options.unset_env;
    for (const std::string& entry : options.set_env) removed.push_back(name_of(entry));
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
        if (std::find(removed.begin(), removed.end(), name_of(*e)) == removed.end()) env.emplace_back(*e);
    }
    env.insert(env.end(), options.set_env.begin(), options.set_env.end());
    return env;
}

// The timespec of what is left until deadline, for ppoll; nullptr for no limit.
const timespec* time_left(child_clock::time_point deadline, timespec& left) {
    if (deadline == child_clock::time_point::max()) return nullptr;
    const auto ns = std::max<int64_t>(
        0, std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - child_clock::now()).count());
    left.tv_sec = static_cast<time_t>(ns / 1000000000);
    left.tv_nsec = static_cast<long>(ns % 1000000000);
    return &left;
}

}  // namespace

child_clock::time_point deadline_after(double seconds) {
    if (seconds < 0) return child_clock::time_point::max();
    return child_clock::now() +
           std::chrono::duration_cast<child_clock::duration>(std::chrono::duration<double>(seconds));
}

bool read_pipes(std::vector<cPipeSink> pipes, child_clock::time_point deadline, size_t max_bytes) {
    char buffer[4096];
    for (;;) {
        std::vector<pollfd> ready;
        for (const cPipeSink& p : pipes) {
            if (p.fd >= 0) ready.push_back({p.fd, POLLIN, 0});
        }
        if (ready.empty()) return true;
        timespec left {};
        const timespec* limit = time_left(deadline, left);
        if (limit && limit->tv_sec == 0 && limit->tv_nsec == 0) return false;
        const int got = ::ppoll(ready.data(), ready.size(), limit, nullptr);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return true;
        if (got == 0) return false;
        for (const pollfd& r : ready) {
            if (r.revents == 0) continue;
            cPipeSink& sink = *std::find_if(pipes.begin(), pipes.end(), [&](const cPipeSink& p) { return p.fd == r.fd; });
            const ssize_t n = ::read(sink.fd, buffer, sizeof buffer);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) {
                sink.fd = -1;  // the end (or a failure, which ends it too)
                continue;
            }
            if (sink.into && sink.into->size() < max_bytes) {
                sink.into->append(buffer, std::min(static_cast<size_t>(n), max_bytes - sink.into->size()));
            }
        }
    }
}

cChildProcess::~cChildProcess() { stop(); }

cChildProcess::cChildProcess(cChildProcess&& other) noexcept { take(other); }

cChildProcess& cChildProcess::operator=(cChildProcess&& other) noexcept {
    if (this != &other) {
        stop();
        take(other);
    }
    return *this;
}

void cChildProcess::take(cChildProcess& other) {
    pid_ = other.pid_;
    pidfd_ = other.pidfd_;
    own_group_ = other.own_group_;
    reaped_ = other.reaped_;
    input_ = other.input_;
    output_ = other.output_;
    errors_ = other.errors_;
    start_error_ = other.start_error_;
    pipe_failed_ = other.pipe_failed_;
    end_ = other.end_;
    other.pid_ = -1;
    other.pidfd_ = other.input_ = other.output_ = other.errors_ = -1;
    other.reaped_ = true;
}

bool cChildProcess::start(const std::vector<std::string>& argv, const cChildOptions& options) {
    stop();
    end_ = {};
    start_error_ = 0;
    pipe_failed_ = false;
    if (argv.empty()) {
        start_error_ = EINVAL;
        return false;
    }
    // The child's ends of its pipes, closed here once it has started.
    int child_in = -1, child_out = -1, child_err = -1;
    auto make_pipe = [&](const cChildStream& stream, bool child_reads, int& ours, int& theirs) {
        if (stream.kind != cChildStream::pipe) return true;
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return false;
        ours = child_reads ? fds[1] : fds[0];
        theirs = child_reads ? fds[0] : fds[1];
        return true;
    };
    if (!make_pipe(options.input, true, input_, child_in) || !make_pipe(options.output, false, output_, child_out) ||
        !make_pipe(options.errors, false, errors_, child_err)) {
        start_error_ = errno;
        pipe_failed_ = true;
        close_fd(child_in);
        close_fd(child_out);
        close_fd(child_err);
        close_pipes();
        return false;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!options.folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, options.folder.c_str());
    auto place = [&](const cChildStream& stream, int number, int pipe_end) {
        switch (stream.kind) {
            case cChildStream::inherit: break;
            case cChildStream::null_device:
                posix_spawn_file_actions_addopen(&actions, number, kNullDevice, number == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
                break;
            case cChildStream::pipe: posix_spawn_file_actions_adddup2(&actions, pipe_end, number); break;
            case cChildStream::descriptor: posix_spawn_file_actions_adddup2(&actions, stream.fd, number); break;
            case cChildStream::file:
                posix_spawn_file_actions_addopen(&actions, number, stream.path.c_str(),
                                                 number == STDIN_FILENO ? O_RDONLY | O_NOCTTY : O_WRONLY | O_CREAT | O_TRUNC,
                                                 0644);
                break;
            case cChildStream::same_as_output: posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, number); break;
        }
    };
    place(options.input, STDIN_FILENO, child_in);
    place(options.output, STDOUT_FILENO, child_out);
    place(options.errors, STDERR_FILENO, child_err);
    for (const auto& [ours, theirs] : options.descriptors) posix_spawn_file_actions_adddup2(&actions, ours, theirs);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    short flags = 0;
    if (options.own_group) {
        posix_spawnattr_setpgroup(&attributes, 0);
        flags |= POSIX_SPAWN_SETPGROUP;
    }
    if (options.clear_signal_mask) {
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes, &none);
        flags |= POSIX_SPAWN_SETSIGMASK;
    }
    if (!options.default_signals.empty()) {
        sigset_t defaults;
        sigemptyset(&defaults);
        for (int number : options.default_signals) sigaddset(&defaults, number);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        flags |= POSIX_SPAWN_SETSIGDEF;
    }
    posix_spawnattr_setflags(&attributes, flags);

    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> env = environment_for(options);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, argv[0].c_str(), &actions, &attributes, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close_fd(child_in);
    close_fd(child_out);
    close_fd(child_err);
    if (spawned != 0) {
        start_error_ = spawned;
        close_pipes();
        return false;
    }
    pid_ = pid;
    reaped_ = false;
    own_group_ = options.own_group;
#ifdef SYS_pidfd_open
    pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
#endif
    return true;
}

void cChildProcess::close_input() { close_fd(input_); }

void cChildProcess::close_pipes() {
    close_fd(input_);
    close_fd(output_);
    close_fd(errors_);
}

bool cChildProcess::collect(std::string* out, std::string* err, child_clock::time_point deadline) {
    const bool ended = read_pipes({{output_, out}, {errors_, err}}, deadline);
    if (ended) {
        close_fd(output_);
        close_fd(errors_);
    }
    return ended;
}

// One waitpid; true when the child's end is known (or cannot be).
bool cChildProcess::reap(int flags) {
    if (reaped_) return true;
    int status = 0;
    pid_t done;
    do {
        done = ::waitpid(pid_, &status, flags);
    } while (done < 0 && errno == EINTR);
    if (done == 0) return false;
    reaped_ = true;
    close_fd(pidfd_);
    if (done < 0) {
        end_.wait_error = errno;
    } else if (WIFEXITED(status)) {
        end_.exited = true;
        end_.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        end_.signal = WTERMSIG(status);
    }
    return true;
}

bool cChildProcess::wait(child_clock::time_point deadline) {
    if (reaped_) return true;
    if (deadline == child_clock::time_point::max()) return reap(0);
    auto look = std::chrono::duration_cast<child_clock::duration>(kFirstLook);
    for (;;) {
        if (reap(WNOHANG)) return true;
        const auto now = child_clock::now();
        if (now >= deadline) return false;
        if (pidfd_ >= 0) {
            pollfd ended{pidfd_, POLLIN, 0};
            timespec left {};
            ::ppoll(&ended, 1, time_left(deadline, left), nullptr);
        } else {
            std::this_thread::sleep_for(std::min<child_clock::duration>(look, deadline - now));
            look = std::min<child_clock::duration>(look * 2, kLongestLook);
        }
    }
}

const cChildEnd& cChildProcess::wait_or_kill(child_clock::time_point deadline) {
    if (!wait(deadline)) {
        stop();
        end_.timed_out = true;
    }
    return end_;
}

bool cChildProcess::running() { return !reap(WNOHANG); }

void cChildProcess::signal(int number) {
    if (reaped_) return;
    ::kill(own_group_ ? -pid_ : pid_, number);
}

void cChildProcess::stop() {
    close_pipes();
    if (!reaped_) {
        signal(SIGKILL);
        reap(0);
    }
    close_fd(pidfd_);
}
