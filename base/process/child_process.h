// Programs run in child processes: an argument vector (never a shell), where the standard
// streams come from and go, the folder, environment, process group and signals it starts with,
// and its end awaited with a time limit past which it (its group, when it has one) is killed.
// Uses posix_spawn, so nothing of the caller's memory is copied; never leaves a child unwaited.
#pragma once
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using child_clock = std::chrono::steady_clock;
// now + seconds; a negative figure is no limit at all.
child_clock::time_point deadline_after(double seconds);

// Where one of the child's standard streams comes from or goes.
struct cChildStream {
    enum eKind {
        inherit,         // the caller's own
        null_device,     // /dev/null
        pipe,            // a pipe whose other end the caller holds (input(), output(), errors())
        descriptor,      // the caller's descriptor fd
        file,            // path: read (standard input; never made the child's terminal) or written
                         // from its start (made when missing, 0644 less the umask)
        same_as_output,  // standard error only: where standard output goes
    };
    eKind kind = inherit;
    int fd = -1;
    std::string path;
};

struct cChildOptions {
    cChildStream input, output, errors;
    // Further descriptors of the caller's, each put at a number of the child's: {caller's, child's}.
    std::vector<std::pair<int, int>> descriptors;
    std::string folder;                   // empty: the caller's current one
    std::vector<std::string> set_env;     // "NAME=value", replacing a variable of that name
    std::vector<std::string> unset_env;   // names removed from the environment
    bool own_group = false;               // a process group of its own: a terminal's Ctrl-C is not for it
    std::vector<int> default_signals;     // started with the default action (not ignored) for these
    bool clear_signal_mask = false;       // started with no signal blocked
};

// How a child ended.
struct cChildEnd {
    bool exited = false;   // through exit or a return from main
    int status = -1;       // the exit status when exited
    int signal = 0;        // the terminating signal otherwise
    bool timed_out = false;  // it was killed at its time limit
    int wait_error = 0;    // waiting failed with this errno: how it ended is not known
    bool succeeded() const { return exited && status == 0; }
};

class cChildProcess {
public:
    cChildProcess() = default;
    // A child still running is killed (SIGKILL) and waited for.
    ~cChildProcess();
    cChildProcess(cChildProcess&& other) noexcept;
    cChildProcess& operator=(cChildProcess&& other) noexcept;
    cChildProcess(const cChildProcess&) = delete;
    cChildProcess& operator=(const cChildProcess&) = delete;

    // Starts argv[0], a path (the PATH is not searched; a relative one counts from options'
    // folder), with argv. False with start_error() holding the errno; pipe_failed() tells when
    // it was a pipe that could not be made, rather than the program that could not start.
    bool start(const std::vector<std::string>& argv, const cChildOptions& options = {});
    int start_error() const { return start_error_; }
    bool pipe_failed() const { return pipe_failed_; }

    pid_t pid() const { return pid_; }
    // The caller's ends of the pipes; -1 where there is none.
    int input() const { return input_; }
    int output() const { return output_; }
    int errors() const { return errors_; }
    // Closes the caller's end of the child's standard input: it reads the end of its input.
    void close_input();
    // Closes the caller's ends of every pipe (after reading an output to its end elsewhere).
    void close_pipes();

    // Reads the output and error pipes until both end or the deadline passes, appending to out
    // and err (nullptr: read and dropped). False when the deadline came first.
    bool collect(std::string* out, std::string* err, child_clock::time_point deadline = child_clock::time_point::max());
    // Waits for the end until the deadline. False when it still runs then (it is not killed).
    bool wait(child_clock::time_point deadline = child_clock::time_point::max());
    // The same, and past the deadline it is killed (its group with it) and waited for; timed_out
    // is set then.
    const cChildEnd& wait_or_kill(child_clock::time_point deadline);
    // True while started and not ended; looks without waiting.
    bool running();
    // Sends a signal (to its group, when it has one); nothing once it has ended.
    void signal(int number);
    // Kills it at once (SIGKILL, its group with it) and waits for it; closes the pipes.
    void stop();

    const cChildEnd& end() const { return end_; }

private:
    pid_t pid_ = -1;
    int pidfd_ = -1;   // wakes the wait when the child ends, where the system has it
    bool own_group_ = false;
    bool reaped_ = true;
    int input_ = -1, output_ = -1, errors_ = -1;
    int start_error_ = 0;
    bool pipe_failed_ = false;
    cChildEnd end_;

    bool reap(int flags);
    void take(cChildProcess& other);
};

// Reads each pipe until it ends or the deadline passes, appending what comes to its string
// (nullptr: read and dropped), at most max_bytes to each (the rest is read and dropped). False
// when the deadline came first.
struct cPipeSink {
    int fd = -1;
    std::string* into = nullptr;
};
bool read_pipes(std::vector<cPipeSink> pipes, child_clock::time_point deadline, size_t max_bytes = SIZE_MAX);
