// What the versewall GL tests stand on, once per process: a hidden 1280 x 720 window with a GL
// context (SDL's offscreen driver on Mesa), a show directory whose data/ is the repository's, and
// the host's sound module on the "no sound" device playing a silent stream as the clock. Per
// test: a private copy of the built plug-in, and sync tracks written as files for a real sync
// device. The audio device opens once per process, as in the host; nothing here is a stand-in.
#pragma once
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gfx/window/window.h"
#include "support/hidden_window.h"
#include "support/audio_test_media.h"
#include "host/sound/sound_module_bass.h"
#include "host/sync/sync_device.h"
#include "support/capture_stream.h"
#include "support/show_layout.h"
#include "support/temp_dir.h"

namespace versewall_test {

class cVersewallStage : public ::testing::Environment {
public:
    static constexpr uint32_t music_rate = 48000;  // whole samples per millisecond: exact clock
    static constexpr uint32_t music_seconds = 12;

    static cWindow& window() { return *instance().window_; }
    static cSoundModule_bass& sound() { return instance().sound_; }

    void SetUp() override {
        // The soft assertion waits for Enter on a terminal; tests have nobody to press it.
        int null_fd = ::open("/dev/null", O_RDONLY);
        ::dup2(null_fd, STDIN_FILENO);
        ::close(null_fd);
        std::filesystem::create_directory_symlink(DEMO_SOURCE_DIR "/data", dir_ / "data");
        ASSERT_EQ(::chdir(dir_.path().c_str()), 0) << dir_.path();

        window_ = open_hidden_window();

        cCaptureStream out(STDOUT_FILENO), err(STDERR_FILENO);
        sound_.init_device(nullptr, 0);
        const std::vector<int16_t> silence(static_cast<size_t>(music_rate) * 2 * music_seconds, 0);
        sound_.load(dir_.write("music.wav", wav_bytes(music_rate, 2, silence)));
    }

    static cVersewallStage& instance() {
        static cVersewallStage* made = [] {
            auto* stage = new cVersewallStage;
            ::testing::AddGlobalTestEnvironment(stage);
            return stage;
        }();
        return *made;
    }

private:
    cTempDir dir_;
    std::unique_ptr<cWindow> window_;
    cSoundModule_bass sound_;
};
inline const bool versewall_stage_registered = (cVersewallStage::instance(), true);

// Sync tracks as ".track" files in a directory of the test's own, read by a real sync device.
// A device reads each file once, so every change of a track makes a fresh device.
class cTracks {
public:
    cTracks() { reopen(); }
    // Tracks that hold one value all the time.
    void set(const std::map<std::string, float>& values) {
        for (const auto& [name, value] : values) write(name, {{0, value, 0}});
        reopen();
    }
    // A track with keys (row: 24 per second of music).
    void keys(const std::string& name, const std::vector<cTrackKey>& keys) {
        write(name, keys);
        reopen();
    }
    cSyncDevice& device() { return *device_; }

private:
    void write(const std::string& name, const std::vector<cTrackKey>& keys) {
        dir_.write("_" + name + ".track", track_file_bytes(keys));
    }
    void reopen() {
        cCaptureStream err(STDERR_FILENO);  // "# SYNC connected ..."
        device_ = std::make_unique<cSyncDevice>();
        device_->open_store(dir_.path() + "/");
    }
    cTempDir dir_;
    std::unique_ptr<cSyncDevice> device_;
};

}  // namespace versewall_test
