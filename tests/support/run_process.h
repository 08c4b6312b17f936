// Runs a program in a child process with a chosen working directory and extra environment,
// and reports how it ended. Standard output and error of the child go to files that the
// result holds, so tests can check both the console lines and the exit status.
#pragma once
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

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
    pid_t pid = ::fork();
    if (pid == 0) {
        if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) ::_exit(127);
        int out = ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (options.stdin_from_dev_null) {
            int in = ::open("/dev/null", O_RDONLY);
            ::dup2(in, 0);
        }
        for (const auto& name : options.unset_env) ::unsetenv(name.c_str());
        for (const auto& entry : options.env) {
            size_t eq = entry.find('=');
            ::setenv(entry.substr(0, eq).c_str(), entry.substr(eq + 1).c_str(), 1);
        }
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(options.timeout_seconds);
    int status = 0;
    for (;;) {
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (std::chrono::steady_clock::now() > deadline) {
            result.timed_out = true;
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (WIFEXITED(status)) {
        result.exited = true;
        result.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    result.out = slurp(out_file);
    result.err = slurp(err_file);
    return result;
}
