// The music's waveform as the pages ask for it: decoded once, on a thread that nobody waits
// for, and handed out as JSON once it is ready. Depends on the waveform peaks; a request is
// never made to wait for the decoder, and the player's exit never waits for it either.
#pragma once
#include <memory>
#include <mutex>
#include <string>

class cMusicPeaks {
public:
    // Starts decoding the music at music_path on a detached thread (the decoder cannot be
    // interrupted). The thread owns all it touches: the path, and peaks by its shared pointer.
    static void decode_detached(std::shared_ptr<cMusicPeaks> peaks, std::string music_path);
    // The peaks as JSON (waveform_peaks.h), once decoded; false while the music is decoded.
    bool copy(std::string& json);

private:
    std::mutex mutex_;
    bool ready_ = false;
    std::string json_;
};
