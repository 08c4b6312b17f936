// Where a capture's time goes: start-up, and per frame rendering (the render pass and
// glFinish), reading back, encoding (PNG files, or handing frames to the video encoder), and
// the rest; then the encoder's finish. Steady-clock sums; printing is --stats.
#pragma once
#include <chrono>
#include <cstdint>
#include <string>

enum class eCapturePhase { startup, render, read_back, encode, other, finish, count };

class cCaptureStats {
public:
    // Adds the time since the previous mark (or construction) to phase.
    void mark(eCapturePhase phase);
    double seconds(eCapturePhase phase) const { return seconds_[static_cast<int>(phase)]; }
    // The frames' own time: render + read back + encode + other.
    double frame_seconds() const;

    // The summary lines ("# capture stats ..."), for frames written as output_kind.
    std::string report(int64_t frames, const std::string& output_kind) const;

private:
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
    double seconds_[static_cast<int>(eCapturePhase::count)] = {};
};
