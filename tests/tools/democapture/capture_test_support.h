// Helpers of the capture tool's tests: running democapture, reading PNG files back, comparing
// pictures with a tolerance (and drawing where they differ), and a copy of the show whose
// module track is switched off.
#pragma once
#include <FreeImage.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/files/file_read.h"
#include "support/run_process.h"
#include "support/show_layout.h"

inline std::string democapture_path() { return std::string(DEMO_TOOLS_DIR) + "/democapture"; }
inline std::string built_show_dir() { return DEMO_SHOW_DIR; }

// Runs the tool headless: no display and no video driver chosen, as on a build machine.
inline cProcessResult run_democapture(const std::vector<std::string>& args, cProcessOptions options = {}) {
    std::vector<std::string> argv = {democapture_path()};
    argv.insert(argv.end(), args.begin(), args.end());
    options.unset_env.push_back("DISPLAY");
    options.unset_env.push_back("SDL_VIDEODRIVER");
    options.timeout_seconds = std::max(options.timeout_seconds, 600.0);
    return run_process(argv, options);
}

// File names in a directory, sorted.
inline std::vector<std::string> files_in(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

inline size_t count_lines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

// A picture as 8-bit BGR triples, top row first.
struct cPicture {
    int width = 0;
    int height = 0;
    int bits_per_pixel = 0;  // as stored in the file
    std::vector<uint8_t> bgr;
    bool empty() const { return bgr.empty(); }
};

inline cPicture read_picture(const std::string& path) {
    cPicture picture;
    FIBITMAP* loaded = FreeImage_Load(FreeImage_GetFileType(path.c_str(), 0), path.c_str(), 0);
    if (!loaded) return picture;
    picture.bits_per_pixel = static_cast<int>(FreeImage_GetBPP(loaded));
    FIBITMAP* rgb = FreeImage_ConvertTo24Bits(loaded);
    FreeImage_Unload(loaded);
    if (!rgb) return picture;
    picture.width = static_cast<int>(FreeImage_GetWidth(rgb));
    picture.height = static_cast<int>(FreeImage_GetHeight(rgb));
    picture.bgr.resize(static_cast<size_t>(picture.width) * picture.height * 3);
    for (int y = 0; y < picture.height; ++y) {
        const uint8_t* line = FreeImage_GetScanLine(rgb, picture.height - 1 - y);
        std::copy(line, line + picture.width * 3, picture.bgr.begin() + static_cast<ptrdiff_t>(y) * picture.width * 3);
    }
    FreeImage_Unload(rgb);
    return picture;
}

inline bool write_picture(const cPicture& picture, const std::string& path) {
    FIBITMAP* bitmap = FreeImage_Allocate(picture.width, picture.height, 24);
    if (!bitmap) return false;
    for (int y = 0; y < picture.height; ++y) {
        const uint8_t* row = picture.bgr.data() + static_cast<size_t>(y) * picture.width * 3;
        std::copy(row, row + picture.width * 3, FreeImage_GetScanLine(bitmap, picture.height - 1 - y));
    }
    const bool saved = FreeImage_Save(FIF_PNG, bitmap, path.c_str(), PNG_DEFAULT);
    FreeImage_Unload(bitmap);
    return saved;
}

// The golden rule: a pixel matches when each channel is at most max_channel_difference apart;
// two pictures match when at least min_matching_share of their pixels do.
constexpr int max_channel_difference = 2;
constexpr double min_matching_share = 0.999;

struct cPictureComparison {
    bool same_size = false;
    int64_t pixels = 0;
    int64_t differing = 0;  // pixels beyond the channel tolerance
    int max_difference = 0;
    double matching_share() const { return pixels ? 1.0 - static_cast<double>(differing) / pixels : 0.0; }
    bool matches() const { return same_size && matching_share() >= min_matching_share; }
};

// Compares; when difference is given it receives a picture of the comparison: matching pixels
// as a dim grey copy of the expected picture, differing ones in red, brighter the more they differ.
inline cPictureComparison compare_pictures(const cPicture& expected, const cPicture& actual,
                                           cPicture* difference = nullptr) {
    cPictureComparison result;
    result.same_size = expected.width == actual.width && expected.height == actual.height && !expected.empty() &&
                       expected.bgr.size() == actual.bgr.size();
    if (!result.same_size) return result;
    result.pixels = static_cast<int64_t>(expected.width) * expected.height;
    if (difference) *difference = {expected.width, expected.height, 24, std::vector<uint8_t>(expected.bgr.size())};
    for (int64_t i = 0; i < result.pixels; ++i) {
        int worst = 0;
        for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(expected.bgr[i * 3 + c] - actual.bgr[i * 3 + c]));
        result.max_difference = std::max(result.max_difference, worst);
        const bool differs = worst > max_channel_difference;
        if (differs) ++result.differing;
        if (difference) {
            uint8_t* out = &difference->bgr[i * 3];
            if (differs) {
                out[0] = 0;
                out[1] = 0;
                out[2] = static_cast<uint8_t>(std::min(255, 96 + worst * 4));
            } else {
                const int grey = (expected.bgr[i * 3] + expected.bgr[i * 3 + 1] + expected.bgr[i * 3 + 2]) / 12;
                out[0] = out[1] = out[2] = static_cast<uint8_t>(grey);
            }
        }
    }
    return result;
}

// A picture shrunk to width x height by area averaging: each new pixel is the mean of the part
// of the picture it covers, partly covered pixels weighted by the part (for 1.5 or 3 times).
inline cPicture scale_down_by_area(const cPicture& picture, int width, int height) {
    cPicture out{width, height, 24, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
    const double sx = static_cast<double>(picture.width) / width, sy = static_cast<double>(picture.height) / height;
    for (int y = 0; y < height; ++y) {
        const double y0 = y * sy, y1 = (y + 1) * sy;
        for (int x = 0; x < width; ++x) {
            const double x0 = x * sx, x1 = (x + 1) * sx;
            double sum[3] = {0, 0, 0}, weight = 0;
            for (int py = static_cast<int>(y0); py < y1 && py < picture.height; ++py) {
                const double wy = std::min<double>(py + 1, y1) - std::max<double>(py, y0);
                for (int px = static_cast<int>(x0); px < x1 && px < picture.width; ++px) {
                    const double w = wy * (std::min<double>(px + 1, x1) - std::max<double>(px, x0));
                    const uint8_t* p = &picture.bgr[(static_cast<size_t>(py) * picture.width + px) * 3];
                    for (int c = 0; c < 3; ++c) sum[c] += w * p[c];
                    weight += w;
                }
            }
            for (int c = 0; c < 3; ++c)
                out.bgr[(static_cast<size_t>(y) * width + x) * 3 + c] = static_cast<uint8_t>(sum[c] / weight + 0.5);
        }
    }
    return out;
}

// How closely two pictures of one size agree: the share of pixels whose channels all lie
// within tolerance, and the mean difference over every channel.
struct cCloseness {
    double share_within = 0;
    double mean_difference = 0;
};
inline cCloseness closeness(const cPicture& a, const cPicture& b, int tolerance) {
    cCloseness result;
    if (a.bgr.size() != b.bgr.size() || a.bgr.empty()) return result;
    const size_t pixels = a.bgr.size() / 3;
    size_t within = 0;
    double total = 0;
    for (size_t i = 0; i < pixels; ++i) {
        int worst = 0;
        for (int c = 0; c < 3; ++c) {
            const int d = std::abs(a.bgr[i * 3 + c] - b.bgr[i * 3 + c]);
            worst = std::max(worst, d);
            total += d;
        }
        within += worst <= tolerance ? 1 : 0;
    }
    result.share_within = static_cast<double>(within) / pixels;
    result.mean_difference = total / (pixels * 3.0);
    return result;
}

// What tells two files of a capture's frames apart, or "" when they hold the same frame: for
// PNG files the same size and pixels, for anything else (the range record) the same bytes.
// Frames are compared as pictures because the same pixels do not always deflate to the same
// bytes: ISA-L's igzip, inside a capture, has been seen to make a stream a few bytes shorter
// for one frame in a few thousand under load, a valid stream of the same pixels.
inline std::string frame_file_difference(const std::string& expected, const std::string& actual) {
    const std::string png = ".png";
    if (expected.size() < png.size() || expected.compare(expected.size() - png.size(), png.size(), png) != 0) {
        std::string x, y, reason;
        if (!read_whole_file(expected, x, reason)) return expected + ": " + reason;
        if (!read_whole_file(actual, y, reason)) return actual + ": " + reason;
        return x == y ? "" : "other bytes";
    }
    const cPictureComparison c = compare_pictures(read_picture(expected), read_picture(actual));
    if (!c.same_size) return "not two readable pictures of one size";
    if (c.max_difference == 0) return "";
    return "other pixels: " + std::to_string(c.differing) + " off by more than " +
           std::to_string(max_channel_difference) + ", largest difference " + std::to_string(c.max_difference);
}

// The decoded video frames of a file (or a numbered picture sequence) as one hash per frame,
// in RGB, through ffmpeg: equal lists mean equal pictures and the same number of them.
inline std::vector<std::string> decoded_frame_hashes(const std::string& input, const std::string& stream = "0:v") {
    const cProcessResult run = run_process({"/usr/bin/ffmpeg", "-v", "error", "-i", input, "-map", stream, "-pix_fmt",
                                            "rgb24", "-f", "framemd5", "-"});
    std::vector<std::string> hashes;
    size_t start = 0;
    while (start < run.out.size()) {
        size_t end = run.out.find('\n', start);
        if (end == std::string::npos) end = run.out.size();
        const std::string line = run.out.substr(start, end - start);
        if (!line.empty() && line[0] != '#') hashes.push_back(line.substr(line.rfind(',') + 1));
        start = end + 1;
    }
    return hashes;
}

// The decoded music of a video as one hash.
inline std::string decoded_audio_hash(const std::string& input) {
    return run_process({"/usr/bin/ffmpeg", "-v", "error", "-i", input, "-map", "0:a", "-f", "md5", "-"}).out;
}

// True where this machine lets a test mount its own file systems (a user and mount namespace).
inline bool can_mount_privately() {
    return run_process({"/usr/bin/unshare", "-rm", "/bin/true"}).status == 0;
}

// The 13 bytes of a track that holds 0 from its first row on.
inline std::string track_switched_off() { return track_file_bytes({{0, 0.0f, 0}}); }

// A copy of a show directory whose module track ("scene_karaoke") is 0 throughout: bin/ with
// the modules and an empty cache, data/ linked entry by entry except sync/, which is copied.
inline void make_module_off_show(const std::string& source, const std::string& target) {
    namespace fs = std::filesystem;
    fs::create_directories(fs::path(target) / "bin/dll_cache");
    fs::create_directories(fs::path(target) / "data/sync");
    for (const auto& entry : fs::directory_iterator(fs::path(source) / "bin")) {
        const std::string name = entry.path().filename();
        if (name.rfind("render", 0) == 0 && entry.path().extension() == ".so") {
            fs::copy_file(entry.path(), fs::path(target) / "bin" / name);
        }
    }
    for (const auto& entry : fs::directory_iterator(fs::path(source) / "data")) {
        const std::string name = entry.path().filename();
        if (name == "sync") continue;
        fs::create_symlink(fs::canonical(entry.path()), fs::path(target) / "data" / name);
    }
    for (const auto& entry : fs::directory_iterator(fs::path(source) / "data/sync")) {
        fs::copy_file(fs::canonical(entry.path()), fs::path(target) / "data/sync" / entry.path().filename());
    }
    std::ofstream(fs::path(target) / "data/sync/_scene_karaoke.track", std::ios::binary | std::ios::trunc)
        << track_switched_off();
}
