// PNG output of a capture: compression into memory (png_encoder.h: our writer around ISA-L's
// igzip) on the pipeline's threads, and the writer that puts each file in place, in frame
// order, under a temporary name renamed when complete, so a reader (or a crash) never sees half
// a picture.
#pragma once
#include <cstdint>
#include <string>

#include "tools/democapture/capture_pipeline.h"
#include "tools/democapture/png_encoder.h"

class cPngCompressor final : public iFrameCompressor {
public:
    cPngCompressor(int32_t width, int32_t height);

    // frame.pixels (height rows of width BGR triples, top row first) into frame.encoded.
    bool compress(cFrame& frame, std::string& error) override;

private:
    cPngEncoder encoder_;
};

class cPngSink final : public iFrameSink {
public:
    explicit cPngSink(std::string out_dir) : out_dir_(std::move(out_dir)) {}
    // Writes frame.encoded as out_dir/frame.file_name. On failure neither the file nor a
    // temporary one is left, and error says why (the system's reason, such as a full disk).
    bool put(cFrame& frame, std::string& error) override;

private:
    std::string out_dir_;
};
