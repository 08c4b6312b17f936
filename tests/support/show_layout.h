// A show directory of a test's own under /tmp: bin/demoplayer (a copy of the built player, with
// its trial program bin/demoplayer_probe), bin/dll_cache/, and data/ with the host's default
// shader and textures, plus whatever modules, music and track files the test adds. The player
// is run from its bin/.
#pragma once
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

class cShowLayout {
public:
    cShowLayout() {
        namespace fs = std::filesystem;
        fs::create_directories(dir_ / "bin/dll_cache");
        fs::copy_file(std::string(DEMO_SHOW_DIR) + "/bin/demoplayer", dir_ / "bin/demoplayer");
        // The development mode's trial program for rebuilt modules, beside the player.
        fs::copy_file(std::string(DEMO_SHOW_DIR) + "/bin/demoplayer_probe", dir_ / "bin/demoplayer_probe");
        for (const char* file : {"shaders/default.vert", "shaders/default.frag", "textures/default_white.png",
                                 "textures/default_black.png"})
            add_data_file(file);
    }

    const std::string& root() const { return dir_.path(); }
    std::string bin() const { return dir_ / "bin"; }
    std::string player() const { return dir_ / "bin/demoplayer"; }
    std::string operator/(const std::string& name) const { return dir_ / name; }

    // Copies a file of the repository's data/ into the show's data/.
    void add_data_file(const std::string& relative) {
        namespace fs = std::filesystem;
        fs::path to = fs::path(dir_ / "data") / relative;
        fs::create_directories(to.parent_path());
        fs::copy_file(std::string(DEMO_SOURCE_DIR) + "/data/" + relative, to, fs::copy_options::overwrite_existing);
    }
    // Copies a built module (e.g. from the test plug-in folder) into bin/.
    void add_module(const std::string& path) {
        namespace fs = std::filesystem;
        fs::copy_file(path, fs::path(bin()) / fs::path(path).filename(), fs::copy_options::overwrite_existing);
    }
    // Writes a file below the show directory.
    std::string write(const std::string& name, const std::string& bytes) const { return dir_.write(name, bytes); }

private:
    cTempDir dir_;
};

struct cTrackKey {
    int32_t row;
    float value;
    int8_t interpolation;  // 0 step, 1 linear, 2 smooth, 3 quadratic
};

// The bytes of a ".track" file: count, then row, value and interpolation per key, little-endian.
inline std::string track_file_bytes(const std::vector<cTrackKey>& keys) {
    std::string out;
    auto put = [&out](const void* p, size_t n) { out.append(static_cast<const char*>(p), n); };
    int32_t count = static_cast<int32_t>(keys.size());
    put(&count, 4);
    for (const auto& key : keys) {
        put(&key.row, 4);
        put(&key.value, 4);
        put(&key.interpolation, 1);
    }
    return out;
}
