// Runs a program in a child process with a chosen working directory and extra environment,
// and reports how it ended. Standard output and error of the child go to files that the
// result holds, so tests can check both the console lines and the exit status.
#pragma once
#include <string>
#include <vector>

#include "base/process/child_process.h"
#include "support/temp_dir.h"

struct cProcessResult {
    bool exited = false;   // ended through exit or a return from main
    int status = -1;       // exit status when exited
    int signal = 0;        // terminating signal otherwise
    bool timed_out = false;
    std::string out;       // what the child wrote on standard output
    std::string err;       // ... and on standard error
};

struct cProcessOptions {
    std::string cwd;                       // empty: the test's own
    std::vector<std::string> env;          // "NAME=value" added to the environment
    std::vector<std::string> unset_env;    // names removed from the environment
    double timeout_seconds = 120;
    bool stdin_from_dev_null = true;
};

inline cProcessResult run_process(const std::vector<std::string>& argv, const cProcessOptions& options = {}) {
    cTempDir logs;
    std::string out_file = logs / "out.txt", err_file = logs / "err.txt";
    cProcessResult result;
    cChildOptions child_options;
    child_options.folder = options.cwd;
    child_options.set_env = options.env;
    child_options.unset_env = options.unset_env;
    child_options.input.kind = options.stdin_from_dev_null ? cChildStream::null_device : cChildStream::inherit;
    child_options.output = {cChildStream::file, -1, out_file};
    child_options.errors = {cChildStream::file, -1, err_file};
    cChildProcess child;
    if (!child.start(argv, child_options)) {
        // As a shell says it: a program that cannot be started ends with 127.
        result.exited = true;
        result.status = 127;
        return result;
    }
    const cChildEnd& end = child.wait_or_kill(deadline_after(options.timeout_seconds));
    result.timed_out = end.timed_out;
    result.exited = end.exited;
    if (end.exited) result.status = end.status;
    result.signal = end.signal;
    result.out = slurp(out_file);
    result.err = slurp(err_file);
    return result;
}
