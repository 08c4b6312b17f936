// A show directory for the development loop run inside a test, without the player: what
// start-up reads (the host's default shader and textures), the probe module, 20 s of a quiet
// sine as the music, and the probe's scene track switched on.
#pragma once
#include <filesystem>
#include <string>

#include "support/audio_test_media.h"
#include "support/show_layout.h"
#include "support/temp_dir.h"

inline void make_probe_show(const cTempDir& dir) {
    namespace fs = std::filesystem;
    fs::create_directories(dir / "bin/dll_cache");
    for (const char* file : {"shaders/default.vert", "shaders/default.frag", "textures/default_white.png",
                             "textures/default_black.png"}) {
        const fs::path to = dir / ("data/" + std::string(file));
        fs::create_directories(to.parent_path());
        fs::copy_file(std::string(DEMO_SOURCE_DIR) + "/data/" + file, to);
    }
    fs::copy_file(std::string(DEMO_TEST_PLUGIN_DIR) + "/render_probe.so", dir / "bin/render_probe.so");
    dir.write("data/muzak/recut.mp3", wav_bytes(22050, 1, sine_samples(22050, 1, 22050 * 20, 220.0, 0.2)));
    dir.write("data/sync/_scene_probe.track", track_file_bytes({{0, 1.0f, 0}}));
}
