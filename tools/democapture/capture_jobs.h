// --jobs N: the range split into chunks, each captured by a democapture process of its own at
// the same time, then joined into the target. The chunks are captured into TARGET.chunks/ and
// removed once the join is done; when a chunk fails or the capture is stopped, the finished
// chunks stay there, and running the same command again captures only what is missing.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/democapture/capture_manifest.h"
#include "tools/democapture/capture_options.h"

struct cChunkRange {
    int64_t first_frame = 0;  // on the grid
    int64_t end_frame = 0;    // not included
    int64_t from_ms = 0;      // the --from and --to that capture exactly these frames
    int64_t to_ms = 0;
};

// [from, to) in jobs chunks of nearly equal frame counts. With align > 0 the chunks meet only
// at multiples of align on the grid (an H.264 video's key frames), so there may be fewer.
std::vector<cChunkRange> split_range(int64_t from_ms, int64_t to_ms, int32_t fps, int32_t jobs, int64_t align);

// options: the parsed command line with absolute paths, whose output place has been checked;
// show_dir: absolute; whole: the record the whole capture gets (a chunk left by an earlier run
// is taken only when its record agrees with it and its frames are whole).
int run_jobs(const cCaptureOptions& options, const std::string& show_dir, const cRangeManifest& whole);
