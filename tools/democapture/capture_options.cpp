// Parsing and checking the capture tool's command lines, and the frame grid.
// Depends only on the standard library and capture_config.h; never touches files or GL.
#include "tools/democapture/capture_options.h"

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

}  // namespace

cParsedOptions parse_capture_options(const std::vector<std::string>& args) {
    cParsedOptions result;
    cCaptureOptions& o = result.options;
    o.from_ms = default_from_ms;
    o.to_ms = default_to_ms;
    o.fps = default_fps;
    o.width = default_width;
    o.height = default_height;
    bool from_given = false, to_given = false, jobs_given = false;

    auto fail = [&result](const std::string& message) {
        result.error = message;
        return result;
    };

    for (size_t i = 0; i < args.size(); ++i) {
        cArgument a = split_argument(args[i]);
        const std::string& name = a.name;
        if (name == "--help" || name == "-h" || name == "--stats") {
            if (a.has_value) return fail(name + " takes no value");
            (name == "--stats" ? o.stats : o.help) = true;
            continue;
        }
        static const char* const valued[] = {"--show", "--from",   "--to",   "--fps",  "--out",     "--video",
                                             "--master", "--at",   "--size", "--supersample", "--crf", "--jobs",
                                             "--threads", "--measure"};
        bool takes_value = false;
        for (const char* v : valued) takes_value = takes_value || name == v;
        if (!takes_value) {
            if (name.rfind("-", 0) == 0) return fail("unknown option " + quoted(args[i]));
            return fail("unexpected argument " + quoted(args[i]) + " (every setting is an option)");
        }
        if (!a.has_value) {
            if (i + 1 >= args.size()) return fail(name + " needs a value");
            a.value = args[++i];
        }
        const std::string& value = a.value;

        // A whole number in [low, high], or the message that says what is wanted.
        auto number = [&](int64_t low, int64_t high, const std::string& what, int64_t& out) {
            if (parse_whole(value, max_time_ms, out) && out >= low && out <= high) return true;
            result.error = name + " " + quoted(value) + " is not " + what + " from " + std::to_string(low) + " to " +
                           std::to_string(high);
            return false;
        };
        int64_t n = 0;
        if (name == "--show" || name == "--out" || name == "--video" || name == "--master") {
            if (value.empty()) return fail(name + " needs a non-empty path");
            (name == "--show"    ? o.show_dir
             : name == "--out"   ? o.out_dir
             : name == "--video" ? o.video_file
                                 : o.master_file) = value;
        } else if (name == "--from" || name == "--to") {
            if (!parse_whole(value, max_time_ms, n)) {
                return fail(name + " " + quoted(value) + " is not a time in whole milliseconds");
            }
            (name == "--from" ? o.from_ms : o.to_ms) = n;
            (name == "--from" ? from_given : to_given) = true;
        } else if (name == "--fps") {
            if (!number(1, max_fps, "a frame rate", n)) return result;
            o.fps = static_cast<int32_t>(n);
        } else if (name == "--size") {
            int64_t w = 0, h = 0;
            if (!parse_size(value, w, h)) {
                return fail("--size " + quoted(value) + " is not WIDTHxHEIGHT in pixels, such as 1920x1080");
            }
            if (w < min_width || w > max_width || h < min_height || h > max_height) {
                return fail("--size " + size_text(w, h) + " is outside " + size_text(min_width, min_height) + " to " +
                            size_text(max_width, max_height));
            }
            o.width = static_cast<int32_t>(w);
            o.height = static_cast<int32_t>(h);
        } else if (name == "--supersample") {
            if (!number(1, max_supersample, "a supersampling factor", n)) return result;
            o.supersample = static_cast<int32_t>(n);
        } else if (name == "--crf") {
            if (!number(0, max_crf, "an H.264 quality (crf)", n)) return result;
            o.crf = static_cast<int32_t>(n);
        } else if (name == "--jobs") {
            if (!number(1, max_jobs, "a number of processes", n)) return result;
            o.jobs = static_cast<int32_t>(n);
            jobs_given = true;
        } else if (name == "--threads") {
            if (!number(1, max_threads, "a number of threads", n)) return result;
            o.threads = static_cast<int32_t>(n);
        } else if (name == "--measure") {
            if (value != "render" && value != "output") {
                return fail("--measure " + quoted(value) + " is neither \"render\" nor \"output\"");
            }
            o.measure = value == "render" ? eMeasure::render : eMeasure::output;
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
    const int outputs = !o.out_dir.empty() + !o.video_file.empty() + !o.master_file.empty();
    if (o.measure == eMeasure::render) {
        if (outputs > 0) return fail("--measure render writes nothing: leave out --out, --video and --master");
    } else if (outputs == 0) {
        return fail("say where the frames go: --out DIR, --video FILE.mp4 or --master FILE.mkv");
    }
    if (outputs > 1) return fail("--out, --video and --master exclude each other: one output per capture");
    if (o.crf >= 0 && o.video_file.empty()) return fail("--crf sets the H.264 quality: use it with --video");
    if (!o.video_file.empty() && (o.width % 2 != 0 || o.height % 2 != 0)) {
        return fail("--size " + size_text(o.width, o.height) +
                    ": an H.264 video in yuv420p needs an even width and height; use " +
                    even_neighbours(o.width, o.height) + ", or --out or --master, which take any size");
    }
    if (o.crf < 0) o.crf = default_crf;
    if (o.measure != eMeasure::none && jobs_given) return fail("--measure runs in one process: leave out --jobs");
    if (!o.at_ms.empty()) {
        if (o.out_dir.empty()) return fail("--at writes single PNG frames: use it with --out");
        if (from_given || to_given) return fail("--at renders single frames: leave out --from and --to");
        if (jobs_given) return fail("--at renders single frames in one process: leave out --jobs");
        if (o.measure != eMeasure::none) return fail("--measure takes a range, not --at");
        for (int64_t t : o.at_ms) {
            if (t > show_end_ms) {
                return fail("--at " + std::to_string(t) + " is past the end of the show at " +
                            std::to_string(show_end_ms) + " ms, where the frames are black");
            }
        }
        return result;
    }
    if (o.from_ms >= o.to_ms) {
        return fail("--from " + std::to_string(o.from_ms) + " is not before --to " + std::to_string(o.to_ms));
    }
    const int64_t frames = frame_count(o.from_ms, o.to_ms, o.fps);
    if (frames == 0) {
        char step[32];
        std::snprintf(step, sizeof step, "%.3f", 1000.0 / o.fps);
        return fail("--from " + std::to_string(o.from_ms) + " --to " + std::to_string(o.to_ms) + " holds no frame at " +
                    std::to_string(o.fps) + " fps (frames are " + step + " ms apart)");
    }
    // The last frame's time, in the whole milliseconds the show's clock reads.
    const int64_t last_ms = grid_split_ms(grid_frame_at(o.from_ms, o.fps) + frames - 1, o.fps);
    if (last_ms > show_end_ms) {
        return fail("--from " + std::to_string(o.from_ms) + " --to " + std::to_string(o.to_ms) +
                    " goes past the end of the show at " + std::to_string(show_end_ms) +
                    " ms, where the frames are black: end the range at " + std::to_string(show_end_ms) +
                    " ms or before");
    }
    if (o.jobs > frames) {
        return fail("--jobs " + std::to_string(o.jobs) + " is more than the " + std::to_string(frames) +
                    " frames from " + std::to_string(o.from_ms) + " to " + std::to_string(o.to_ms) + " ms");
    }
    return result;
}

cParsedJoin parse_join_options(const std::vector<std::string>& args) {
    cParsedJoin result;
    cJoinOptions& o = result.options;
    auto fail = [&result](const std::string& message) {
        result.error = "join: " + message;
        return result;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        cArgument a = split_argument(args[i]);
        if (a.name == "--help" || a.name == "-h") {
            o.help = true;
            continue;
        }
        if (a.name == "--show" || a.name == "--out" || a.name == "--video" || a.name == "--master") {
            if (!a.has_value) {
                if (i + 1 >= args.size()) return fail(a.name + " needs a value");
                a.value = args[++i];
            }
            if (a.value.empty()) return fail(a.name + " needs a non-empty path");
            (a.name == "--show"    ? o.show_dir
             : a.name == "--out"   ? o.out_dir
             : a.name == "--video" ? o.video_file
                                   : o.master_file) = a.value;
            continue;
        }
        if (a.name.rfind("-", 0) == 0) return fail("unknown option " + quoted(args[i]));
        o.chunks.push_back(args[i]);
    }
    if (o.help) return result;
    const int outputs = !o.out_dir.empty() + !o.video_file.empty() + !o.master_file.empty();
    if (outputs != 1) return fail("say where the whole goes: one of --out DIR, --video FILE.mp4, --master FILE.mkv");
    if (o.chunks.empty()) return fail("name the chunks to join");
    return result;
}

std::string capture_usage() {
    const std::string d = std::to_string(default_to_ms);
    return "usage: democapture [--show DIR] (--out DIR | --video FILE.mp4 | --master FILE.mkv) [--from MS] [--to MS]\n"
           "                  [--fps N] [--size WxH] [--supersample N] [--crf N] [--jobs N] [--threads N] [--stats]\n"
           "       democapture [--show DIR] --out DIR --at MS,MS,... [--size WxH] [--supersample N]\n"
           "       democapture join (--out DIR | --video FILE.mp4 | --master FILE.mkv) [--show DIR] CHUNK...\n"
           "Renders the show frame by frame at exact music times, offline and without a display.\n"
           "  --show DIR        the show directory (bin/ and data/); default: the show beside the tool\n"
           "  --out DIR         PNG files: frame_000000.png, ... (at_012345ms.png with --at)\n"
           "  --video FILE      an H.264 MP4 in yuv420p with the music of the range (needs ffmpeg)\n"
           "  --master FILE     a lossless master: FFV1 (RGB, exact) with the music as FLAC, in Matroska\n"
           "  --from MS         start of the range in milliseconds of music (default 0)\n"
           "  --to MS           end of the range, not included (default " + d + ", the end of the show;\n"
           "                    no frame after it is taken)\n"
           "  --fps N           frames per second, 1 to " + std::to_string(max_fps) + " (default " +
           std::to_string(default_fps) + ")\n"
           "  --size WxH        picture size, " + size_text(min_width, min_height) + " to " +
           size_text(max_width, max_height) + " (default " + size_text(default_width, default_height) + ").\n"
           "                    The show is rendered at that size; another shape than 16:9 gets the\n"
           "                    largest 16:9 picture that fits, centred between black bars. A video\n"
           "                    needs an even width and height (yuv420p); other sizes are refused.\n"
           "  --supersample N   render at N times the size in each direction (1 to " +
           std::to_string(max_supersample) + ") and filter down:\n"
           "                    each pixel is the mean of its N x N rendered pixels (box filter)\n"
           "  --crf N           H.264 quality, 0 (best) to " + std::to_string(max_crf) + " (default " +
           std::to_string(default_crf) + "); only with --video\n"
           "  --at MS,...       single frames at these times, each after the frame one step before it\n"
           "  --jobs N          capture the range in N processes at once (at most one per core this\n"
           "                    capture may use), then join the chunks (their\n"
           "                    files stay in TARGET" + std::string(chunks_suffix) +
           "/ until the join is done). A video is split\n"
           "                    at its key frames, every " + std::to_string(video_segment_seconds) +
           " s, so it gets at most one process per " + std::to_string(video_segment_seconds) + " s\n"
           "  --threads N       PNG compression threads (default: one per core)\n"
           "  --stats           print where the time went: rendering, reading back, encoding, CPU time\n"
           "  --measure MODE    for benchmarks: \"render\" renders and writes nothing; \"output\" renders\n"
           "                    the first frame once and reads back and encodes it as every frame\n"
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
