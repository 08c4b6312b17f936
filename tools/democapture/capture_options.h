// The capture tool's command lines (a capture, and "democapture join"): parsing, the checks
// that need no file system, and the frame schedule that follows from them (which frames of the
// show's frame grid, at which music time, under which name).
// Pure functions: no GL, no files, no output. Messages are returned, never printed here.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/democapture/output_kind.h"

// Measuring runs (capture_bench): "render" renders the frames and reads nothing back; "output"
// renders the first frame once and reads back and encodes that picture for every frame.
enum class eMeasure { none, render, output };

struct cCaptureOptions {
    std::string show_dir;           // empty: the show beside the tool
    int64_t from_ms = 0;
    int64_t to_ms = 0;
    int32_t fps = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t supersample = 1;
    int32_t crf = -1;               // -1: the default; only with --video
    eOutput output = eOutput::none; // PNG frames, one H.264 MP4 or one lossless master (FFV1 and FLAC in Matroska)
    std::string target;             // where they go: the PNG folder or the video file
    std::vector<int64_t> at_ms;     // single frames instead of a range
    int32_t jobs = 1;               // chunk processes
    int32_t threads = 0;            // PNG threads; 0: one per core
    eMeasure measure = eMeasure::none;
    bool stats = false;             // print where the time went
    bool help = false;
};

struct cParsedOptions {
    cCaptureOptions options;
    std::string error;  // one line saying what is wrong; empty when the command line is usable
};

// Reads "--name value" and "--name=value" forms of the options in the table of --help. Numbers
// are whole, non-negative decimals.
cParsedOptions parse_capture_options(const std::vector<std::string>& args);

// "democapture join OUTPUT CHUNK...": the chunks, in any order, and where the whole goes.
struct cJoinOptions {
    std::string show_dir;           // the music of a joined video; empty: the show beside the tool
    eOutput output = eOutput::none;
    std::string target;             // the PNG folder or the video file
    std::vector<std::string> chunks;
    bool help = false;
};

struct cParsedJoin {
    cJoinOptions options;
    std::string error;
};

// args: what follows "join".
cParsedJoin parse_join_options(const std::vector<std::string>& args);

// The texts of --help.
std::string capture_usage();
std::string join_usage();

// The frame grid: frame k of the show is at music time k x 1000 / fps, whatever range a
// capture takes, so chunks of a range render exactly the frames of one run over it.
double grid_time_ms(int64_t k, int32_t fps);
// The first frame at or after ms: ceil(ms x fps / 1000).
int64_t grid_frame_at(int64_t ms, int32_t fps);
// The frames of [from, to): those whose time lies in it.
int64_t frame_count(int64_t from_ms, int64_t to_ms, int32_t fps);
// A whole millisecond whose first frame is k, the latest one (a --from or --to that splits there).
int64_t grid_split_ms(int64_t k, int32_t fps);
// Frames per segment of an H.264 video: a key frame at every multiple of this on the grid.
int64_t video_segment_frames(int32_t fps);

// "frame_000123.png" for frame n of a range (numbered from 0 at the range's first frame).
std::string range_frame_name(int64_t n);
// "at_012345ms.png" for a single frame at a time.
std::string single_frame_name(int64_t ms);
