// The capture tool's command line: parsing, the checks that need no file system, and the
// frame schedule that follows from it (how many frames, at which music time, under which name).
// Pure functions: no GL, no files, no output. Messages are returned, never printed here.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct cCaptureOptions {
    std::string show_dir;           // empty: the show beside the tool
    int64_t from_ms = 0;
    int64_t to_ms = 0;
    int32_t fps = 0;
    std::string out_dir;            // PNG frames go here ...
    std::string video_file;         // ... or into one MP4
    std::vector<int64_t> at_ms;     // single frames instead of a range
    bool stats = false;             // print where the time went
    bool help = false;
};

struct cParsedOptions {
    cCaptureOptions options;
    std::string error;  // one line saying what is wrong; empty when the command line is usable
};

// Reads "--name value" and "--name=value" forms. Numbers are whole, non-negative decimals.
cParsedOptions parse_capture_options(const std::vector<std::string>& args);

// The text of --help.
std::string capture_usage();

// Frames n = 0 .. count-1 cover [from, to): count = ceil((to - from) x fps / 1000).
int64_t frame_count(int64_t from_ms, int64_t to_ms, int32_t fps);
// The music position frame n is rendered at.
double frame_time_ms(int64_t from_ms, int64_t n, int32_t fps);
// "frame_000123.png" for frame n of a range.
std::string range_frame_name(int64_t n);
// "at_012345ms.png" for a single frame at a time.
std::string single_frame_name(int64_t ms);
