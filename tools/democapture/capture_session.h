// One capture run: the show's own start-up with the "no sound" device at the capture's render
// size, then per frame the clock set to the frame's music time, the host's render pass, the
// read-back and the output (PNG files, an H.264 video or a lossless master) through the
// pipeline. Frames are exact whatever the machine's speed, because the clock moves only when
// the capture sets it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/democapture/capture_manifest.h"
#include "tools/democapture/capture_options.h"
#include "tools/democapture/frame_layout.h"
#include "tools/democapture/output_kind.h"

// One rendered frame: its music time, its frame of the grid (-1 for single frames), and the
// file it goes to (empty: rendered, not kept).
struct cCaptureStep {
    double time_ms = 0;
    std::string file_name;
    int64_t grid_frame = -1;
};

struct cCapturePlan {
    std::string show_dir;        // absolute
    eOutput output = eOutput::none;
    std::string target;          // absolute; the PNG folder or the video file
    std::string target_partial;  // the reserved temporary name a video is written under
    int target_slot = -1;        // its hold in partial_files
    std::string work_folder;     // the H.264 segments; held by the capture while it runs
    cFrameLayout layout;
    int32_t fps = 60;
    int32_t crf = 18;
    int32_t threads = 1;         // PNG compression threads
    eMeasure measure = eMeasure::none;
    bool is_range = false;       // a range writes its record (democapture.txt, the video's tag)
    cRangeManifest manifest;
    std::vector<cCaptureStep> steps;
    bool stats = false;
};

// What depends on the previous frame (the circle's trail) should look as it does in a run of
// the whole show at the same rate, wherever a capture starts. So the first kept frame of a
// range, and every single frame, is preceded by an unkept frame one step (1000 / fps) earlier;
// a time less than one step from 0 has none, as the show's first frame has none.

// The steps of a range: the frames of the grid in [from, to), named from frame_000000.png.
std::vector<cCaptureStep> range_steps(int64_t from_ms, int64_t to_ms, int32_t fps);
// The steps of single frames, each after its unkept frame one step before (on the grid when
// the time is a frame of it).
std::vector<cCaptureStep> single_steps(const std::vector<int64_t>& times_ms, int32_t fps);

// Runs the plan in three steps (prepare: the show started and the output opened; the range
// rendered and the output completed; finish: the output put in place and the report), and says
// why on the first that fails. Returns the process status (0 done, 1 failed, 2 a size the GL
// cannot hold or a frame past the end of the music). The current directory becomes the show
// directory.
int run_capture(cCapturePlan& plan);
