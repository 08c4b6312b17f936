// The subcommands of synctool. Depends on the source parser, the track file codec, the plot
// renderer and the show's own sync device (host/sync) for every value it reports.
// Compile never changes a ".track" file unless the whole source is good.
//
// [SECTION] usage   [SECTION] compile   [SECTION] dump   [SECTION] eval and plot
#include "tools/synctool/synctool_commands.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <streambuf>

#include "base/files/file_read.h"
#include "host/sync/sync_device.h"
#include "host/sync/sync_store.h"
#include "tools/synctool/synctool_config.h"
#include "host/sync/track_compile.h"
#include "host/sync/track_file.h"
#include "tools/synctool/track_plot.h"
#include "host/sync/track_source.h"
#include "host/sync/track_text.h"

namespace {

// ---- [SECTION] usage ----
constexpr const char* kCompileUsage = "synctool compile [SOURCE] [OUTDIR]";
constexpr const char* kDumpUsage = "synctool dump FILE.track";
constexpr const char* kEvalUsage = "synctool eval NAME TIME_MS [--dir DIR]";
constexpr const char* kPlotUsage = "synctool plot --out FILE.png [--from MS] [--to MS] [--dir DIR] NAME...";

int usage_error(const std::string& command, const std::string& reason, const char* usage) {
    std::cerr << "synctool" << (command.empty() ? "" : " " + command) << ": " << reason << "; usage: " << usage
              << std::endl;
    return 2;
}

void print_help() {
    std::cout << "synctool: the show's sync tracks, from text source to \".track\" files and back\n"
              << "  " << kCompileUsage << "\n"
              << "      compile the source (default " << kToolDefaultSource << ") into _NAME.track files\n"
              << "      in OUTDIR (default: the source's folder); nothing is written unless all of it is good\n"
              << "  " << kDumpUsage << "\n"
              << "      print a track file as source text\n"
              << "  " << kEvalUsage << "\n"
              << "      the value the show reads at TIME_MS (whole milliseconds), from DIR (default "
              << kSyncBasePath << ")\n"
              << "  " << kPlotUsage << "\n"
              << "      draw the tracks over time into a PNG (default 0 to " << kToolShowEndMs << " ms)\n"
              << "Source syntax: 'track NAME', then keys 'BEAT:ROW VALUE INTERPOLATION' (or 'rROW ...'),\n"
              << "8 rows per beat, 24 rows per second; interpolation step, linear, smooth or quadratic; '#' comments."
              << std::endl;
}

// A pipe or a device is read too ("synctool dump /dev/stdin", a shell's "<(...)").
bool read_text_file(const std::string& path, std::string& out, std::string& error) {
    cReadOptions options;
    options.streams_too = true;
    const cReadOutcome read = read_whole_file(path, out, options);
    if (read.ok()) return true;
    error = read.failure == cReadOutcome::directory     ? "it is a directory"
            : read.failure == cReadOutcome::cannot_read ? "read error"
                                                        : std::strerror(read.code);
    return false;
}

std::optional<int64_t> parse_ms(const std::string& text) {
    int64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::string with_trailing_slash(std::string dir) {
    if (dir.empty()) return "./";
    if (dir.back() != '/') dir.push_back('/');
    return dir;
}

// ---- [SECTION] compile ----
void warn_about_stray_files(const std::string& directory, const std::string& source,
                            const std::vector<cSourceTrack>& tracks) {
    for (const std::string& name : stray_track_files(directory, tracks)) {
        std::cerr << "# warning: \"" << (std::filesystem::path(directory) / name).string() << "\" has no track in \""
                  << source << "\"; the show still reads it (remove it, or add the track to the source)" << std::endl;
    }
}

}  // namespace

int run_compile(const std::vector<std::string>& args) {
    if (args.size() > 2) return usage_error("compile", "too many arguments", kCompileUsage);
    for (const std::string& arg : args) {
        if (arg.rfind("-", 0) == 0) return usage_error("compile", "unknown option '" + arg + "'", kCompileUsage);
    }
    std::string source = args.size() >= 1 ? args[0] : kToolDefaultSource;
    std::string directory = args.size() >= 2 ? args[1] : std::filesystem::path(source).parent_path().string();
    if (directory.empty()) directory = ".";

    std::string text, error;
    if (!read_text_file(source, text, error)) {
        std::cerr << "## ERROR: cannot read the track source \"" << source << "\": " << error << std::endl;
        return 1;
    }
    cCompileOutcome compiled = compile_track_text(text, directory);
    const cParsedSource& parsed = compiled.parsed;
    if (!parsed.ok()) {
        int shown = 0;
        for (const cSourceProblem& p : parsed.problems) {
            if (shown++ == kToolMaxReportedErrors) break;
            std::cerr << "## ERROR: " << source << ":" << p.line << ":" << p.column << ": " << p.message << std::endl;
        }
        int count = static_cast<int>(parsed.problems.size());
        if (count > kToolMaxReportedErrors) std::cerr << "## ... and " << count - kToolMaxReportedErrors << " more" << std::endl;
        std::cerr << "## ERROR: " << count << (count == 1 ? " problem" : " problems") << " in \"" << source
                  << "\"; no track file was written" << std::endl;
        return 1;
    }
    const cWriteOutcome& outcome = compiled.write;
    if (!outcome.ok) {
        std::cerr << "## ERROR: " << outcome.error << "; the track files in \"" << directory << "\" were left as they were"
                  << std::endl;
        return 1;
    }
    warn_about_stray_files(directory, source, parsed.tracks);
    std::cout << "# compiled " << parsed.tracks.size() << " tracks, " << compiled.keys << " keys, from \"" << source
              << "\" into \"" << directory << "\" (" << outcome.written << " written, " << outcome.unchanged << " unchanged)" << std::endl;
    return 0;
}

// ---- [SECTION] dump ----
int run_dump(const std::vector<std::string>& args) {
    if (args.size() != 1) return usage_error("dump", args.empty() ? "which file?" : "too many arguments", kDumpUsage);
    const std::string& path = args[0];
    std::string bytes, error;
    if (!read_text_file(path, bytes, error)) {
        std::cerr << "## ERROR: cannot read \"" << path << "\": " << error << std::endl;
        return 1;
    }
    std::vector<cSyncKey> keys;
    if (!decode_track(bytes, keys, error)) {
        std::cerr << "## ERROR: \"" << path << "\" is not a track file: " << error << std::endl;
        return 1;
    }
    // Dump what is there, but say what the source syntax cannot express or the show would
    // misread, so nobody copies it back unnoticed.
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const cSyncKey& key = keys[i];
        if (interpolation_name(key.interpolation).empty()) {
            std::cerr << "# warning: \"" << path << "\": key " << i << " has interpolation code " << key.interpolation
                      << ", which the show evaluates as 0 up to the next key" << std::endl;
        }
        if (!std::isfinite(key.value)) {
            std::cerr << "# warning: \"" << path << "\": key " << i << " holds the value " << format_value(key.value)
                      << std::endl;
        }
        if (i > 0 && key.row <= keys[i - 1].row) {
            std::cerr << "# warning: \"" << path << "\": key " << i << " at row " << key.row
                      << " does not come after the key before it (row " << keys[i - 1].row << ")" << std::endl;
        }
    }
    std::cout << format_track(track_name_of_file(path), keys) << std::flush;
    return 0;
}

// ---- [SECTION] eval and plot ----
namespace {

// Swallows what the sync device says about opening its store: the tool's standard error
// is for problems only.
class cNullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
};

bool open_device(cSyncDevice& device, const std::string& directory) {
    cNullBuffer quiet;
    std::streambuf* saved = std::cerr.rdbuf(&quiet);
    bool ok = device.open_store(directory);
    std::cerr.rdbuf(saved);
    if (!ok) std::cerr << "## ERROR: the sync device could not create its track store" << std::endl;
    return ok;
}

void warn_if_missing(const std::string& directory, const std::string& name) {
    std::string path = directory + track_file_name(name);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        std::cerr << "# warning: no track file \"" << path << "\"; the show reads 0 for \"" << name << "\"" << std::endl;
    }
}

std::vector<cSyncKey> keys_of(cSyncDevice& device, const std::string& name) {
    std::vector<cSyncKey> keys;
    const cSyncStore* store = device.store();
    if (!store) return keys;
    int32_t index = find_track(*store, name.c_str());
    if (index < 0) return keys;
    const cSyncTrack& track = *store->tracks[static_cast<std::size_t>(index)];
    if (track.keys) keys.assign(track.keys.get(), track.keys.get() + track.key_count);
    return keys;
}

}  // namespace

int run_eval(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    std::string directory = kSyncBasePath;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--dir") {
            if (i + 1 >= args.size()) return usage_error("eval", "--dir needs a directory", kEvalUsage);
            directory = with_trailing_slash(args[++i]);
        } else if (args[i].rfind("--", 0) == 0) {
            return usage_error("eval", "unknown option '" + args[i] + "'", kEvalUsage);
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() != 2) return usage_error("eval", "expected a track name and a time", kEvalUsage);
    const std::string& name = positional[0];
    std::optional<int64_t> time_ms = parse_ms(positional[1]);
    if (name.empty()) return usage_error("eval", "the track name is empty", kEvalUsage);
    if (!time_ms) return usage_error("eval", "'" + positional[1] + "' is not a whole number of milliseconds", kEvalUsage);

    cSyncDevice device;
    if (!open_device(device, directory)) return 1;
    warn_if_missing(directory, name);
    float value = device.get_value(name.c_str(), *time_ms);
    std::cout << format_value(value) << std::endl;
    return 0;
}

int run_plot(const std::vector<std::string>& args) {
    std::vector<std::string> names;
    std::string out, directory = kSyncBasePath;
    int64_t from_ms = 0, to_ms = kToolShowEndMs;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        bool takes_value = arg == "--out" || arg == "--from" || arg == "--to" || arg == "--dir";
        if (takes_value) {
            if (i + 1 >= args.size()) return usage_error("plot", arg + " needs a value", kPlotUsage);
            const std::string& value = args[++i];
            if (arg == "--out") {
                out = value;
            } else if (arg == "--dir") {
                directory = with_trailing_slash(value);
            } else {
                std::optional<int64_t> ms = parse_ms(value);
                if (!ms) return usage_error("plot", arg + " '" + value + "' is not a whole number of milliseconds", kPlotUsage);
                (arg == "--from" ? from_ms : to_ms) = *ms;
            }
        } else if (arg.rfind("--", 0) == 0) {
            return usage_error("plot", "unknown option '" + arg + "'", kPlotUsage);
        } else {
            names.push_back(arg);
        }
    }
    if (out.empty()) return usage_error("plot", "--out FILE.png is required", kPlotUsage);
    if (names.empty()) return usage_error("plot", "name at least one track", kPlotUsage);
    if (static_cast<int>(names.size()) > kPlotMaxTracks) {
        return usage_error("plot", "at most " + std::to_string(kPlotMaxTracks) + " tracks fit one plot", kPlotUsage);
    }
    if (to_ms <= from_ms) return usage_error("plot", "--to must come after --from", kPlotUsage);

    cSyncDevice device;
    if (!open_device(device, directory)) return 1;
    for (const std::string& name : names) warn_if_missing(directory, name);
    cPlotSampler sampler;
    sampler.value = [&device](const std::string& name, int64_t t) { return device.get_value(name.c_str(), t); };
    sampler.keys = [&device](const std::string& name) { return keys_of(device, name); };
    cPlotCanvas canvas = render_plot(names, from_ms, to_ms, sampler);
    std::string error;
    if (!canvas.save_png(out, error)) {
        std::cerr << "## ERROR: cannot write \"" << out << "\": " << error << std::endl;
        return 1;
    }
    std::cout << "# wrote \"" << out << "\" (" << canvas.width() << " x " << canvas.height() << ", " << names.size()
              << (names.size() == 1 ? " track" : " tracks") << ", " << from_ms << " to " << to_ms << " ms)" << std::endl;
    return 0;
}

int run_synctool(const std::vector<std::string>& args) {
    constexpr const char* kAll =
        "synctool compile [SOURCE] [OUTDIR] | dump FILE.track | eval NAME TIME_MS [--dir DIR] | plot --out FILE.png "
        "[--from MS] [--to MS] [--dir DIR] NAME...";
    if (args.empty()) return usage_error("", "which command?", kAll);
    const std::string& command = args[0];
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "-h" || command == "--help" || command == "help") {
        print_help();
        return 0;
    }
    if (command == "compile") return run_compile(rest);
    if (command == "dump") return run_dump(rest);
    if (command == "eval") return run_eval(rest);
    if (command == "plot") return run_plot(rest);
    return usage_error("", "unknown command '" + command + "'", kAll);
}
