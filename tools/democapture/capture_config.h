// Fixed numbers and names of the capture tool: picture size, frame-rate limits, output names,
// the encoder's settings and how often the progress bar redraws. Only constants here; the
// show's own configuration (window size, music, end of the show) comes from host_constants.
#pragma once
#include <cstdint>

#include "host/app/host_constants.h"

namespace capture_config {

// The picture every frame is read back at: the show's render size.
constexpr int32_t frame_width = host_constants::window_width;
constexpr int32_t frame_height = host_constants::window_height;
constexpr int32_t frame_bytes_per_pixel = 3;  // 24-bit PNG, bgr24 video

constexpr int32_t default_fps = 60;
constexpr int32_t max_fps = 240;
constexpr int64_t default_from_ms = 0;
constexpr int64_t default_to_ms = host_constants::show_end_ms;
// No show is a day long; the bound keeps every frame count and time far from overflow.
constexpr int64_t max_time_ms = 24LL * 60 * 60 * 1000;

// Where the show is when --show is not given: beside the tool, <build>/tools/../show.
constexpr const char* default_show_from_tool = "../show";
// What a show directory must hold for a capture to make sense.
constexpr const char* show_data_directory = "data";
constexpr const char* show_music_path = host_constants::music_path;

// Names of the written frames: a range is numbered from 0, single frames carry their time.
constexpr const char* range_frame_prefix = "frame_";
constexpr int range_frame_digits = 6;
constexpr const char* single_frame_prefix = "at_";
constexpr const char* single_frame_suffix = "ms";
constexpr int single_frame_digits = 6;
constexpr const char* frame_extension = ".png";
// zlib level of the PNG files (FreeImage takes it as the save flag): 1 is the fastest. At the
// default level 6 compressing a busy frame takes five times as long for files a tenth smaller.
constexpr int png_zlib_level = 1;

// Files are written under a temporary name next to the target and renamed when complete.
constexpr const char* partial_marker = ".partial-";

// The encoder: found on the PATH, H.264 in yuv420p (what every player takes) with AAC audio.
constexpr const char* encoder_program = "ffmpeg";
constexpr const char* video_codec = "libx264";
constexpr const char* video_preset = "fast";
constexpr const char* video_crf = "18";
constexpr const char* video_pixel_format = "yuv420p";
constexpr const char* audio_codec = "aac";
constexpr const char* audio_bitrate = "192k";
// A larger pipe lets the renderer run a frame ahead of the encoder.
constexpr int32_t encoder_pipe_bytes = 1 << 20;

// The progress bar redraws at most this often (and always on the last frame).
constexpr double progress_interval_seconds = 0.1;
constexpr int progress_bar_cells = 30;

}  // namespace capture_config
