// The configuration of the show: it lives in the code. Window, music, tempo, directories and
// the end of the show are constants of the start-up; the player takes no options. Each fact
// is here once: the subsystems, the tools and the authoring side refer to it.
#pragma once
#include <cstdint>

namespace host_constants {

constexpr int32_t window_width = 1280;
constexpr int32_t window_height = 720;
constexpr bool window_fullscreen = true;

constexpr const char* music_path = "data/muzak/recut.mp3";
constexpr double beats_per_minute = 180.0;
constexpr double rows_per_beat = 8.0;
constexpr int beats_per_bar = 4;
constexpr const char* sync_base_path = "data/sync/";

constexpr const char* module_directory = "bin/";
constexpr const char* module_cache_directory = "bin/dll_cache/";
constexpr const char* module_pattern = "render*.so";

// The last frame is the first one that ends after this music position.
constexpr int32_t show_end_ms = 88250;

constexpr int32_t audio_device_default_output = 1;
constexpr int32_t audio_device_no_sound = 0;

}  // namespace host_constants
