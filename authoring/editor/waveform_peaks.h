// The music's waveform for the editor's time line: the smallest and largest sample of every
// few milliseconds over all channels, as signed bytes. Decodes with the host's audio decoder;
// reads the music file once and keeps nothing of it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "host/audio/pcm.h"

struct cWaveformPeaks {
    int buckets_per_second = 0;
    int64_t music_ms = 0;
    std::vector<int8_t> low, high;  // one pair per bucket
    std::string error;              // why there is no waveform, when there is none
};

cWaveformPeaks compute_peaks(const cPcm& pcm, int buckets_per_second);
cWaveformPeaks load_waveform_peaks(const std::string& music_path, int buckets_per_second);

// {"buckets_per_second", "music_ms", "peaks": base64 of low, high, low, high, ...} or {"error"}
std::string peaks_json(const cWaveformPeaks& peaks);
