// Video output of a capture as sinks of the pipeline: H.264 in segments (an encoder per
// segment of the frame grid, then one mux of the segments with the music), or the lossless
// master (one encoder, music included). Also the mux of encoded pieces that a join uses.
// Runs on the pipeline's writer thread; the work files live in a folder the caller holds.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "tools/democapture/capture_pipeline.h"
#include "tools/democapture/video_encoder.h"

class cVideoSink : public iFrameSink {
public:
    // Ends the output: waits for the encoders and leaves the finished video in the output
    // file given at construction. False with error.
    virtual bool close(std::string& error) = 0;
    // Stops every encoder at once.
    virtual void abandon() = 0;
};

// H.264: segment files go into work_folder; the finished MP4 into output.
std::unique_ptr<cVideoSink> make_h264_sink(const cVideoSettings& settings, const std::string& work_folder,
                                           const std::string& output);
// The lossless master, written by one encoder straight into output.
std::unique_ptr<cVideoSink> make_master_sink(const cVideoSettings& settings, const std::string& output);

// Puts the video of pieces (copied, in order) together with the music of settings' range into
// output, writing the concat list as list_path first. mkv: a master (Matroska, FLAC), else an
// MP4 with AAC.
bool mux_pieces(const cVideoSettings& settings, const std::vector<cConcatEntry>& pieces, bool mkv,
                const std::string& list_path, const std::string& output, std::string& error);
