// A decoded stream: interleaved 16-bit samples with their rate and channel count. Written once
// by the decoder, then only read (by the output thread and by spectrum requests at once).
#pragma once
#include <cstdint>
#include <vector>

struct cPcm {
    uint32_t rate = 0;
    uint32_t channels = 0;
    std::vector<int16_t> samples;  // frames * channels, interleaved

    uint64_t frames() const { return channels ? samples.size() / channels : 0; }
    // Bytes per frame of 16-bit PCM: the unit of every position and length of the layer.
    uint32_t frame_bytes() const { return channels * 2; }
};
