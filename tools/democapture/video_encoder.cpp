// Runs the encoder as a child process (base/process) and feeds it through a pipe; builds its
// command lines. Depends on partial_files so that an abnormal end of the capture also stops the
// encoder. Never uses a shell: every argument is passed as it is.
#include "tools/democapture/video_encoder.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/process/child_process.h"
#include "tools/democapture/capture_config.h"
#include "tools/democapture/partial_files.h"

using namespace capture_config;

namespace {

std::string microseconds_text(int64_t us) {
    char text[48];
    std::snprintf(text, sizeof text, "%lld.%06lld", static_cast<long long>(us / 1000000),
                  static_cast<long long>(us % 1000000));
    return text;
}

// The time of grid frame k in whole microseconds (rounded), exact for every rate that divides
// a million and within half a microsecond otherwise: the same text for a run and for a join.
int64_t frame_microseconds(int64_t k, int32_t fps) {
    return (k * 1000000 * 2 + fps) / (2 * static_cast<int64_t>(fps));
}

// Options that make ffmpeg's output depend on its input alone: no version strings, no random
// identifiers, and the exact (not the fastest) colour conversion on every processor.
void add_bitexact(std::vector<std::string>& cmd) {
    cmd.insert(cmd.end(), {"-fflags", "+bitexact", "-flags:v", "+bitexact", "-flags:a", "+bitexact"});
}

std::vector<std::string> raw_input(const cVideoSettings& s) {
    return {encoder_program, "-hide_banner", "-loglevel", "error", "-nostats", "-y", "-f", "rawvideo",
            "-pixel_format", "bgr24", "-video_size", std::to_string(s.width) + "x" + std::to_string(s.height),
            "-framerate", std::to_string(s.fps), "-i", "pipe:0"};
}

// The music is decoded from its start, never from a seek point, and cut by the filter of the
// audio output (add_music_output).
void add_music_input(std::vector<std::string>& cmd, const cVideoSettings& s) {
    cmd.insert(cmd.end(), {"-i", s.music});
}

// mkv: the master's FLAC, 24 bits of the decoder's samples (the sample format is fixed, not
// left to the encoder's preference); else AAC.
void add_music_output(std::vector<std::string>& cmd, const cVideoSettings& s, bool mkv) {
    cmd.insert(cmd.end(), {"-filter:a", music_cut_filter(s)});
    if (mkv) {
        cmd.insert(cmd.end(), {"-c:a", master_audio_codec, "-sample_fmt", master_audio_sample_format});
    } else {
        cmd.insert(cmd.end(), {"-c:a", audio_codec, "-b:a", audio_bitrate});
    }
}

void add_tag(std::vector<std::string>& cmd, const cVideoSettings& s) {
    if (!s.tag.empty()) cmd.insert(cmd.end(), {"-metadata", "comment=" + s.tag});
}

// One decision for the whole job: the program looked up on the PATH, started with the default
// signal actions and standard output redirected, and registered for clean-up.
bool spawn(const std::vector<std::string>& command, cChildOptions options, cChildProcess& child, std::string& error) {
    std::vector<std::string> argv = command;
    argv.front() = find_on_path(command.front());
    if (argv.front().empty()) {
        error = "\"" + command.front() + "\" was not found on the PATH; it is needed for video output";
        return false;
    }
    // The child starts with the default actions, not the capture's clean-up handlers.
    options.default_signals = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
    if (!child.start(argv, options)) {
        error = child.pipe_failed() ? std::string("cannot make a pipe") +
                                          (options.input.kind == cChildStream::pipe ? " to the encoder" : "") + ": " +
                                          std::strerror(child.start_error())
                                    : "cannot start \"" + argv.front() + "\": " + std::strerror(child.start_error());
        return false;
    }
    partial_files::add_child(child.pid(), SIGKILL);
    return true;
}

// Waits for a child; what names it in messages, such as the encoder "ffmpeg".
bool wait_for(cChildProcess& child, const std::string& what, std::string& error) {
    child.wait();
    partial_files::remove_child(child.pid());
    const cChildEnd& end = child.end();
    if (end.wait_error != 0) {
        error = "lost track of " + what + ": " + std::strerror(end.wait_error);
        return false;
    }
    if (end.succeeded()) return true;
    if (end.exited) {
        error = what + " failed with status " + std::to_string(end.status);
    } else {
        error = what + " was ended by signal " + std::to_string(end.signal);
    }
    return false;
}

}  // namespace

int64_t music_sample_at(int64_t grid_frame, int32_t fps, int32_t rate) {
    return grid_frame * rate / fps;
}

std::string music_cut_filter(const cVideoSettings& s) {
    const std::string first = std::to_string(music_sample_at(s.first_frame, s.fps, s.music_rate));
    const std::string end = std::to_string(music_sample_at(s.first_frame + s.frames, s.fps, s.music_rate));
    // Samples are counted from the decoder's first, whatever the file's timestamps say; the
    // padding only adds silence past the music's end.
    return "apad=whole_len=" + end + ",atrim=start_sample=" + first + ":end_sample=" + end + ",asetpts=N/SR/TB";
}

bool probe_music_rate(const std::string& music, int32_t& rate, std::string& error) {
    std::string text;
    if (!run_to_end({probe_program, "-v", "error", "-select_streams", "a:0", "-show_entries", "stream=sample_rate",
                     "-of", "default=noprint_wrappers=1:nokey=1", music},
                    text, error)) {
        error = "cannot read the sample rate of the music \"" + music + "\": " + error;
        return false;
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    int64_t value = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size() || value <= 0 || value > max_music_rate) {
        error = "the music \"" + music + "\" has no audio stream with a sample rate (\"" + text + "\")";
        return false;
    }
    rate = static_cast<int32_t>(value);
    return true;
}

std::vector<std::string> h264_segment_command(const cVideoSettings& s, const std::string& output) {
    std::vector<std::string> cmd = raw_input(s);
    // BT.709, the colours of HD video, converted exactly and tagged so players read them right.
    cmd.insert(cmd.end(), {"-vf", "scale=out_color_matrix=bt709:out_range=tv:flags=accurate_rnd+bitexact",
                           "-c:v", video_codec, "-preset", video_preset, "-crf", std::to_string(s.crf), "-pix_fmt",
                           video_pixel_format, "-colorspace", "bt709", "-color_primaries", "bt709", "-color_trc",
                           "bt709", "-color_range", "tv",
                           // A fixed thread count: the encoder's choices depend on it, never on the machine.
                           "-threads", video_encoder_threads, "-an"});
    add_bitexact(cmd);
    cmd.insert(cmd.end(), {"-f", "mp4", output});
    return cmd;
}

std::vector<std::string> master_command(const cVideoSettings& s, const std::string& output) {
    std::vector<std::string> cmd = raw_input(s);
    if (!s.music.empty()) add_music_input(cmd, s);
    cmd.insert(cmd.end(), {"-map", "0:v:0"});
    if (!s.music.empty()) cmd.insert(cmd.end(), {"-map", "1:a:0"});
    cmd.insert(cmd.end(), {"-c:v", master_codec, "-level", master_level, "-g", "1", "-slices", master_slices,
                           "-slicecrc", "1", "-pix_fmt", master_pixel_format, "-color_primaries",
                           master_color_primaries, "-color_trc", master_color_transfer, "-colorspace",
                           master_color_space, "-color_range", master_color_range});
    if (!s.music.empty()) add_music_output(cmd, s, true);
    add_tag(cmd, s);
    add_bitexact(cmd);
    cmd.insert(cmd.end(), {"-f", "matroska", output});
    return cmd;
}

std::vector<std::string> mux_command(const cVideoSettings& s, const std::string& concat_list, bool mkv,
                                     const std::string& output) {
    std::vector<std::string> cmd = {encoder_program, "-hide_banner", "-loglevel", "error", "-nostats", "-y",
                                    "-f", "concat", "-safe", "0", "-i", concat_list};
    if (!s.music.empty()) add_music_input(cmd, s);
    cmd.insert(cmd.end(), {"-map", "0:v:0"});
    if (!s.music.empty()) cmd.insert(cmd.end(), {"-map", "1:a:0"});
    cmd.insert(cmd.end(), {"-c:v", "copy"});
    if (!s.music.empty()) add_music_output(cmd, s, mkv);
    add_tag(cmd, s);
    add_bitexact(cmd);
    if (mkv) {
        cmd.insert(cmd.end(), {"-f", "matroska", output});
    } else {
        cmd.insert(cmd.end(), {"-movflags", "+faststart", "-f", "mp4", output});
    }
    return cmd;
}

std::string concat_list_text(const std::vector<cConcatEntry>& entries, int32_t fps, bool first_track_only) {
    std::string text = "ffconcat version 1.0\n";
    // The encoder starts the output where the earliest packet of any input stream lies, mapped
    // or not: a chunk's AAC begins with its priming, 23 ms before its pictures.
    if (first_track_only) text += "stream\nexact_stream_id 1\n";
    for (const auto& e : entries) {
        std::string escaped;
        for (char c : e.path) escaped += c == '\'' ? std::string("'\\''") : std::string(1, c);
        // The length of each piece is its frames', not its longest stream's: a chunk's music
        // may run a little longer than its pictures.
        text += "file '" + escaped + "'\nduration " + microseconds_text(frame_microseconds(e.frames, fps)) + "\n";
    }
    return text;
}

std::string find_on_path(const std::string& program) {
    if (program.find('/') != std::string::npos) return ::access(program.c_str(), X_OK) == 0 ? program : "";
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        const size_t colon = dirs.find(':', start);
        std::string dir = dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (dir.empty()) dir = ".";
        const std::string candidate = dir + "/" + program;
        struct stat info;
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        if (colon == std::string::npos) return "";
        start = colon + 1;
    }
}

bool run_to_end(const std::vector<std::string>& command, std::string& output, std::string& error, bool errors_too) {
    cChildOptions options;
    options.input.kind = cChildStream::null_device;
    options.output.kind = cChildStream::pipe;
    // The capture's standard output carries its own report; the program's chatter goes to
    // standard error with the other problems, unless it is asked for.
    if (errors_too) options.errors.kind = cChildStream::same_as_output;
    cChildProcess child;
    if (!spawn(command, options, child, error)) return false;
    child.collect(&output, nullptr);
    return wait_for(child, "\"" + command.front() + "\"", error);
}

cVideoEncoder::~cVideoEncoder() { abort(); }

bool cVideoEncoder::start(const std::vector<std::string>& command, std::string& error) {
    cChildOptions options;
    options.input.kind = cChildStream::pipe;
    // The capture's standard output carries its own report; the encoder's chatter goes to
    // standard error with the other problems.
    options.output = {cChildStream::descriptor, STDERR_FILENO, {}};
    if (!spawn(command, options, encoder_, error)) return false;
    ::fcntl(encoder_.input(), F_SETPIPE_SZ, encoder_pipe_bytes);  // a hint; the default size works too
    return true;
}

bool cVideoEncoder::write(const uint8_t* data, size_t bytes) {
    const int pipe = encoder_.input();
    if (pipe < 0) return false;
    while (bytes > 0) {
        const ssize_t n = ::write(pipe, data, bytes);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;  // EPIPE: the encoder has ended
        }
        data += n;
        bytes -= static_cast<size_t>(n);
    }
    return true;
}

void cVideoEncoder::close_input() { encoder_.close_input(); }

bool cVideoEncoder::finish(std::string& error) {
    if (encoder_.pid() <= 0) {
        error = "the encoder was not running";
        return false;
    }
    encoder_.close_input();
    const bool ok = wait_for(encoder_, std::string("the encoder \"") + encoder_program + "\"", error);
    encoder_ = cChildProcess();
    return ok;
}

void cVideoEncoder::abort() {
    if (encoder_.pid() <= 0) return;
    const pid_t pid = encoder_.pid();
    encoder_.stop();
    partial_files::remove_child(pid);
    encoder_ = cChildProcess();
}
