// One capture run: the show's own start-up with the "no sound" device, then per frame the
// clock set to the frame's music time, the host's render pass, the read-back and the output
// (PNG files or the video encoder). Frames are exact whatever the machine's speed, because
// the clock moves only when the capture sets it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// One rendered frame: its music time, and the file it goes to (empty: rendered, not kept).
struct cCaptureStep {
    double time_ms = 0;
    std::string file_name;
};

struct cCapturePlan {
    std::string show_dir;        // absolute
    std::string out_dir;         // absolute; PNG output
    std::string video_file;      // absolute; video output
    std::string video_partial;   // the reserved temporary name the video is written under
    int video_slot = -1;         // its hold in partial_files
    int32_t fps = 60;
    int64_t music_from_ms = 0;   // the music cut muxed into the video
    int64_t music_length_ms = 0;
    std::vector<cCaptureStep> steps;
    bool stats = false;
};

// What depends on the previous frame (the circle's trail) should look as it does in a run of
// the whole show at the same rate, wherever a capture starts. So the first kept frame of a
// range, and every single frame, is preceded by an unkept frame one step (1000 / fps) earlier;
// a time less than one step from 0 has none, as the show's first frame has none.

// The steps of a range: frames n = 0 .. N-1 at from + n x 1000 / fps, all kept.
std::vector<cCaptureStep> range_steps(int64_t from_ms, int64_t to_ms, int32_t fps);
// The steps of single frames, each after its unkept frame one step before.
std::vector<cCaptureStep> single_steps(const std::vector<int64_t>& times_ms, int32_t fps);

// Runs the plan; returns the process status (0 done, 1 failed). The current directory becomes
// the show directory.
int run_capture(cCapturePlan& plan);
