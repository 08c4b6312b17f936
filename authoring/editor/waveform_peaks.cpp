// Peaks of the decoded music and their compact JSON form (base64 of byte pairs, about 50 KB
// for the show's 92 s). Depends on the audio decoder; never touches the audio device.
#include "authoring/editor/waveform_peaks.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "base/files/file_read.h"
#include "host/audio/audio_decoder.h"
#include "host/sound/sound_module_bass.h"

namespace {

std::string base64(const std::vector<uint8_t>& bytes) {
    static const char* kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t chunk = static_cast<uint32_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) chunk |= static_cast<uint32_t>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) chunk |= bytes[i + 2];
        out.push_back(kDigits[(chunk >> 18) & 63]);
        out.push_back(kDigits[(chunk >> 12) & 63]);
        out.push_back(i + 1 < bytes.size() ? kDigits[(chunk >> 6) & 63] : '=');
        out.push_back(i + 2 < bytes.size() ? kDigits[chunk & 63] : '=');
    }
    return out;
}

}  // namespace

cWaveformPeaks compute_peaks(const cPcm& pcm, int buckets_per_second) {
    cWaveformPeaks peaks;
    peaks.buckets_per_second = buckets_per_second;
    if (pcm.rate == 0 || pcm.channels == 0 || buckets_per_second <= 0) return peaks;
    uint64_t frames = pcm.frames();
    peaks.music_ms = static_cast<int64_t>(frames * 1000 / pcm.rate);
    uint64_t buckets = (frames * static_cast<uint64_t>(buckets_per_second) + pcm.rate - 1) / pcm.rate;
    peaks.low.assign(buckets, 0);
    peaks.high.assign(buckets, 0);
    for (uint64_t b = 0; b < buckets; ++b) {
        // Frame ranges from whole-number arithmetic, so bucket b starts exactly at b / rate seconds.
        uint64_t first = b * pcm.rate / static_cast<uint64_t>(buckets_per_second);
        uint64_t last = std::min(frames, (b + 1) * pcm.rate / static_cast<uint64_t>(buckets_per_second));
        int low = 0, high = 0;
        for (uint64_t i = first * pcm.channels; i < last * pcm.channels; ++i) {
            low = std::min<int>(low, pcm.samples[i]);
            high = std::max<int>(high, pcm.samples[i]);
        }
        peaks.low[b] = static_cast<int8_t>(low >> 8);
        peaks.high[b] = static_cast<int8_t>(high >> 8);
    }
    return peaks;
}

cWaveformPeaks load_waveform_peaks(const std::string& music_path, int buckets_per_second) {
    // Whatever the music is, a pipe included: the decode runs on a thread of its own, which the
    // editor never waits for.
    cReadOptions options;
    options.streams_too = true;
    std::string bytes;
    cWaveformPeaks peaks;
    if (!read_whole_file(music_path, bytes, options).ok()) {
        peaks.error = "cannot read the music \"" + music_path + "\"";
        return peaks;
    }
    cPcm pcm;
    int32_t code = decode_audio(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), pcm);
    if (bytes.empty() || code != 0) {
        peaks.error = "cannot decode the music \"" + music_path + "\": " +
                      cSoundModule_bass::error_name(static_cast<uint32_t>(code));
        return peaks;
    }
    return compute_peaks(pcm, buckets_per_second);
}

std::string peaks_json(const cWaveformPeaks& peaks) {
    if (!peaks.error.empty()) return nlohmann::json{{"error", peaks.error}}.dump();
    std::vector<uint8_t> pairs;
    pairs.reserve(peaks.low.size() * 2);
    for (std::size_t i = 0; i < peaks.low.size(); ++i) {
        pairs.push_back(static_cast<uint8_t>(peaks.low[i]));
        pairs.push_back(static_cast<uint8_t>(peaks.high[i]));
    }
    return nlohmann::json{{"buckets_per_second", peaks.buckets_per_second},
                          {"music_ms", peaks.music_ms},
                          {"peaks", base64(pairs)}}
        .dump();
}
