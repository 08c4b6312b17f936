// Fixed numbers and names of the capture tool: picture size, frame-rate limits, output names,
// the encoder's settings and how often the progress bar redraws. Only constants here; the
// show's own configuration (window size, music, end of the show) comes from host_constants.
#pragma once
#include <cstddef>
#include <cstdint>

#include "host/show/host_constants.h"
#include "tools/democapture/png_encoder.h"

namespace capture_config {

// The picture: the show is composed at its render size, 1280 x 720, and a capture renders it
// at the size it writes. A size of another shape gets the largest 16:9 picture that fits,
// centred between black bars; the picture itself is never stretched.
constexpr int32_t default_width = host_constants::window_width;
constexpr int32_t default_height = host_constants::window_height;
constexpr int32_t composed_width = host_constants::window_width;
constexpr int32_t composed_height = host_constants::window_height;
constexpr int32_t min_width = 320;
constexpr int32_t min_height = 180;
constexpr int32_t max_width = 7680;
constexpr int32_t max_height = 4320;
// Supersampling renders N times the size in each direction; each output pixel is the mean of
// its N x N rendered pixels (a box filter).
constexpr int32_t max_supersample = 4;
constexpr int32_t frame_bytes_per_pixel = 3;  // 24-bit PNG, bgr24 video

constexpr int32_t default_fps = 60;
constexpr int32_t max_fps = 240;
constexpr int64_t default_from_ms = 0;
constexpr int64_t default_to_ms = host_constants::show_end_ms;
// The player shows the show until its clock reads past this millisecond; later frames would
// be black, so a capture takes no frame after it.
constexpr int64_t show_end_ms = host_constants::show_end_ms;
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
// The PNG files: the Up filter on every row, deflated by igzip at level 1. On frames of the show
// that is about seven times the speed of zlib level 1 with the filters chosen row by row (the
// encoder of before), for files within 3 % of its size; Paeth is half as fast for files 5 %
// smaller, level 0 a little faster for files 15 % larger (bench/capture/png_encode_bench).
constexpr ePngFilter png_row_filter = ePngFilter::up;
constexpr int png_deflate_level = 1;

// Files are written under a temporary name next to the target and renamed when complete.
constexpr const char* partial_marker = ".partial-";

// The encoders: ffmpeg from the PATH, fed raw frames through a pipe (ffprobe reads what a
// join is given). Everything that decides the bits is fixed here, never taken from the
// machine, so that chunks captured on different machines join into what one run makes.
constexpr const char* encoder_program = "ffmpeg";
constexpr const char* probe_program = "ffprobe";
// H.264 in yuv420p (what every player takes) with BT.709 colours, and AAC music. The video is
// encoded in segments of whole seconds, each by an encoder of its own starting with a key
// frame, on one grid for the whole show: a chunk that starts on a segment boundary encodes its
// segments exactly as a single run does.
constexpr const char* video_codec = "libx264";
constexpr const char* video_preset = "fast";
constexpr int32_t default_crf = 18;
constexpr int32_t max_crf = 51;
constexpr const char* video_pixel_format = "yuv420p";
constexpr const char* video_encoder_threads = "4";
constexpr int32_t video_segment_seconds = 2;
constexpr const char* audio_codec = "aac";
constexpr const char* audio_bitrate = "192k";
// The lossless master: FFV1 (every frame a key frame, fixed slices) in Matroska, RGB kept
// exactly (bgr0), and the music as FLAC.
constexpr const char* master_codec = "ffv1";
constexpr const char* master_pixel_format = "bgr0";
constexpr const char* master_level = "3";
constexpr const char* master_slices = "4";
constexpr const char* master_audio_codec = "flac";
// FLAC keeps 24 bits of the decoder's samples; fixed, so no encoder's preference changes them.
constexpr const char* master_audio_sample_format = "s32";
// The master's pixels are the rendered ones, as a screen shows them: sRGB, which has the
// BT.709 primaries and its own transfer curve, stored as RGB (no matrix) at full range. Tagged,
// so that a player or an editor converts them right instead of guessing.
constexpr const char* master_color_primaries = "bt709";
constexpr const char* master_color_transfer = "iec61966-2-1";
constexpr const char* master_color_space = "rgb";
constexpr const char* master_color_range = "pc";
// No music has more samples per second than this; a probe that says otherwise is misread.
constexpr int64_t max_music_rate = 768000;
// A larger pipe lets the renderer run a frame ahead of the encoder.
constexpr int32_t encoder_pipe_bytes = 1 << 20;

// The pipeline: frames are read back through a ring of pixel-buffer objects, so that reading
// frame n waits only for frame n - ring + 1; then PNG compression runs on a pool of threads
// (one per core unless --threads says otherwise), and one writer puts the frames out in order.
// Frames in flight on the processor side: one per thread, one being written, one being filled
// (for a video, where the encoder process compresses, as many: they absorb its changes of pace).
constexpr int32_t read_back_ring = 3;
constexpr int32_t max_threads = 64;
constexpr int32_t frames_in_flight_beyond_threads = 2;

// What a finished range capture records, so that chunks can be joined: a file in a PNG folder,
// the "comment" tag of a video.
constexpr const char* manifest_file = "democapture.txt";
constexpr const char* manifest_magic = "democapture-range 1";
// The record names the show it was captured from by this many bytes of the show's digest.
constexpr size_t show_identity_bytes = 16;
// A chunk's sound may end this much before its pictures and still count as whole: Matroska
// keeps its times to the millisecond.
constexpr double chunk_sound_slack_seconds = 0.002;
// --jobs captures its chunks into the target's name with this suffix, then joins them.
constexpr const char* chunks_suffix = ".chunks";
constexpr int32_t max_jobs = 256;
// Set in a chunk process's environment: it ends when its parent does.
constexpr const char* parent_environment = "DEMOCAPTURE_PARENT";

// The progress bar redraws at most this often (and always on the last frame).
constexpr double progress_interval_seconds = 0.1;
constexpr int progress_bar_cells = 30;

}  // namespace capture_config
