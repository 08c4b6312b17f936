// A player running in the background of a test, as a user starts it: from a show directory's
// bin/, with arguments and extra environment; what it writes to its own standard output and
// error (the terminal, for a person) lands in files the test can read. Its standard input is
// nothing, or a terminal that nobody types into. Killed if a test leaves it behind.
#pragma once
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <fcntl.h>
#include <stdlib.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/show_layout.h"
#include "support/temp_dir.h"

class cRunningPlayer {
public:
    cRunningPlayer(const cShowLayout& show, const std::vector<std::string>& args,
                   const std::vector<std::string>& env = {}, bool stdin_terminal = false) {
        terminal_out_ = dir_ / "terminal_out.txt";
        terminal_err_ = dir_ / "terminal_err.txt";
        // The test holds the terminal's other side open, so reading it waits as at a keyboard.
        std::string terminal_name = "/dev/null";
        if (stdin_terminal) {
            keyboard_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
            if (keyboard_ >= 0 && ::grantpt(keyboard_) == 0 && ::unlockpt(keyboard_) == 0) {
                terminal_name = ::ptsname(keyboard_);
            }
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            if (::chdir(show.bin().c_str()) != 0) ::_exit(127);
            const int out = ::open(terminal_out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open(terminal_err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int in = ::open(terminal_name.c_str(), O_RDONLY | O_NOCTTY);
            ::dup2(out, 1);
            ::dup2(err, 2);
            ::dup2(in, 0);
            for (const std::string& entry : env) {
                const size_t eq = entry.find('=');
                ::setenv(entry.substr(0, eq).c_str(), entry.substr(eq + 1).c_str(), 1);
            }
            std::vector<char*> argv;
            std::string program = "./demoplayer";
            argv.push_back(program.data());
            std::vector<std::string> copies = args;
            for (std::string& arg : copies) argv.push_back(arg.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~cRunningPlayer() {
        if (pid_ > 0 && !ended_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (keyboard_ >= 0) ::close(keyboard_);
    }
    cRunningPlayer(const cRunningPlayer&) = delete;
    cRunningPlayer& operator=(const cRunningPlayer&) = delete;

    // Waits for the end; false when it did not end in time. status: the exit status, or 128 +
    // the signal.
    bool wait_for_exit(std::chrono::milliseconds limit, int& status) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            int raw = 0;
            if (::waitpid(pid_, &raw, WNOHANG) == pid_) {
                ended_ = true;
                status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    bool running() {
        int raw = 0;
        if (!ended_ && ::waitpid(pid_, &raw, WNOHANG) == pid_) ended_ = true;
        return !ended_;
    }
    void signal(int number) { ::kill(pid_, number); }
    // What the player wrote on its own standard output and error (a terminal, for a person).
    std::string terminal_out() const { return slurp(terminal_out_); }
    std::string terminal_err() const { return slurp(terminal_err_); }

private:
    cTempDir dir_;
    std::string terminal_out_;
    std::string terminal_err_;
    pid_t pid_ = -1;
    int keyboard_ = -1;  // the terminal's master side, when stdin is one
    bool ended_ = false;
};
