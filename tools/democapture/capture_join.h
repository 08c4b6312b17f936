// "democapture join": range captures (chunks) put together into the capture of their whole
// range, exactly as one run makes it. PNG frames are linked (or copied) under the whole
// range's numbering; videos are muxed from the chunks' encoded frames, copied, with the music
// of the whole range cut again from the show. Refuses, naming the chunk, anything that would
// not give one run's capture: a chunk that is missing, unfinished or cut short, settings, shows
// or builds that differ, a gap or an overlap, an H.264 chunk that does not start on a key frame
// of the whole, a video's show that is not the chunks' show.
#pragma once
#include <set>
#include <string>
#include <vector>

#include "tools/democapture/capture_manifest.h"
#include "tools/democapture/output_kind.h"

struct cJoinPlan {
    std::string show_dir;     // absolute; its music goes into a joined video
    eOutput output = eOutput::none;
    std::string target;       // absolute; the PNG folder or the video file
    std::vector<std::string> chunks;  // as the user named them
    // Chunks (absolute paths) that this run's own processes have just written and that ended
    // well: their frames are counted, not decoded again (--jobs).
    std::set<std::string> fresh;
};

// The record of a finished capture at path: a PNG folder's democapture.txt or a video's tag.
// False with error (saying why it is not a finished capture) otherwise.
bool read_chunk_manifest(const std::string& path, cRangeManifest& manifest, std::string& error);

// Runs the join; returns the process status (0 done, 1 failed, 2 refused: nothing written).
int run_join(const cJoinPlan& plan);
