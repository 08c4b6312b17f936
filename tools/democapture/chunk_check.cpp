// The checks of a chunk's frames against its record: PNG files read back and decoded with
// FreeImage on a thread per core; videos decoded by ffprobe (video_encoder.h runs it), whose
// every complaint counts as damage.
#include "tools/democapture/chunk_check.h"

#include <FreeImage.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "base/files/file_read.h"
#include "tools/democapture/capture_config.h"
#include "tools/democapture/capture_options.h"
#include "tools/democapture/output_kind.h"
#include "tools/democapture/video_encoder.h"

using namespace capture_config;

namespace {

constexpr uint8_t png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
// The last chunk of every PNG file: no data, its type, and the CRC of the type.
constexpr uint8_t png_end[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xae, 0x42, 0x60, 0x82};
constexpr size_t png_header_bytes = 8 + 8 + 13 + 4;  // the signature and the IHDR chunk

uint32_t big_endian(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

// "" when the file is a whole PNG of width x height that decodes (when decode is set); else what
// is wrong with it.
std::string png_fault(const std::string& path, int32_t width, int32_t height, bool decode) {
    const std::string name = path.substr(path.rfind('/') + 1);
    std::string text;
    const cReadOutcome read = read_whole_file(path, text, cReadOptions{});
    if (!read.ok()) return read.failure == cReadOutcome::cannot_read ? name + " cannot be read" : "it has no " + name;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const size_t size = text.size();
    if (size < png_header_bytes + sizeof png_end || std::memcmp(bytes, png_signature, 8) != 0 ||
        std::memcmp(bytes + size - sizeof png_end, png_end, sizeof png_end) != 0) {
        return name + " is cut short or is not a PNG file";
    }
    if (big_endian(bytes + 16) != static_cast<uint32_t>(width) ||
        big_endian(bytes + 20) != static_cast<uint32_t>(height)) {
        return name + " is not " + std::to_string(width) + "x" + std::to_string(height) + " as its record says";
    }
    if (!decode) return "";
    FIMEMORY* memory = FreeImage_OpenMemory(reinterpret_cast<BYTE*>(text.data()), static_cast<DWORD>(text.size()));
    FIBITMAP* bitmap = memory ? FreeImage_LoadFromMemory(FIF_PNG, memory, 0) : nullptr;
    const bool whole = bitmap && FreeImage_GetWidth(bitmap) == static_cast<unsigned>(width) &&
                       FreeImage_GetHeight(bitmap) == static_cast<unsigned>(height);
    if (bitmap) FreeImage_Unload(bitmap);
    if (memory) FreeImage_CloseMemory(memory);
    return whole ? "" : name + " does not decode";
}

bool check_png_folder(const std::string& folder, const cRangeManifest& m, bool decode, std::string& error) {
    // The first damaged frame in order is the one named, whichever thread finds it.
    std::atomic<int64_t> next{0}, first_bad{m.frames};
    std::string fault;
    std::mutex fault_lock;
    auto work = [&] {
        for (int64_t n; (n = next.fetch_add(1)) < first_bad.load();) {
            std::string why = png_fault(folder + "/" + range_frame_name(n), m.width, m.height, decode);
            if (why.empty()) continue;
            std::lock_guard<std::mutex> lock(fault_lock);
            if (n < first_bad.load()) {
                first_bad.store(n);
                fault = std::move(why);
            }
        }
    };
    const int64_t threads = std::min<int64_t>(std::max(1u, std::thread::hardware_concurrency()), m.frames);
    std::vector<std::thread> pool;
    for (int64_t i = 1; i < threads; ++i) pool.emplace_back(work);
    work();
    for (auto& t : pool) t.join();
    if (fault.empty()) return true;
    error = (fault.rfind("it has no ", 0) == 0 ? "is incomplete: " : "is damaged: ") + fault;
    return false;
}

// The fields of one line of ffprobe's compact output ("section|key=value|...").
std::map<std::string, std::string> fields_of(const std::string& line) {
    std::map<std::string, std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '|');) {
        const size_t eq = field.find('=');
        if (eq != std::string::npos) fields[field.substr(0, eq)] = field.substr(eq + 1);
    }
    return fields;
}

// "[matroska,webm @ 0x5618731c9840] File ended prematurely" as "matroska,webm: File ended
// prematurely": the address means nothing to a reader.
std::string complaint_text(const std::string& line) {
    const size_t at = line.find(" @ 0x"), close = line.find("] ");
    if (line.empty() || line[0] != '[' || at == std::string::npos || close == std::string::npos || close < at) {
        return line;
    }
    return line.substr(1, at - 1) + ": " + line.substr(close + 2);
}

std::string seconds_text(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", seconds);
    return text;
}

bool check_video(const std::string& path, const cRangeManifest& m, bool decode, std::string& error) {
    // Decoded, every frame; counted, every packet. ffprobe's complaints (a file that ends early,
    // a packet cut short, a frame that does not decode) come in with its lines and damn the chunk.
    std::string output, run_error;
    const char* entries = decode ? "stream=codec_type,sample_rate:frame=media_type,pts_time,nb_samples"
                                 : "stream=codec_type,sample_rate:packet=codec_type,pts_time,duration_time";
    const bool ran = run_to_end({probe_program, "-v", "error", "-show_entries", entries, "-of", "compact", path}, output,
                                run_error, true);
    int64_t pictures = 0;
    double sample_rate = 0, sound_end = 0;
    // Each piece of sound: its start, and its length in seconds (a packet's) or in samples (a
    // decoded frame's, whose rate comes with the stream, listed last).
    struct cSound {
        double start, seconds, samples;
    };
    std::vector<cSound> sound;
    std::string complaint = first_complaint(output);
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        const bool frame = line.rfind("frame|", 0) == 0 || line.rfind("packet|", 0) == 0;
        const bool stream = line.rfind("stream|", 0) == 0;
        if (!frame && !stream) continue;
        auto f = fields_of(line);
        if (stream && f["codec_type"] == "audio") sample_rate = std::atof(f["sample_rate"].c_str());
        const std::string& type = decode ? f["media_type"] : f["codec_type"];
        if (frame && type == "video") ++pictures;
        // A decoded frame of sound tells its samples, a packet its length in seconds.
        if (frame && type == "audio") {
            sound.push_back({std::atof(f["pts_time"].c_str()), decode ? 0.0 : std::atof(f["duration_time"].c_str()),
                             decode ? std::atof(f["nb_samples"].c_str()) : 0.0});
        }
    }
    if (!ran && complaint.empty()) complaint = run_error;
    if (!complaint.empty()) {
        error = "is damaged: it does not decode (" + complaint + ")";
        return false;
    }
    if (pictures != m.frames) {
        error = "is damaged: it holds " + std::to_string(pictures) + " of its " + std::to_string(m.frames) + " frames";
        return false;
    }
    for (const cSound& piece : sound) {
        const double length = decode ? (sample_rate > 0 ? piece.samples / sample_rate : 0.0) : piece.seconds;
        sound_end = std::max(sound_end, piece.start + length);
    }
    const double pictures_end = static_cast<double>(m.frames) / m.fps;
    if (sound.empty()) {
        error = "is damaged: it has no sound";
        return false;
    }
    if (sound_end < pictures_end - chunk_sound_slack_seconds) {
        error = "is damaged: its sound ends at " + seconds_text(sound_end) + ", before its pictures (" +
                seconds_text(pictures_end) + ")";
        return false;
    }
    return true;
}

}  // namespace

std::string first_complaint(const std::string& output) {
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line.rfind("frame|", 0) == 0 || line.rfind("packet|", 0) == 0 ||
            line.rfind("stream|", 0) == 0 ||
            line.rfind("side_data|", 0) == 0) {
            continue;
        }
        return complaint_text(line);
    }
    return "";
}

bool check_chunk(const std::string& path, const cRangeManifest& manifest, std::string& error, eChunkCheck depth) {
    const bool decode = depth == eChunkCheck::decode;
    if (output_in_record(manifest.output) == eOutput::png) return check_png_folder(path, manifest, decode, error);
    return check_video(path, manifest, decode, error);
}
