// A program running in the background of a test, started with any command line, working
// directory and environment; what it writes on its standard output and error lands in files
// the test reads. Standard input is nothing. Killed if the test leaves it behind. (For the
// player in a show directory of a test's own, see running_player.h.)
#pragma once
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "base/process/child_process.h"
#include "support/temp_dir.h"

// Waits for a child a test started (started: whether its start worked) until limit has passed;
// false when it still runs then. status: as a shell says it, the exit status or 128 + the
// signal, and 127 for a program that could not be started.
inline bool wait_for_exit_status(cChildProcess& child, bool started, std::chrono::milliseconds limit, int& status) {
    if (!started) {
        status = 127;
        return true;
    }
    if (!child.wait(std::chrono::steady_clock::now() + limit)) return false;
    const cChildEnd& end = child.end();
    status = end.exited ? end.status : 128 + end.signal;
    return true;
}

class cStartedProgram {
public:
    // argv[0] is a path.
    cStartedProgram(const std::vector<std::string>& argv, const std::string& cwd,
                    const std::vector<std::string>& env = {}, const std::vector<std::string>& unset_env = {}) {
        out_ = dir_ / "out.txt";
        err_ = dir_ / "err.txt";
        cChildOptions options;
        options.folder = cwd;
        options.input = {cChildStream::null_device, -1, {}};
        options.output = {cChildStream::file, -1, out_};
        options.errors = {cChildStream::file, -1, err_};
        options.set_env = env;
        options.unset_env = unset_env;
        started_ = program_.start(argv, options);
    }
    cStartedProgram(const cStartedProgram&) = delete;
    cStartedProgram& operator=(const cStartedProgram&) = delete;

    pid_t pid() const { return program_.pid(); }
    bool running() { return started_ && program_.running(); }
    bool wait_for_exit(std::chrono::milliseconds limit, int& status) {
        return wait_for_exit_status(program_, started_, limit, status);
    }
    std::string out() const { return slurp(out_); }
    std::string err() const { return slurp(err_); }

private:
    cTempDir dir_;
    std::string out_;
    std::string err_;
    cChildProcess program_;  // killed and waited for, if still running, when it goes
    bool started_ = false;
};
