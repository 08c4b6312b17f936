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

class cStartedProgram {
public:
    // argv[0] is a path; a program that cannot be started reads as one that ended with 127.
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
    // Waits for the end; false when it did not end in time. status: the exit status, or 128 +
    // the signal.
    bool wait_for_exit(std::chrono::milliseconds limit, int& status) {
        if (!started_) {
            status = 127;
            return true;
        }
        if (!program_.wait(std::chrono::steady_clock::now() + limit)) return false;
        const cChildEnd& end = program_.end();
        status = end.exited ? end.status : 128 + end.signal;
        return true;
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
