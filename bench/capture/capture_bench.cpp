// Capture throughput at 1280x720 on this machine's GL: runs democapture over the same range of
// the show twice, into PNG files and into an MP4, each with --stats, and prints its figures:
// frames per second and the shares of rendering (with glFinish), reading back and encoding.
//   capture_bench [FROM_MS TO_MS]      (default 48000 52000: words, glow and the tunnel)
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct cRun {
    int status = -1;
    std::string out;
};

// Runs the tool with its standard output collected; its standard error (the progress bar and
// the show's warnings) is dropped.
cRun run_tool(const std::vector<std::string>& args) {
    cRun run;
    int fds[2];
    if (::pipe(fds) != 0) return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", 1, 0);  // O_WRONLY
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (spawned == 0) {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) run.out.append(buffer, static_cast<size_t>(n));
        int status = 0;
        ::waitpid(pid, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ::close(fds[0]);
    return run;
}

// The "# capture stats" block of the tool's output.
std::string stats_of(const std::string& out) {
    const size_t at = out.find("# capture stats");
    return at == std::string::npos ? "(no stats: the capture failed)\n" : out.substr(at);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string from = argc > 2 ? argv[1] : "48000";
    const std::string to = argc > 2 ? argv[2] : "52000";
    const std::string tool = std::string(DEMO_TOOLS_DIR) + "/democapture";
    char pattern[] = "/tmp/capture-bench-XXXXXX";
    const char* work = ::mkdtemp(pattern);
    if (!work) {
        std::cerr << "## ERROR: capture_bench: cannot make a work folder" << std::endl;
        return 1;
    }
    std::cout << "# capture throughput, 1280x720, 60 fps, music " << from << " to " << to << " ms" << std::endl;
    int status = 0;
    for (const bool video : {false, true}) {
        std::vector<std::string> args = {tool, "--from", from, "--to", to, "--stats"};
        if (video) {
            args.insert(args.end(), {"--video", std::string(work) + "/bench.mp4"});
        } else {
            args.insert(args.end(), {"--out", std::string(work) + "/frames"});
        }
        const cRun run = run_tool(args);
        std::cout << "\n## " << (video ? "video (H.264 through the encoder)" : "PNG files") << "\n"
                  << stats_of(run.out) << std::flush;
        if (run.status != 0) status = 1;
    }
    std::error_code ignored;
    std::filesystem::remove_all(work, ignored);
    return status;
}
