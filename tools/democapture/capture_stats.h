// Where a capture's time goes: start-up, and per frame rendering, reading back (pixel-buffer
// reads and the conversion into frames), waiting for a free frame (the encoders are behind),
// and the rest; then the finish (the last frames, the encoders' end, the mux). Also the
// processor time of rendering and of encoding. Steady-clock sums; printing is --stats.
#pragma once
#include <chrono>
#include <cstdint>
#include <string>

enum class eCapturePhase { startup, render, read_back, waiting, other, finish, count };

// Processor time of the process, of its waited-for children, and of the calling thread.
double process_cpu_seconds();
double children_cpu_seconds();

class cCaptureStats {
public:
    // Adds the time since the previous mark (or construction) to phase.
    void mark(eCapturePhase phase);
    double seconds(eCapturePhase phase) const { return seconds_[static_cast<int>(phase)]; }
    // The frames' own time: render + read back + waiting + other.
    double frame_seconds() const;

    // Processor seconds of the frames and the finish: the whole process, its compression
    // threads and writer, and the encoder processes. Set by the capture when it ends.
    double process_cpu = 0;
    double pipeline_cpu = 0;
    double children_cpu = 0;

    // The summary lines ("# capture stats ..."). what: frames, size and output in words.
    std::string report(int64_t frames, const std::string& what) const;

private:
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
    double seconds_[static_cast<int>(eCapturePhase::count)] = {};
};
