// Parsing and checking the capture tool's command lines (one table of options, which --help is
// written from), and the frame grid. Depends only on the standard library, capture_config.h and
// the table of outputs (output_kind.h); never touches files or GL.
#include "tools/democapture/capture_options.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <functional>

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

std::string size_text(int64_t w, int64_t h) { return std::to_string(w) + "x" + std::to_string(h); }

// "WxH" in pixels.
bool parse_size(const std::string& text, int64_t& width, int64_t& height) {
    const size_t x = text.find('x');
    if (x == std::string::npos) return false;
    return parse_whole(text.substr(0, x), 1'000'000, width) && parse_whole(text.substr(x + 1), 1'000'000, height);
}

// Splits "--name=value"; a name without '=' keeps has_value false.
struct cArgument {
    std::string name;
    std::string value;
    bool has_value = false;
};
cArgument split_argument(const std::string& arg) {
    cArgument a{arg, "", false};
    if (arg.rfind("--", 0) == 0) {
        const size_t eq = arg.find('=');
        if (eq != std::string::npos) {
            a.value = arg.substr(eq + 1);
            a.name = arg.substr(0, eq);
            a.has_value = true;
        }
    }
    return a;
}

// The even sizes next to an odd one, for the message that refuses it.
std::string even_neighbours(int64_t w, int64_t h) {
    const int64_t lw = w - w % 2, lh = h - h % 2, uw = w + w % 2, uh = h + h % 2;
    std::string text = size_text(lw, lh);
    if (uw <= max_width && uh <= max_height) text += " or " + size_text(uw, uh);
    return text;
}

// ---- the options of a capture ----

// What the setters fill: the options, and what the checks after the last option need to know.
struct cParseState {
    cCaptureOptions& options;
    std::string targets[written_output_count];  // by output, as given; more than one is refused
    bool from_given = false, to_given = false, jobs_given = false;
};

// Takes the value of an option (empty for a switch); "" or the line that refuses it.
using cSetter = std::function<std::string(const std::string& name, const std::string& value, cParseState& state)>;

struct cOptionRow {
    const char* name;
    const char* argument;  // as --help names it; null: a switch, which takes no value
    cSetter set;
    std::string help;      // its lines in --help ('\n' between them); empty: not listed
};

cSetter switch_of(bool cCaptureOptions::*field) {
    return [field](const std::string&, const std::string&, cParseState& state) {
        state.options.*field = true;
        return std::string();
    };
}

cSetter path_of(std::string cCaptureOptions::*field) {
    return [field](const std::string& name, const std::string& value, cParseState& state) {
        if (value.empty()) return name + " needs a non-empty path";
        state.options.*field = value;
        return std::string();
    };
}

cSetter output_path(eOutput output) {
    return [output](const std::string& name, const std::string& value, cParseState& state) {
        if (value.empty()) return name + " needs a non-empty path";
        state.targets[static_cast<int>(output) - 1] = value;
        return std::string();
    };
}

cSetter time_of(int64_t cCaptureOptions::*field, bool cParseState::*given) {
    return [field, given](const std::string& name, const std::string& value, cParseState& state) {
        int64_t n = 0;
        if (!parse_whole(value, max_time_ms, n)) return name + " " + quoted(value) + " is not a time in whole milliseconds";
        state.options.*field = n;
        state.*given = true;
        return std::string();
    };
}

// A whole number in [low, high], what names it in the message that refuses another.
cSetter number_of(int32_t cCaptureOptions::*field, int64_t low, int64_t high, const char* what,
                  bool cParseState::*given = nullptr) {
    return [=](const std::string& name, const std::string& value, cParseState& state) {
        int64_t n = 0;
        if (!parse_whole(value, max_time_ms, n) || n < low || n > high) {
            return name + " " + quoted(value) + " is not " + what + " from " + std::to_string(low) + " to " +
                   std::to_string(high);
        }
        state.options.*field = static_cast<int32_t>(n);
        if (given) state.*given = true;
        return std::string();
    };
}

std::string set_size(const std::string&, const std::string& value, cParseState& state) {
    int64_t w = 0, h = 0;
    if (!parse_size(value, w, h)) return "--size " + quoted(value) + " is not WIDTHxHEIGHT in pixels, such as 1920x1080";
    if (w < min_width || w > max_width || h < min_height || h > max_height) {
        return "--size " + size_text(w, h) + " is outside " + size_text(min_width, min_height) + " to " +
               size_text(max_width, max_height);
    }
    state.options.width = static_cast<int32_t>(w);
    state.options.height = static_cast<int32_t>(h);
    return "";
}

std::string set_at(const std::string&, const std::string& value, cParseState& state) {
    std::vector<int64_t>& at = state.options.at_ms;
    at.clear();
    size_t start = 0;
    for (;;) {
        const size_t comma = value.find(',', start);
        const std::string piece = value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        int64_t ms = 0;
        if (!parse_whole(piece, max_time_ms, ms)) {
            return "--at " + quoted(value) + ": " + quoted(piece) + " is not a time in whole milliseconds";
        }
        at.push_back(ms);
        if (comma == std::string::npos) return "";
        start = comma + 1;
    }
}

std::string set_measure(const std::string&, const std::string& value, cParseState& state) {
    if (value != "render" && value != "output") return "--measure " + quoted(value) + " is neither \"render\" nor \"output\"";
    state.options.measure = value == "render" ? eMeasure::render : eMeasure::output;
    return "";
}

// Every option of a capture, in the order --help lists them.
const std::vector<cOptionRow>& capture_option_table() {
    using o = cCaptureOptions;
    using p = cParseState;
    const std::string segment = std::to_string(video_segment_seconds);
    static const std::vector<cOptionRow> table = {
        {"--help", nullptr, switch_of(&o::help), ""},
        {"-h", nullptr, switch_of(&o::help), ""},
        {"--show", "DIR", path_of(&o::show_dir), "the show directory (bin/ and data/); default: the show beside the tool"},
        {"--out", "DIR", output_path(eOutput::png), "PNG files: frame_000000.png, ... (at_012345ms.png with --at)"},
        {"--video", "FILE", output_path(eOutput::h264),
         "an H.264 MP4 in yuv420p with the music of the range (needs ffmpeg)"},
        {"--master", "FILE", output_path(eOutput::master),
         "a lossless master: FFV1 (RGB, exact) with the music as FLAC, in Matroska"},
        {"--from", "MS", time_of(&o::from_ms, &p::from_given), "start of the range in milliseconds of music (default 0)"},
        {"--to", "MS", time_of(&o::to_ms, &p::to_given),
         "end of the range, not included (default " + std::to_string(default_to_ms) +
             ", the end of the show;\nno frame after it is taken)"},
        {"--fps", "N", number_of(&o::fps, 1, max_fps, "a frame rate"),
         "frames per second, 1 to " + std::to_string(max_fps) + " (default " + std::to_string(default_fps) + ")"},
        {"--size", "WxH", set_size,
         "picture size, " + size_text(min_width, min_height) + " to " + size_text(max_width, max_height) +
             " (default " + size_text(default_width, default_height) +
             ").\n"
             "The show is rendered at that size; another shape than 16:9 gets the\n"
             "largest 16:9 picture that fits, centred between black bars. A video\n"
             "needs an even width and height (yuv420p); other sizes are refused."},
        {"--supersample", "N", number_of(&o::supersample, 1, max_supersample, "a supersampling factor"),
         "render at N times the size in each direction (1 to " + std::to_string(max_supersample) +
             ") and filter down:\neach pixel is the mean of its N x N rendered pixels (box filter)"},
        {"--crf", "N", number_of(&o::crf, 0, max_crf, "an H.264 quality (crf)"),
         "H.264 quality, 0 (best) to " + std::to_string(max_crf) + " (default " + std::to_string(default_crf) +
             "); only with --video"},
        {"--at", "MS,...", set_at, "single frames at these times, each after the frame one step before it"},
        {"--jobs", "N", number_of(&o::jobs, 1, max_jobs, "a number of processes", &p::jobs_given),
         "capture the range in N processes at once (at most one per core this\n"
         "capture may use), then join the chunks (their\n"
         "files stay in TARGET" + std::string(chunks_suffix) + "/ until the join is done). A video is split\n"
         "at its key frames, every " + segment + " s, so it gets at most one process per " + segment + " s"},
        {"--threads", "N", number_of(&o::threads, 1, max_threads, "a number of threads"),
         "PNG compression threads (default: one per core)"},
        {"--stats", nullptr, switch_of(&o::stats), "print where the time went: rendering, reading back, encoding, CPU time"},
        {"--measure", "MODE", set_measure,
         "for benchmarks: \"render\" renders and writes nothing; \"output\" renders\n"
         "the first frame once and reads back and encodes it as every frame"},
    };
    return table;
}

const cOptionRow* capture_option(const std::string& name) {
    for (const cOptionRow& row : capture_option_table()) {
        if (name == row.name) return &row;
    }
    return nullptr;
}

// The option lines of --help: the option and its argument in a column, its text beside.
std::string option_lines() {
    constexpr size_t column = 18;
    std::string text;
    for (const cOptionRow& row : capture_option_table()) {
        if (row.help.empty()) continue;
        std::string head = std::string(row.name) + (row.argument ? std::string(" ") + row.argument : "");
        head.resize(std::max(head.size(), column), ' ');
        text += "  " + head;
        size_t start = 0;
        for (size_t end; (end = row.help.find('\n', start)) != std::string::npos; start = end + 1) {
            text += row.help.substr(start, end - start) + "\n" + std::string(column + 2, ' ');
        }
        text += row.help.substr(start) + "\n";
    }
    return text;
}

// How many outputs a command line names; the last of them with its path.
int given_outputs(const std::string (&targets)[written_output_count], eOutput& output, std::string& target) {
    int given = 0;
    for (eOutput kind : written_outputs) {
        const std::string& path = targets[static_cast<int>(kind) - 1];
        if (path.empty()) continue;
        ++given;
        output = kind;
        target = path;
    }
    return given;
}

// The checks that take the whole command line: which settings go together, and the range.
std::string check_capture_options(cCaptureOptions& o, const cParseState& state, int outputs) {
    if (o.measure == eMeasure::render) {
        if (outputs > 0) return "--measure render writes nothing: leave out --out, --video and --master";
    } else if (outputs == 0) {
        return "say where the frames go: --out DIR, --video FILE.mp4 or --master FILE.mkv";
    }
    if (outputs > 1) return "--out, --video and --master exclude each other: one output per capture";
    const cOutputKind& kind = output_kind(o.output);
    if (o.crf >= 0 && !kind.quality) return "--crf sets the H.264 quality: use it with --video";
    if (kind.even_size && (o.width % 2 != 0 || o.height % 2 != 0)) {
        return "--size " + size_text(o.width, o.height) +
               ": an H.264 video in yuv420p needs an even width and height; use " + even_neighbours(o.width, o.height) +
               ", or --out or --master, which take any size";
    }
    if (o.crf < 0) o.crf = default_crf;
    if (o.measure != eMeasure::none && state.jobs_given) return "--measure runs in one process: leave out --jobs";
    if (!o.at_ms.empty()) {
        if (o.output != eOutput::png) return "--at writes single PNG frames: use it with --out";
        if (state.from_given || state.to_given) return "--at renders single frames: leave out --from and --to";
        if (state.jobs_given) return "--at renders single frames in one process: leave out --jobs";
        if (o.measure != eMeasure::none) return "--measure takes a range, not --at";
        for (int64_t t : o.at_ms) {
            if (t > show_end_ms) {
                return "--at " + std::to_string(t) + " is past the end of the show at " + std::to_string(show_end_ms) +
                       " ms, where the frames are black";
            }
        }
        return "";
    }
    const std::string range = "--from " + std::to_string(o.from_ms) + " --to " + std::to_string(o.to_ms);
    if (o.from_ms >= o.to_ms) {
        return "--from " + std::to_string(o.from_ms) + " is not before --to " + std::to_string(o.to_ms);
    }
    const int64_t frames = frame_count(o.from_ms, o.to_ms, o.fps);
    if (frames == 0) {
        char step[32];
        std::snprintf(step, sizeof step, "%.3f", 1000.0 / o.fps);
        return range + " holds no frame at " + std::to_string(o.fps) + " fps (frames are " + step + " ms apart)";
    }
    // The last frame's time, in the whole milliseconds the show's clock reads.
    const int64_t last_ms = grid_split_ms(grid_frame_at(o.from_ms, o.fps) + frames - 1, o.fps);
    if (last_ms > show_end_ms) {
        return range + " goes past the end of the show at " + std::to_string(show_end_ms) +
               " ms, where the frames are black: end the range at " + std::to_string(show_end_ms) + " ms or before";
    }
    if (o.jobs > frames) {
        return "--jobs " + std::to_string(o.jobs) + " is more than the " + std::to_string(frames) + " frames from " +
               std::to_string(o.from_ms) + " to " + std::to_string(o.to_ms) + " ms";
    }
    return "";
}

}  // namespace

cParsedOptions parse_capture_options(const std::vector<std::string>& args) {
    cParsedOptions result;
    cCaptureOptions& o = result.options;
    o.from_ms = default_from_ms;
    o.to_ms = default_to_ms;
    o.fps = default_fps;
    o.width = default_width;
    o.height = default_height;
    cParseState state{o, {}};

    for (size_t i = 0; i < args.size(); ++i) {
        cArgument a = split_argument(args[i]);
        const cOptionRow* row = capture_option(a.name);
        if (!row) {
            result.error = a.name.rfind("-", 0) == 0 ? "unknown option " + quoted(args[i])
                                                     : "unexpected argument " + quoted(args[i]) + " (every setting is an option)";
            return result;
        }
        if (!row->argument && a.has_value) {
            result.error = a.name + " takes no value";
            return result;
        }
        if (row->argument && !a.has_value) {
            if (i + 1 >= args.size()) {
                result.error = a.name + " needs a value";
                return result;
            }
            a.value = args[++i];
        }
        result.error = row->set(a.name, a.value, state);
        if (!result.error.empty()) return result;
    }

    if (o.help) return result;
    result.error = check_capture_options(o, state, given_outputs(state.targets, o.output, o.target));
    return result;
}

cParsedJoin parse_join_options(const std::vector<std::string>& args) {
    cParsedJoin result;
    cJoinOptions& o = result.options;
    auto fail = [&result](const std::string& message) {
        result.error = "join: " + message;
        return result;
    };
    std::string targets[written_output_count];
    for (size_t i = 0; i < args.size(); ++i) {
        cArgument a = split_argument(args[i]);
        if (a.name == "--help" || a.name == "-h") {
            o.help = true;
            continue;
        }
        const eOutput output = output_of_option(a.name);
        if (a.name == "--show" || output != eOutput::none) {
            if (!a.has_value) {
                if (i + 1 >= args.size()) return fail(a.name + " needs a value");
                a.value = args[++i];
            }
            if (a.value.empty()) return fail(a.name + " needs a non-empty path");
            (output == eOutput::none ? o.show_dir : targets[static_cast<int>(output) - 1]) = a.value;
            continue;
        }
        if (a.name.rfind("-", 0) == 0) return fail("unknown option " + quoted(args[i]));
        o.chunks.push_back(args[i]);
    }
    if (o.help) return result;
    if (given_outputs(targets, o.output, o.target) != 1) {
        return fail("say where the whole goes: one of --out DIR, --video FILE.mp4, --master FILE.mkv");
    }
    if (o.chunks.empty()) return fail("name the chunks to join");
    return result;
}

std::string capture_usage() {
    return "usage: democapture [--show DIR] (--out DIR | --video FILE.mp4 | --master FILE.mkv) [--from MS] [--to MS]\n"
           "                  [--fps N] [--size WxH] [--supersample N] [--crf N] [--jobs N] [--threads N] [--stats]\n"
           "       democapture [--show DIR] --out DIR --at MS,MS,... [--size WxH] [--supersample N]\n"
           "       democapture join (--out DIR | --video FILE.mp4 | --master FILE.mkv) [--show DIR] CHUNK...\n"
           "Renders the show frame by frame at exact music times, offline and without a display.\n" +
           option_lines() +
           "The frames lie on one grid for the whole show: frame k is rendered at music time\n"
           "k x 1000 / fps, after frame k - 1, as in a run of the whole show. A range takes the frames\n"
           "whose time lies in [from, to), numbered from 0 in the file names, so any capture shows a\n"
           "time exactly as the whole run does, and ranges captured apart join into that run.\n"
           "Status: 0 done, 1 failed (files of finished frames stay, unfinished ones are removed),\n"
           "2 a command line or output place that cannot work (nothing is written).\n"
           "Ctrl-C ends it by its signal (status 130 in a shell) once the unfinished files are removed.\n";
}

std::string join_usage() {
    return "usage: democapture join (--out DIR | --video FILE.mp4 | --master FILE.mkv) [--show DIR] CHUNK...\n"
           "Joins range captures (PNG folders, MP4 videos or masters of the same settings) into the one\n"
           "capture of their whole range, exactly as a single run makes it: the same PNG files, the same\n"
           "lossless frames, the same H.264 frames. The chunks may be named in any order; they must meet\n"
           "without gap or overlap, and H.264 chunks only at the video's key frames (every " +
           std::to_string(video_segment_seconds) + " s).\n"
           "Every chunk is checked before anything is written: its frames are read back and decoded, a\n"
           "video's sound must last as long as its pictures, and all must come from the same show (its\n"
           "data and scene modules) and the same build of democapture; a chunk that fails is named.\n"
           "A video gets the music of the whole range again from the show (--show, default: the show\n"
           "beside the tool), which must be the chunks' show. PNG frames are linked (or copied) into DIR;\n"
           "the chunks are left as they are.\n";
}

double grid_time_ms(int64_t k, int32_t fps) {
    return static_cast<double>(k) * 1000.0 / static_cast<double>(fps);
}

int64_t grid_frame_at(int64_t ms, int32_t fps) {
    return (ms * fps + 999) / 1000;
}

int64_t frame_count(int64_t from_ms, int64_t to_ms, int32_t fps) {
    if (to_ms <= from_ms || fps <= 0) return 0;
    return grid_frame_at(to_ms, fps) - grid_frame_at(from_ms, fps);
}

int64_t grid_split_ms(int64_t k, int32_t fps) {
    // floor(k x 1000 / fps) lies after frame k - 1 (frames are more than 1 ms apart), so the
    // first frame at or after it is k.
    return k * 1000 / fps;
}

int64_t video_segment_frames(int32_t fps) {
    return static_cast<int64_t>(video_segment_seconds) * fps;
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
