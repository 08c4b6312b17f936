// A player running in the background of a test, as a user starts it: from a show directory's
// bin/, with arguments and extra environment; what it writes to its own standard output and
// error (the terminal, for a person) lands in files the test can read. Its standard input is
// nothing, or a terminal that nobody types into. Killed if a test leaves it behind.
#pragma once
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "base/process/child_process.h"
#include "support/show_layout.h"
#include "support/started_program.h"
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
        cChildOptions options;
        options.folder = show.bin();
        options.input = {cChildStream::file, -1, terminal_name};
        options.output = {cChildStream::file, -1, terminal_out_};
        options.errors = {cChildStream::file, -1, terminal_err_};
        options.set_env = env;
        std::vector<std::string> argv = {"./demoplayer"};
        argv.insert(argv.end(), args.begin(), args.end());
        // A player that cannot be started reads as one that ended with 127, as a shell says it.
        started_ = player_.start(argv, options);
    }
    ~cRunningPlayer() {
        player_.stop();
        if (keyboard_ >= 0) ::close(keyboard_);
    }
    cRunningPlayer(const cRunningPlayer&) = delete;
    cRunningPlayer& operator=(const cRunningPlayer&) = delete;

    bool wait_for_exit(std::chrono::milliseconds limit, int& status) {
        return wait_for_exit_status(player_, started_, limit, status);
    }
    bool running() { return player_.running(); }
    void signal(int number) { player_.signal(number); }
    // What the player wrote on its own standard output and error (a terminal, for a person).
    std::string terminal_out() const { return slurp(terminal_out_); }
    std::string terminal_err() const { return slurp(terminal_err_); }

private:
    cTempDir dir_;
    std::string terminal_out_;
    std::string terminal_err_;
    int keyboard_ = -1;  // the terminal's master side, when stdin is one
    cChildProcess player_;
    bool started_ = false;
};
