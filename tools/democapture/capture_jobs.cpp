// Chunk processes of a --jobs capture: the split, the processes (this program again, with
// --from and --to), their messages passed on line by line with the chunk's name, and the join.
// Depends on capture_join for reading finished chunks and joining them, base/process for the
// processes; POSIX poll.
#include "tools/democapture/capture_jobs.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <thread>

#include "base/process/child_process.h"
#include "tools/democapture/capture_config.h"
#include "tools/democapture/capture_join.h"
#include "tools/democapture/capture_manifest.h"
#include "tools/democapture/capture_paths.h"
#include "tools/democapture/chunk_check.h"
#include "tools/democapture/frame_layout.h"
#include "tools/democapture/gl_limits.h"
#include "tools/democapture/partial_files.h"

namespace fs = std::filesystem;
using namespace capture_config;

namespace {

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

void report_error(const std::string& message) { std::cerr << "## ERROR: democapture: " << message << std::endl; }

struct cChunkProcess {
    cChunkRange range;
    std::string path;
    std::string label;  // "chunk 2 of 4"
    cChildProcess process;  // its standard error is the output pipe
    std::string pending;
    bool reused = false;
    bool succeeded = false;
};

std::string frames_text(int64_t k) {
    char text[32];
    std::snprintf(text, sizeof text, "%06lld", static_cast<long long>(k));
    return text;
}

bool start_chunk(cChunkProcess& chunk, const std::vector<std::string>& args, std::string& error) {
    cChildOptions options;
    options.input.kind = cChildStream::null_device;
    // The show's start-up lines of every chunk would only repeat each other.
    options.output.kind = cChildStream::null_device;
    options.errors.kind = cChildStream::pipe;
    options.set_env = {std::string(parent_environment) + "=" + std::to_string(::getpid())};
    if (!chunk.process.start(args, options)) {
        error = chunk.process.pipe_failed() ? std::string("cannot make a pipe: ") + std::strerror(chunk.process.start_error())
                                            : "cannot start " + chunk.label + ": " + std::strerror(chunk.process.start_error());
        return false;
    }
    // Stopped with SIGTERM, a chunk removes its own unfinished files before it ends.
    partial_files::add_child(chunk.process.pid(), SIGTERM);
    return true;
}

// Passes the chunk's complete lines on, each with its label.
void pass_lines(cChunkProcess& chunk, bool flush) {
    size_t start = 0;
    for (;;) {
        const size_t end = chunk.pending.find('\n', start);
        if (end == std::string::npos) break;
        const std::string line = chunk.pending.substr(start, end - start);
        if (!line.empty()) std::cerr << chunk.label << ": " << line << "\n";
        start = end + 1;
    }
    chunk.pending.erase(0, start);
    if (flush && !chunk.pending.empty()) {
        std::cerr << chunk.label << ": " << chunk.pending << "\n";
        chunk.pending.clear();
    }
    std::cerr << std::flush;
}

// Reads every chunk's messages until all have ended; records how each ended.
void wait_for_chunks(std::vector<cChunkProcess>& chunks) {
    for (;;) {
        std::vector<pollfd> fds;
        std::vector<cChunkProcess*> owners;
        for (auto& c : chunks) {
            if (c.process.errors() < 0) continue;
            fds.push_back({c.process.errors(), POLLIN, 0});
            owners.push_back(&c);
        }
        if (fds.empty()) break;
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents == 0) continue;
            cChunkProcess& c = *owners[i];
            char buffer[4096];
            const ssize_t n = ::read(c.process.errors(), buffer, sizeof buffer);
            if (n > 0) {
                c.pending.append(buffer, static_cast<size_t>(n));
                pass_lines(c, false);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            pass_lines(c, true);
            c.process.close_pipes();
            c.process.wait();
            partial_files::remove_child(c.process.pid());
            c.succeeded = c.process.end().succeeded();
        }
    }
}

}  // namespace

std::vector<cChunkRange> split_range(int64_t from_ms, int64_t to_ms, int32_t fps, int32_t jobs, int64_t align) {
    const int64_t k0 = grid_frame_at(from_ms, fps), k1 = grid_frame_at(to_ms, fps);
    const int64_t n = k1 - k0;
    std::vector<int64_t> cuts;  // where chunks meet
    if (n > 0 && jobs > 1) {
        if (align > 0) {
            std::vector<int64_t> candidates;
            for (int64_t m = (k0 / align + 1) * align; m < k1; m += align) candidates.push_back(m);
            const int64_t p = static_cast<int64_t>(candidates.size());
            const int64_t chunks = std::min<int64_t>(jobs, p + 1);
            int64_t lowest = 0;
            for (int64_t i = 1; i < chunks; ++i) {
                // The key frame nearest the even split, leaving one for each cut still to come.
                const int64_t ideal = k0 + n * i / chunks;
                const int64_t highest = p - (chunks - i);
                int64_t best = lowest;
                for (int64_t j = lowest; j <= highest; ++j) {
                    if (std::llabs(candidates[static_cast<size_t>(j)] - ideal) <
                        std::llabs(candidates[static_cast<size_t>(best)] - ideal)) {
                        best = j;
                    }
                }
                cuts.push_back(candidates[static_cast<size_t>(best)]);
                lowest = best + 1;
            }
        } else {
            const int64_t chunks = std::min<int64_t>(jobs, n);
            for (int64_t i = 1; i < chunks; ++i) cuts.push_back(k0 + n * i / chunks);
        }
    }
    std::vector<cChunkRange> ranges;
    int64_t first = k0, from = from_ms;
    for (size_t i = 0; i <= cuts.size(); ++i) {
        const int64_t end = i < cuts.size() ? cuts[i] : k1;
        const int64_t to = i < cuts.size() ? grid_split_ms(end, fps) : to_ms;
        ranges.push_back({first, end, from, to});
        first = end;
        from = to;
    }
    return ranges;
}

int run_jobs(const cCaptureOptions& options, const std::string& show_dir, const cRangeManifest& whole) {
    const cOutputKind& kind = output_kind(options.output);
    // A size the GL cannot hold is refused here, not by every chunk after the split.
    {
        const cFrameLayout layout = frame_layout(options.width, options.height, options.supersample);
        cGLLimits limits;
        std::string error;
        if (!probe_gl_limits(limits, error)) {
            report_error(error);
            return 1;
        }
        const std::string refusal = render_size_refusal(limits, layout.render_width(), layout.render_height());
        if (!refusal.empty()) {
            report_error(refusal + "; choose a smaller --size or --supersample");
            return 2;
        }
    }
    std::string target = options.target;
    while (target.size() > 1 && target.back() == '/') target.pop_back();

    const std::vector<cChunkRange> ranges = split_range(options.from_ms, options.to_ms, options.fps, options.jobs,
                                                        kind.segments ? video_segment_frames(options.fps) : 0);
    const int32_t count = static_cast<int32_t>(ranges.size());
    if (count < options.jobs) {
        std::cout << "# note: democapture: " << count << (count == 1 ? " process" : " processes") << ", not "
                  << options.jobs << ": an H.264 video is split only at its key frames, every "
                  << video_segment_seconds << " s" << std::endl;
    }

    const std::string chunks_dir = target + chunks_suffix;
    std::error_code ec;
    fs::create_directories(chunks_dir, ec);
    if (ec || !fs::is_directory(chunks_dir)) {
        report_error("cannot make the chunk folder " + quoted(chunks_dir) + ": " +
                     (ec ? ec.message() : std::string("it is not a folder")));
        return 1;
    }
    const int chunks_slot = partial_files::hold_folder(chunks_dir, false);

    std::error_code self_ec;
    const std::string self = fs::read_symlink("/proc/self/exe", self_ec).string();
    const int32_t cores = static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
    const int32_t threads = std::max(1, (options.threads > 0 ? options.threads : cores) / count);

    std::vector<cChunkProcess> chunks(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        cChunkProcess& c = chunks[static_cast<size_t>(i)];
        c.range = ranges[static_cast<size_t>(i)];
        c.path = chunks_dir + "/chunk-" + frames_text(c.range.first_frame) + "-" + frames_text(c.range.end_frame) +
                 kind.extension;
        c.label = "chunk " + std::to_string(i + 1) + " of " + std::to_string(count);
        // A chunk finished by an earlier run of the same command is kept as it is, when it was
        // captured from this show by this build and its frames are whole.
        cRangeManifest found;
        std::string why;
        if (read_chunk_manifest(c.path, found, why) && found.first_frame == c.range.first_frame &&
            found.end_frame() == c.range.end_frame && manifest_mismatch(found, whole).empty()) {
            if (check_chunk(c.path, found, why)) {
                c.reused = c.succeeded = true;
                std::cout << "# democapture: " << c.label << " is already captured in " << quoted(c.path) << std::endl;
                continue;
            }
            std::cout << "# note: democapture: " << c.label << " in " << quoted(c.path) << " " << why
                      << "; it is captured again" << std::endl;
        }
        std::vector<std::string> args = {self,
                                         "--show", show_dir,
                                         "--from", std::to_string(c.range.from_ms),
                                         "--to", std::to_string(c.range.to_ms),
                                         "--fps", std::to_string(options.fps),
                                         "--size", std::to_string(options.width) + "x" + std::to_string(options.height),
                                         "--supersample", std::to_string(options.supersample),
                                         "--threads", std::to_string(threads),
                                         kind.option, c.path};
        if (kind.quality) args.insert(args.end(), {"--crf", std::to_string(options.crf)});
        std::string error;
        if (!start_chunk(c, args, error)) {
            report_error(error);
            break;
        }
    }
    std::cout << "# democapture: capturing " << count << " chunks in " << quoted(chunks_dir) << std::endl;
    wait_for_chunks(chunks);

    int failed = 0;
    for (const auto& c : chunks) {
        if (c.succeeded) continue;
        ++failed;
        report_error(c.label + " (music " + std::to_string(c.range.from_ms) + " to " + std::to_string(c.range.to_ms) +
                     " ms, " + quoted(c.path) + ") failed");
    }
    if (failed > 0) {
        partial_files::release(chunks_slot);
        ::rmdir(chunks_dir.c_str());  // only when nothing finished
        report_error(std::to_string(failed) + " of " + std::to_string(count) + " chunks failed; " +
                     (fs::exists(chunks_dir) ? "the finished ones stay in " + quoted(chunks_dir) +
                                                   ", and the same command again captures only the rest"
                                             : std::string("nothing was written")));
        return 1;
    }

    cJoinPlan join;
    join.show_dir = show_dir;
    join.output = options.output;
    join.target = target;
    for (const auto& c : chunks) {
        join.chunks.push_back(c.path);
        if (!c.reused) join.fresh.insert(absolute_from_here(c.path));
    }
    const int status = run_join(join);
    partial_files::release(chunks_slot);
    if (status != 0) {
        // The command line was checked before the capture; what the join refuses now is a failure.
        report_error("the chunks stay in " + quoted(chunks_dir));
        return 1;
    }
    fs::remove_all(chunks_dir, ec);
    return 0;
}
