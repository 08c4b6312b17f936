// The background decode of the music and its one slot. Standard library threads only.
#include "authoring/editor/music_peaks.h"

#include <thread>
#include <utility>

#include "authoring/editor/editor_config.h"
#include "authoring/editor/waveform_peaks.h"

void cMusicPeaks::decode_detached(std::shared_ptr<cMusicPeaks> peaks, std::string music_path) {
    std::thread([peaks = std::move(peaks), music = std::move(music_path)] {
        std::string text = peaks_json(load_waveform_peaks(music, editor_config::peak_buckets_per_second));
        std::lock_guard<std::mutex> lock(peaks->mutex_);
        peaks->json_ = std::move(text);
        peaks->ready_ = true;
    }).detach();
}

bool cMusicPeaks::copy(std::string& json) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ready_) return false;
    json = json_;
    return true;
}
