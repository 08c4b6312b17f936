// Finding and removing the frames of an earlier range in a PNG folder. Uses std::filesystem for
// names and POSIX unlink; reads the earlier record with capture_manifest. Removes only names
// that are exactly a range frame's and that the record counts.
#include "tools/democapture/earlier_frames.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "base/files/file_read.h"
#include "tools/democapture/capture_config.h"
#include "tools/democapture/capture_manifest.h"
#include "tools/democapture/capture_options.h"

namespace fs = std::filesystem;
using namespace capture_config;

namespace {

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// The number n of a name that is exactly range_frame_name(n), or -1.
int64_t frame_number(const std::string& name) {
    const std::string prefix = range_frame_prefix, extension = frame_extension;
    if (name.size() <= prefix.size() + extension.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - extension.size(), extension.size(), extension) != 0) {
        return -1;
    }
    const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - extension.size());
    if (digits.size() > 15 || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return -1;
    }
    const int64_t n = std::stoll(digits);
    return range_frame_name(n) == name ? n : -1;
}

// The frames the folder's record says a finished capture wrote: frame 0 to this, not included.
int64_t recorded_frames(const std::string& dir) {
    std::string text;
    if (!read_whole_file((fs::path(dir) / manifest_file).string(), text, cReadOptions{}).ok()) return 0;
    cRangeManifest manifest;
    std::string ignored;
    return parse_manifest(text, manifest, ignored) ? manifest.frames : 0;
}

// The numbers of the frame files in dir from `from` on, highest first.
std::vector<int64_t> frames_from(const std::string& dir, int64_t from) {
    std::vector<int64_t> found;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const int64_t n = frame_number(it->path().filename().string());
        std::error_code kind;
        if (n >= from && !it->is_directory(kind)) found.push_back(n);
    }
    std::sort(found.rbegin(), found.rend());
    return found;
}

std::string span_text(const std::vector<int64_t>& numbers) {
    return numbers.size() == 1 ? range_frame_name(numbers.front())
                               : range_frame_name(numbers.back()) + " to " + range_frame_name(numbers.front());
}

}  // namespace

ePlace clear_earlier_frames(const std::string& dir, int64_t frames, std::string& note, std::string& error) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return ePlace::usable;
    const int64_t recorded = recorded_frames(dir);
    const std::vector<int64_t> beyond = frames_from(dir, frames);
    if (beyond.empty()) return ePlace::usable;
    const std::vector<int64_t> unrecorded = frames_from(dir, std::max(frames, recorded));
    if (!unrecorded.empty()) {
        error = "the output " + quoted(dir) + " holds " + std::to_string(unrecorded.size()) + " frame file" +
                (unrecorded.size() == 1 ? "" : "s") + " (" + span_text(unrecorded) +
                ") past the " + std::to_string(frames) +
                " frames of the new range that no finished capture recorded (a stopped capture's, or files of "
                "your own); they would stand beside the new frames as if they belonged to them: move them away "
                "or choose another folder";
        return ePlace::refused;
    }
    // The highest first, the record last: stopped half-way, the record still counts what is left,
    // and the same command again removes the rest.
    for (int64_t n : beyond) {
        const std::string path = (fs::path(dir) / range_frame_name(n)).string();
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            error = "cannot remove " + quoted(path) + ", a frame of the earlier capture in " + quoted(dir) +
                    " past the new range: " + std::strerror(errno);
            return ePlace::unwritable;
        }
    }
    const std::string record = (fs::path(dir) / manifest_file).string();
    if (::unlink(record.c_str()) != 0 && errno != ENOENT) {
        error = "cannot remove " + quoted(record) + ", the record of the earlier capture: " + std::strerror(errno);
        return ePlace::unwritable;
    }
    note = "removed " + std::to_string(beyond.size()) + " frame" + (beyond.size() == 1 ? "" : "s") + " (" +
           span_text(beyond) + ") of the earlier capture of " + std::to_string(recorded) + " frames in " +
           quoted(dir) + ", past the " + std::to_string(frames) + " frames of the new range";
    return ePlace::usable;
}
