// Captures what the code under test writes to standard output or standard error (through
// stdio, iostreams or the raw descriptor) by pointing the descriptor at a file for a while.
#pragma once
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "support/temp_dir.h"

class cCaptureStream {
public:
    // fd: STDOUT_FILENO or STDERR_FILENO.
    explicit cCaptureStream(int fd) : fd_(fd) {
        flush();
        saved_ = ::dup(fd_);
        file_ = dir_ / "captured.txt";
        int out = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, fd_);
        ::close(out);
    }
    ~cCaptureStream() { stop(); }
    cCaptureStream(const cCaptureStream&) = delete;
    cCaptureStream& operator=(const cCaptureStream&) = delete;

    // Everything written so far; capturing goes on.
    std::string text() {
        flush();
        return slurp(file_);
    }
    // Stops capturing and returns everything that was written.
    std::string stop() {
        if (saved_ >= 0) {
            flush();
            ::dup2(saved_, fd_);
            ::close(saved_);
            saved_ = -1;
        }
        return slurp(file_);
    }

private:
    static void flush() {
        std::cout.flush();
        std::cerr.flush();
        std::fflush(nullptr);
    }
    int fd_;
    int saved_ = -1;
    cTempDir dir_;
    std::string file_;
};
