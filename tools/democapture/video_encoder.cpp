// Runs the encoder as a child process with posix_spawn and feeds it through a pipe. Depends on
// partial_files so that an abnormal end of the capture also stops the encoder. Never uses a
// shell: every argument is passed as it is.
#include "tools/democapture/video_encoder.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/democapture/capture_config.h"
#include "tools/democapture/partial_files.h"

extern char** environ;

using namespace capture_config;

namespace {

std::string seconds_text(int64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%03lld", static_cast<long long>(ms / 1000), static_cast<long long>(ms % 1000));
    return text;
}

}  // namespace

std::vector<std::string> encoder_command(const cVideoSettings& s) {
    std::vector<std::string> cmd = {encoder_program, "-hide_banner", "-loglevel", "error", "-nostats", "-y",
                                    // input 0: the frames, raw, from the pipe
                                    "-f", "rawvideo", "-pixel_format", "bgr24", "-video_size",
                                    std::to_string(s.width) + "x" + std::to_string(s.height), "-framerate",
                                    std::to_string(s.fps), "-i", "pipe:0"};
    const bool with_music = !s.music.empty();
    if (with_music) {
        // input 1: the music, cut to the captured range (seeking decodes, so the cut is exact)
        cmd.insert(cmd.end(), {"-ss", seconds_text(s.music_from_ms), "-t", seconds_text(s.music_length_ms), "-i",
                               s.music});
    }
    cmd.insert(cmd.end(), {"-map", "0:v:0"});
    if (with_music) cmd.insert(cmd.end(), {"-map", "1:a:0"});
    cmd.insert(cmd.end(), {"-c:v", video_codec, "-preset", video_preset, "-crf", video_crf, "-pix_fmt",
                           video_pixel_format});
    if (with_music) cmd.insert(cmd.end(), {"-c:a", audio_codec, "-b:a", audio_bitrate});
    cmd.insert(cmd.end(), {"-movflags", "+faststart", "-f", "mp4", s.output});
    return cmd;
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

cVideoEncoder::~cVideoEncoder() { abort(); }

bool cVideoEncoder::start(const cVideoSettings& settings, std::string& error) {
    const std::string program = find_on_path(encoder_program);
    if (program.empty()) {
        error = std::string("\"") + encoder_program + "\" was not found on the PATH; it is needed for --video";
        return false;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        error = std::string("cannot make a pipe to the encoder: ") + std::strerror(errno);
        return false;
    }
    ::fcntl(fds[1], F_SETPIPE_SZ, encoder_pipe_bytes);  // a hint; the default size works too

    const std::vector<std::string> args = encoder_command(settings);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
    // The capture's standard output carries its own report; the encoder's chatter goes to
    // standard error with the other problems.
    posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // The child starts with the default actions, not the capture's clean-up handlers.
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) sigaddset(&defaults, sig);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(fds[0]);
    if (spawned != 0) {
        ::close(fds[1]);
        error = "cannot start \"" + program + "\": " + std::strerror(spawned);
        return false;
    }
    pid_ = pid;
    pipe_ = fds[1];
    partial_files::set_child(pid_);
    return true;
}

bool cVideoEncoder::write_frame(const uint8_t* pixels, size_t bytes) {
    if (pipe_ < 0) return false;
    while (bytes > 0) {
        const ssize_t n = ::write(pipe_, pixels, bytes);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;  // EPIPE: the encoder has ended
        }
        pixels += n;
        bytes -= static_cast<size_t>(n);
    }
    return true;
}

bool cVideoEncoder::finish(std::string& error) {
    if (pid_ <= 0) {
        error = "the encoder was not running";
        return false;
    }
    if (pipe_ >= 0) ::close(pipe_);
    pipe_ = -1;
    int status = 0;
    pid_t done;
    do {
        done = ::waitpid(pid_, &status, 0);
    } while (done < 0 && errno == EINTR);
    partial_files::set_child(0);
    pid_ = 0;
    if (done < 0) {
        error = std::string("lost track of the encoder: ") + std::strerror(errno);
        return false;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    if (WIFEXITED(status)) {
        error = std::string("the encoder \"") + encoder_program + "\" failed with status " +
                std::to_string(WEXITSTATUS(status));
    } else {
        error = std::string("the encoder \"") + encoder_program + "\" was ended by signal " +
                std::to_string(WTERMSIG(status));
    }
    return false;
}

void cVideoEncoder::abort() {
    if (pipe_ >= 0) ::close(pipe_);
    pipe_ = -1;
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        partial_files::set_child(0);
    }
    pid_ = 0;
}
