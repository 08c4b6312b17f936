// The capture's progress on standard error: frame, percent, frames per second and time left,
// redrawn in place on a terminal (at most a few times a second) and written once, as one
// finished line, when standard error is a file or a pipe.
#pragma once
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

// The text of the bar for done of total frames after elapsed seconds.
std::string progress_text(int64_t done, int64_t total, double elapsed_seconds);

class cProgressBar {
public:
    // out: where the bar goes; in_place: redraw with carriage returns while running.
    cProgressBar(int64_t total, std::FILE* out, bool in_place);
    // done frames are complete.
    void update(int64_t done);
    // Draws the final state and ends the line.
    void finish(int64_t done);

private:
    void draw(int64_t done, bool final_line);
    int64_t total_;
    std::FILE* out_;
    bool in_place_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_draw_;
    bool drawn_ = false;
    size_t last_length_ = 0;
};
