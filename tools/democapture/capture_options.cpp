// Parsing and checking the capture tool's command line, and the frame schedule.
// Depends only on the standard library and capture_config.h; never touches files or GL.
#include "tools/democapture/capture_options.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "tools/democapture/capture_config.h"

using namespace capture_config;

namespace {

// A whole decimal in [0, max]; nothing else on the text, no sign, no spaces.
bool parse_whole(const std::string& text, int64_t max, int64_t& out) {
    if (text.empty() || text.size() > 18) return false;
    int64_t value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || value < 0 || value > max) return false;
    out = value;
    return true;
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

cParsedOptions parse_capture_options(const std::vector<std::string>& args) {
    cParsedOptions result;
    cCaptureOptions& o = result.options;
    o.from_ms = default_from_ms;
    o.to_ms = default_to_ms;
    o.fps = default_fps;
    bool from_given = false, to_given = false;

    auto fail = [&result](const std::string& message) {
        result.error = message;
        return result;
    };

    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool has_value = false;
        if (name.rfind("--", 0) == 0) {
            const size_t eq = name.find('=');
            if (eq != std::string::npos) {
                value = name.substr(eq + 1);
                name = name.substr(0, eq);
                has_value = true;
            }
        }
        if (name == "--help" || name == "-h") {
            if (has_value) return fail(name + " takes no value");
            o.help = true;
            continue;
        }
        if (name == "--stats") {
            if (has_value) return fail("--stats takes no value");
            o.stats = true;
            continue;
        }
        const bool takes_value = name == "--show" || name == "--from" || name == "--to" || name == "--fps" ||
                                 name == "--out" || name == "--video" || name == "--at";
        if (!takes_value) {
            if (name.rfind("-", 0) == 0) return fail("unknown option " + quoted(args[i]));
            return fail("unexpected argument " + quoted(args[i]) + " (every setting is an option)");
        }
        if (!has_value) {
            if (i + 1 >= args.size()) return fail(name + " needs a value");
            value = args[++i];
        }

        if (name == "--show" || name == "--out" || name == "--video") {
            if (value.empty()) return fail(name + " needs a non-empty path");
            (name == "--show" ? o.show_dir : name == "--out" ? o.out_dir : o.video_file) = value;
        } else if (name == "--from" || name == "--to") {
            int64_t ms = 0;
            if (!parse_whole(value, max_time_ms, ms)) {
                return fail(name + " " + quoted(value) + " is not a time in whole milliseconds");
            }
            (name == "--from" ? o.from_ms : o.to_ms) = ms;
            (name == "--from" ? from_given : to_given) = true;
        } else if (name == "--fps") {
            int64_t fps = 0;
            if (!parse_whole(value, max_time_ms, fps) || fps < 1 || fps > max_fps) {
                return fail("--fps " + quoted(value) + " is not a frame rate from 1 to " + std::to_string(max_fps));
            }
            o.fps = static_cast<int32_t>(fps);
        } else {  // --at
            o.at_ms.clear();
            size_t start = 0;
            for (;;) {
                const size_t comma = value.find(',', start);
                const std::string piece = value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
                int64_t ms = 0;
                if (!parse_whole(piece, max_time_ms, ms)) {
                    return fail("--at " + quoted(value) + ": " + quoted(piece) +
                                " is not a time in whole milliseconds");
                }
                o.at_ms.push_back(ms);
                if (comma == std::string::npos) break;
                start = comma + 1;
            }
        }
    }

    if (o.help) return result;
    if (o.out_dir.empty() && o.video_file.empty()) return fail("say where the frames go: --out DIR or --video FILE");
    if (!o.out_dir.empty() && !o.video_file.empty()) return fail("--out and --video exclude each other");
    if (!o.at_ms.empty()) {
        if (!o.video_file.empty()) return fail("--at writes single PNG frames: use it with --out, not --video");
        if (from_given || to_given) return fail("--at renders single frames: leave out --from and --to");
        return result;
    }
    if (o.from_ms >= o.to_ms) {
        return fail("--from " + std::to_string(o.from_ms) + " is not before --to " + std::to_string(o.to_ms));
    }
    return result;
}

std::string capture_usage() {
    return "usage: democapture [--show DIR] (--out DIR | --video FILE.mp4) [--from MS] [--to MS] [--fps N]\n"
           "       democapture [--show DIR] --out DIR --at MS,MS,...\n"
           "Renders the show frame by frame at exact music times, offline and without a display.\n"
           "  --show DIR      the show directory (bin/ and data/); default: the show beside the tool\n"
           "  --from MS       first music time in milliseconds (default 0)\n"
           "  --to MS         end of the range, not included (default " +
           std::to_string(default_to_ms) +
           ", the end of the show)\n"
           "  --fps N         frames per second, 1 to " +
           std::to_string(max_fps) + " (default " + std::to_string(default_fps) +
           ")\n"
           "  --out DIR       write PNG files: frame_000000.png, ... (at_012345ms.png with --at)\n"
           "  --video FILE    write an H.264 MP4 with the music of the range (needs ffmpeg)\n"
           "  --at MS,...     single frames at these times, each after the frame one step before it\n"
           "  --stats         print where the time went (render, read back, encode)\n"
           "Frame n is rendered at music time from + n x 1000 / fps, after the frame one step before it\n"
           "(as in a run of the whole show), so any capture shows a time as the whole run does.\n";
}

int64_t frame_count(int64_t from_ms, int64_t to_ms, int32_t fps) {
    if (to_ms <= from_ms || fps <= 0) return 0;
    const int64_t scaled = (to_ms - from_ms) * fps;
    return (scaled + 999) / 1000;
}

double frame_time_ms(int64_t from_ms, int64_t n, int32_t fps) {
    return static_cast<double>(from_ms) + static_cast<double>(n) * 1000.0 / static_cast<double>(fps);
}

std::string range_frame_name(int64_t n) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%0*lld", range_frame_digits, static_cast<long long>(n));
    return std::string(range_frame_prefix) + digits + frame_extension;
}

std::string single_frame_name(int64_t ms) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%0*lld", single_frame_digits, static_cast<long long>(ms));
    return std::string(single_frame_prefix) + digits + single_frame_suffix + frame_extension;
}
