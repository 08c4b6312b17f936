// A program running in the background of a test, started with any command line, working
// directory and environment; what it writes on its standard output and error lands in files
// the test reads. Standard input is nothing. Killed if the test leaves it behind. (For the
// player in a show directory of a test's own, see running_player.h.)
#pragma once
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

class cStartedProgram {
public:
    cStartedProgram(const std::vector<std::string>& argv, const std::string& cwd,
                    const std::vector<std::string>& env = {}, const std::vector<std::string>& unset_env = {}) {
        out_ = dir_ / "out.txt";
        err_ = dir_ / "err.txt";
        pid_ = ::fork();
        if (pid_ == 0) {
            if (::chdir(cwd.c_str()) != 0) ::_exit(127);
            const int out = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int in = ::open("/dev/null", O_RDONLY);
            ::dup2(out, 1);
            ::dup2(err, 2);
            ::dup2(in, 0);
            for (const std::string& name : unset_env) ::unsetenv(name.c_str());
            for (const std::string& entry : env) {
                const size_t eq = entry.find('=');
                ::setenv(entry.substr(0, eq).c_str(), entry.substr(eq + 1).c_str(), 1);
            }
            std::vector<char*> args;
            for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
    }
    ~cStartedProgram() {
        if (pid_ > 0 && !ended_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    cStartedProgram(const cStartedProgram&) = delete;
    cStartedProgram& operator=(const cStartedProgram&) = delete;

    pid_t pid() const { return pid_; }
    bool running() {
        int raw = 0;
        if (!ended_ && ::waitpid(pid_, &raw, WNOHANG) == pid_) {
            ended_ = true;
            status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        }
        return !ended_;
    }
    // Waits for the end; false when it did not end in time. status: the exit status, or 128 +
    // the signal.
    bool wait_for_exit(std::chrono::milliseconds limit, int& status) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (running() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        status = status_;
        return ended_;
    }
    std::string out() const { return slurp(out_); }
    std::string err() const { return slurp(err_); }

private:
    cTempDir dir_;
    std::string out_;
    std::string err_;
    pid_t pid_ = -1;
    int status_ = -1;
    bool ended_ = false;
};
