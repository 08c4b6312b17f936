// PNG encoding of captured frames, per thread: the capture's encoder (our own writer around
// ISA-L's igzip, with each row filter and a few levels; the same with libdeflate), libpng and libspng with chosen filters and zlib
// settings, the encoder the capture used before (FreeImage, zlib level 1), and ffmpeg's own PNG
// encoder (the ffmpeg program, fed the same frames through a pipe) as the peer. For 1280x720 and
// 1920x1080, frames of the show rendered by democapture; the candidates take turns frame by frame,
// so that a machine shared with other work slows them alike and their ratios stay comparable.
// Prints, per candidate: processor ms per frame on one thread, MB of pixels per processor second,
// wall ms, the mean file size and its ratio to the encoder of before, the speed against it, and
// whether every file decodes (FreeImage) to exactly the frame's pixels; the machine's load beside.
// "master": the lossless master's encoder instead (ffmpeg's FFV1 with the capture's settings),
// today's settings against single changes, each checked to decode back to exactly the frames.
//   png_encode_bench [ROUNDS]          (default 3)
//   png_encode_bench master [ROUNDS]
#include <FreeImage.h>
#include <libdeflate.h>
#include <png.h>
#include <spng.h>
#include <zlib.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tools/democapture/png_encoder.h"
#include "tools/democapture/video_encoder.h"

extern char** environ;

namespace {

// Frames across the show: words and the circle, glow, the tunnel, the duck, the end.
const char* const frame_times = "3000,20000,35000,48500,62000,80000";

struct cPicture {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> bgr;  // top row first, as the capture hands frames to its encoder
};

double thread_cpu_ms() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double wall_ms() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

std::string load_average() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

int run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// FreeImage's decode of a PNG file in memory, as BGR rows top first; empty when it fails.
std::vector<uint8_t> decode_png(const std::vector<uint8_t>& png, int32_t& width, int32_t& height) {
    std::vector<uint8_t> bgr;
    FIMEMORY* memory = FreeImage_OpenMemory(const_cast<BYTE*>(png.data()), static_cast<DWORD>(png.size()));
    FIBITMAP* bitmap = memory ? FreeImage_LoadFromMemory(FIF_PNG, memory, 0) : nullptr;
    if (bitmap && FreeImage_GetBPP(bitmap) == 24) {
        width = static_cast<int32_t>(FreeImage_GetWidth(bitmap));
        height = static_cast<int32_t>(FreeImage_GetHeight(bitmap));
        const size_t row = static_cast<size_t>(width) * 3;
        bgr.resize(row * static_cast<size_t>(height));
        for (int32_t y = 0; y < height; ++y) {
            std::memcpy(bgr.data() + row * static_cast<size_t>(y), FreeImage_GetScanLine(bitmap, height - 1 - y), row);
        }
    }
    if (bitmap) FreeImage_Unload(bitmap);
    if (memory) FreeImage_CloseMemory(memory);
    return bgr;
}

// The frames of the show at frame_times, rendered by democapture at width x height.
std::vector<cPicture> render_frames(int32_t width, int32_t height) {
    const std::string dir = std::filesystem::temp_directory_path().string() + "/png_encode_bench." +
                            std::to_string(::getpid());
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    std::vector<cPicture> frames;
    if (run({std::string(DEMO_TOOLS_DIR) + "/democapture", "--out", dir, "--at", frame_times, "--size", size}) != 0) {
        std::fprintf(stderr, "## ERROR: png_encode_bench: democapture could not render the frames at %s\n", size.c_str());
        return frames;
    }
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().string());
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        std::ifstream in(name, std::ios::binary);
        const std::vector<uint8_t> png((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        cPicture p;
        p.bgr = decode_png(png, p.width, p.height);
        if (!p.bgr.empty()) frames.push_back(std::move(p));
    }
    std::filesystem::remove_all(dir);
    return frames;
}

void bgr_to_rgb(const std::vector<uint8_t>& bgr, std::vector<uint8_t>& rgb) {
    rgb.resize(bgr.size());
    for (size_t i = 0; i < bgr.size(); i += 3) {
        rgb[i] = bgr[i + 2];
        rgb[i + 1] = bgr[i + 1];
        rgb[i + 2] = bgr[i];
    }
}

// ---- the candidates ----

struct cCandidate {
    std::string name;
    // Encodes one frame into png; adds the processor ms it took to cpu_ms (its own thread's, or
    // another process's).
    std::function<bool(const cPicture&, std::vector<uint8_t>& png, double& cpu_ms)> encode;
    double cpu_ms = 0, wall_ms = 0, bytes = 0;
    int64_t frames = 0;
    bool exact = true;
};

// Times a candidate that encodes on the calling thread.
template <class F>
std::function<bool(const cPicture&, std::vector<uint8_t>&, double&)> on_this_thread(F f) {
    return [f](const cPicture& p, std::vector<uint8_t>& png, double& cpu_ms) mutable {
        const double start = thread_cpu_ms();
        const bool ok = f(p, png);
        cpu_ms += thread_cpu_ms() - start;
        return ok;
    };
}

// What the capture did before: FreeImage's PNG writer at zlib level 1 (its default filters).
cCandidate freeimage_before() {
    auto encode = [](const cPicture& p, std::vector<uint8_t>& png) {
        FIBITMAP* bitmap = FreeImage_Allocate(p.width, p.height, 24);
        if (!bitmap) return false;
        const size_t row = static_cast<size_t>(p.width) * 3;
        for (int32_t y = 0; y < p.height; ++y) {
            std::memcpy(FreeImage_GetScanLine(bitmap, p.height - 1 - y), p.bgr.data() + static_cast<size_t>(y) * row, row);
        }
        FIMEMORY* memory = FreeImage_OpenMemory(nullptr, 0);
        BYTE* data = nullptr;
        DWORD size = 0;
        const bool saved = memory && FreeImage_SaveToMemory(FIF_PNG, bitmap, memory, 1) &&
                           FreeImage_AcquireMemory(memory, &data, &size);
        if (saved) png.assign(data, data + size);
        if (memory) FreeImage_CloseMemory(memory);
        FreeImage_Unload(bitmap);
        return saved;
    };
    return {"FreeImage, zlib 1 (before)", on_this_thread(encode)};
}

void append_to(png_structp png, png_bytep data, size_t bytes) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + bytes);
}

cCandidate libpng_candidate(const char* filter_name, int filters, int level, int strategy, const char* strategy_name) {
    auto encode = [=](const cPicture& p, std::vector<uint8_t>& out) {
        out.clear();
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png ? png_create_info_struct(png) : nullptr;
        if (!info || setjmp(png_jmpbuf(png))) {
            png_destroy_write_struct(&png, &info);
            return false;
        }
        png_set_write_fn(png, &out, append_to, nullptr);
        png_set_IHDR(png, info, static_cast<png_uint_32>(p.width), static_cast<png_uint_32>(p.height), 8,
                     PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_filter(png, 0, filters);
        png_set_compression_level(png, level);
        if (strategy >= 0) png_set_compression_strategy(png, strategy);
        png_write_info(png, info);
        png_set_bgr(png);
        const size_t row = static_cast<size_t>(p.width) * 3;
        for (int32_t y = 0; y < p.height; ++y) {
            png_write_row(png, const_cast<png_bytep>(p.bgr.data() + row * static_cast<size_t>(y)));
        }
        png_write_end(png, nullptr);
        png_destroy_write_struct(&png, &info);
        return true;
    };
    return {std::string("libpng ") + filter_name + ", zlib " + std::to_string(level) + strategy_name,
            on_this_thread(encode)};
}

cCandidate spng_candidate(const char* filter_name, int filters, int level) {
    auto rgb = std::make_shared<std::vector<uint8_t>>();
    auto encode = [=](const cPicture& p, std::vector<uint8_t>& out) {
        bgr_to_rgb(p.bgr, *rgb);  // libspng takes RGB only
        spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
        if (!ctx) return false;
        spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
        spng_set_option(ctx, SPNG_FILTER_CHOICE, filters);
        spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, level);
        spng_ihdr ihdr{};
        ihdr.width = static_cast<uint32_t>(p.width);
        ihdr.height = static_cast<uint32_t>(p.height);
        ihdr.bit_depth = 8;
        ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
        spng_set_ihdr(ctx, &ihdr);
        int error = spng_encode_image(ctx, rgb->data(), rgb->size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
        size_t bytes = 0;
        void* buffer = error == 0 ? spng_get_png_buffer(ctx, &bytes, &error) : nullptr;
        if (buffer) {
            out.assign(static_cast<uint8_t*>(buffer), static_cast<uint8_t*>(buffer) + bytes);
            std::free(buffer);
        }
        spng_ctx_free(ctx);
        return buffer != nullptr;
    };
    return {std::string("libspng ") + filter_name + ", zlib " + std::to_string(level), on_this_thread(encode)};
}

// The capture's encoder (our writer around igzip), with a filter and a level.
cCandidate ours(const char* filter_name, ePngFilter filter, int level, int32_t width, int32_t height, bool chosen) {
    auto encoder = std::make_shared<cPngEncoder>(width, height, filter, level);
    auto encode = [encoder](const cPicture& p, std::vector<uint8_t>& png) { return encoder->encode(p.bgr.data(), png); };
    return {std::string("ISA-L igzip ") + std::to_string(level) + ", " + filter_name + (chosen ? " (capture)" : ""),
            on_this_thread(encode)};
}

// The same writer and filters with libdeflate instead of igzip (whole-buffer: all rows filtered
// first, then deflated in one call).
cCandidate libdeflate_candidate(const char* filter_name, ePngFilter filter, int level) {
    struct cState {
        libdeflate_compressor* compressor;
        std::vector<uint8_t> filtered;
    };
    auto state = std::shared_ptr<cState>(new cState{libdeflate_alloc_compressor(level), {}}, [](cState* s) {
        libdeflate_free_compressor(s->compressor);
        delete s;
    });
    auto encode = [state, filter](const cPicture& p, std::vector<uint8_t>& png) {
        const size_t stored_row = static_cast<size_t>(p.width) * 3 + 1;
        state->filtered.resize(stored_row * static_cast<size_t>(p.height));
        for (int32_t y = 0; y < p.height; ++y) {
            filter_png_row(p.bgr.data(), p.width, y, filter, state->filtered.data() + stored_row * static_cast<size_t>(y));
        }
        const size_t bound = libdeflate_zlib_compress_bound(state->compressor, state->filtered.size());
        png.resize(png_head_bytes + bound + png_tail_bytes);
        put_png_head(png.data(), p.width, p.height);
        const size_t bytes = libdeflate_zlib_compress(state->compressor, state->filtered.data(), state->filtered.size(),
                                                      png.data() + png_head_bytes, bound);
        if (bytes == 0) return false;
        png.resize(put_png_tail(png.data(), bytes));
        return true;
    };
    return {std::string("libdeflate ") + std::to_string(level) + ", " + filter_name, on_this_thread(encode)};
}

// ffmpeg's PNG encoder in a process of its own, on one thread, fed RGB frames (its input
// format, so that no conversion runs in it) and read back file by file. Its processor time is
// that of all its threads, from the kernel's scheduler statistics.
class cFfmpegPeer {
public:
    cFfmpegPeer(int32_t width, int32_t height, const std::vector<std::string>& settings) {
        // Without the small probe it would wait for more frames than one before its first file.
        std::vector<std::string> args = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-probesize", "32",
                                         "-analyzeduration", "0", "-f", "rawvideo",
                                         "-pixel_format", "rgb24", "-video_size",
                                         std::to_string(width) + "x" + std::to_string(height), "-framerate", "1",
                                         "-i", "pipe:0", "-c:v", "png", "-threads", "1"};
        args.insert(args.end(), settings.begin(), settings.end());
        args.insert(args.end(), {"-f", "image2pipe", "-flush_packets", "1", "pipe:1"});
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawnp(&pid_, "ffmpeg", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        to_ = in[1];
        from_ = out[0];
    }
    ~cFfmpegPeer() {
        if (to_ >= 0) ::close(to_);
        if (from_ >= 0) ::close(from_);
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    }

    bool encode(const cPicture& p, std::vector<uint8_t>& png, double& cpu_ms) {
        if (pid_ <= 0) return false;
        bgr_to_rgb(p.bgr, rgb_);
        const double before = cpu_of_child();
        std::thread feed([this] { write_all(rgb_.data(), rgb_.size()); });
        const bool ok = read_png(png);
        feed.join();
        cpu_ms += cpu_of_child() - before;
        return ok;
    }

private:
    // Processor ms of every thread of the child so far.
    double cpu_of_child() const {
        double ns = 0;
        const std::string tasks = "/proc/" + std::to_string(pid_) + "/task";
        for (const auto& task : std::filesystem::directory_iterator(tasks)) {
            std::ifstream in(task.path() / "schedstat");
            double on_cpu = 0;
            in >> on_cpu;
            ns += on_cpu;
        }
        return ns / 1e6;
    }
    void write_all(const uint8_t* data, size_t bytes) {
        while (bytes > 0) {
            const ssize_t n = ::write(to_, data, bytes);
            if (n <= 0) return;
            data += n;
            bytes -= static_cast<size_t>(n);
        }
    }
    bool read_exactly(uint8_t* data, size_t bytes) {
        while (bytes > 0) {
            const ssize_t n = ::read(from_, data, bytes);
            if (n <= 0) return false;
            data += n;
            bytes -= static_cast<size_t>(n);
        }
        return true;
    }
    // One PNG file from the stream: the signature, then chunks up to IEND.
    bool read_png(std::vector<uint8_t>& png) {
        png.resize(8);
        if (!read_exactly(png.data(), 8)) return false;
        for (;;) {
            const size_t at = png.size();
            png.resize(at + 8);
            if (!read_exactly(png.data() + at, 8)) return false;
            const uint8_t* h = png.data() + at;
            const size_t length = (size_t{h[0]} << 24) | (size_t{h[1]} << 16) | (size_t{h[2]} << 8) | h[3];
            const bool end = std::memcmp(h + 4, "IEND", 4) == 0;
            png.resize(at + 8 + length + 4);
            if (!read_exactly(png.data() + at + 8, length + 4)) return false;
            if (end) return true;
        }
    }

    pid_t pid_ = -1;
    int to_ = -1, from_ = -1;
    std::vector<uint8_t> rgb_;
};

cCandidate ffmpeg_peer(const std::string& name, int32_t width, int32_t height, const std::vector<std::string>& settings) {
    auto peer = std::make_shared<cFfmpegPeer>(width, height, settings);
    return {name, [peer](const cPicture& p, std::vector<uint8_t>& png, double& cpu_ms) {
                return peer->encode(p, png, cpu_ms);
            }};
}

std::vector<cCandidate> candidates(int32_t width, int32_t height) {
    std::vector<cCandidate> list;
    list.push_back(freeimage_before());
    list.push_back(libpng_candidate("all filters", PNG_ALL_FILTERS, 1, -1, ""));
    list.push_back(libpng_candidate("sub", PNG_FILTER_SUB, 1, -1, ""));
    list.push_back(libpng_candidate("up", PNG_FILTER_UP, 1, -1, ""));
    list.push_back(libpng_candidate("paeth", PNG_FILTER_PAETH, 1, -1, ""));
    list.push_back(libpng_candidate("up", PNG_FILTER_UP, 1, Z_RLE, " rle"));
    list.push_back(libpng_candidate("paeth", PNG_FILTER_PAETH, 1, Z_RLE, " rle"));
    list.push_back(spng_candidate("up", SPNG_FILTER_CHOICE_UP, 1));
    list.push_back(spng_candidate("paeth", SPNG_FILTER_CHOICE_PAETH, 1));
    list.push_back(libdeflate_candidate("up", ePngFilter::up, 1));
    list.push_back(libdeflate_candidate("paeth", ePngFilter::paeth, 1));
    list.push_back(ours("none", ePngFilter::none, 1, width, height, false));
    list.push_back(ours("sub", ePngFilter::sub, 1, width, height, false));
    list.push_back(ours("up", ePngFilter::up, 1, width, height, true));
    list.push_back(ours("average", ePngFilter::average, 1, width, height, false));
    list.push_back(ours("paeth", ePngFilter::paeth, 1, width, height, false));
    list.push_back(ours("up", ePngFilter::up, 0, width, height, false));
    list.push_back(ours("up", ePngFilter::up, 2, width, height, false));
    list.push_back(ffmpeg_peer("ffmpeg png (peer, its defaults)", width, height, {}));
    list.push_back(ffmpeg_peer("ffmpeg png (peer, mixed, level 1)", width, height,
                               {"-pred", "mixed", "-compression_level", "1"}));
    list.push_back(ffmpeg_peer("ffmpeg png (peer, paeth, level 1)", width, height,
                               {"-pred", "paeth", "-compression_level", "1"}));
    return list;
}

void bench_size(int32_t width, int32_t height, int rounds) {
    const std::vector<cPicture> frames = render_frames(width, height);
    if (frames.empty()) return;
    std::vector<cCandidate> list = candidates(width, height);
    const std::string load_before = load_average();
    std::vector<uint8_t> png;
    for (int round = 0; round < rounds; ++round) {
        for (const cPicture& frame : frames) {
            for (cCandidate& c : list) {
                const double start = wall_ms();
                const bool ok = c.encode(frame, png, c.cpu_ms);
                c.wall_ms += wall_ms() - start;
                c.frames += 1;
                c.bytes += static_cast<double>(png.size());
                if (round > 0) continue;
                int32_t w = 0, h = 0;
                c.exact = c.exact && ok && decode_png(png, w, h) == frame.bgr && w == frame.width && h == frame.height;
            }
        }
    }
    const double raw_mb = static_cast<double>(width) * height * 3 / 1e6;
    const cCandidate& before = list.front();
    const double before_ms = before.cpu_ms / before.frames, before_bytes = before.bytes / before.frames;
    std::printf("\n# %dx%d: %zu frames of the show x %d rounds, candidates in turn frame by frame\n", width, height,
                frames.size(), rounds);
    std::printf("# load (1, 5, 15 min) before %s, after %s; %u cores\n", load_before.c_str(), load_average().c_str(),
                std::thread::hardware_concurrency());
    std::printf("%-38s %9s %7s %8s %9s %8s %8s %6s\n", "# encoder", "ms/frame", "MB/s", "wall ms", "size MB", "size",
                "speed", "exact");
    for (const cCandidate& c : list) {
        const double ms = c.cpu_ms / c.frames, bytes = c.bytes / c.frames;
        std::printf("%-38s %9.1f %7.0f %8.1f %9.3f %7.3fx %7.2fx %6s\n", c.name.c_str(), ms, raw_mb / (ms / 1e3),
                    c.wall_ms / c.frames, bytes / 1e6, bytes / before_bytes, before_ms / ms, c.exact ? "yes" : "NO");
    }
}


// ---- the lossless master ----

// The master's command line (video_encoder.h, without music) with option name set to value.
std::vector<std::string> master_with(int32_t width, int32_t height, const std::string& output, const std::string& name,
                                     const std::string& value) {
    cVideoSettings s;
    s.width = width;
    s.height = height;
    s.fps = 60;
    std::vector<std::string> cmd = master_command(s, output);
    if (name.empty()) return cmd;
    const auto at = std::find(cmd.begin(), cmd.end(), name);
    if (at != cmd.end()) {
        *(at + 1) = value;
    } else {
        cmd.insert(cmd.end() - 3, {name, value});  // before "-f matroska OUTPUT"
    }
    return cmd;
}

// Runs command with standard input from the file input; its processor seconds (all threads).
double run_timed(const std::vector<std::string>& command, const std::string& input, const std::string& output_file) {
    std::vector<char*> argv;
    for (const auto& a : command) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, input.c_str(), O_RDONLY, 0);
    if (!output_file.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
}

// The master's encoder over the same frames, as the capture feeds it (BGR through standard
// input), with its settings of today and single changes to them, in turn, each run checked
// to decode back to exactly the frames.
void bench_master(int32_t width, int32_t height, int rounds) {
    const std::vector<cPicture> frames = render_frames(width, height);
    if (frames.empty()) return;
    const std::string dir = std::filesystem::temp_directory_path().string() + "/master_bench." + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    const std::string raw = dir + "/frames.bgr";
    constexpr int repeats = 5;
    {
        std::ofstream out(raw, std::ios::binary);
        for (int r = 0; r < repeats; ++r)
            for (const cPicture& p : frames) out.write(reinterpret_cast<const char*>(p.bgr.data()), p.bgr.size());
    }
    const int64_t count = static_cast<int64_t>(frames.size()) * repeats;
    struct cSetting {
        std::string label, name, value;
        double cpu = 0, bytes = 0;
        int runs = 0;
        bool exact = true;
    };
    std::vector<cSetting> settings = {{"today (rice coder, 4 slices, threads auto)", "", ""},
                                      {"-threads 1", "-threads", "1"},
                                      {"-slices 16", "-slices", "16"},
                                      {"-context 1", "-context", "1"},
                                      {"-coder range_def", "-coder", "range_def"},
                                      {"-coder range_tab", "-coder", "range_tab"},
                                      {"-slicecrc 0", "-slicecrc", "0"}};
    const std::string load_before = load_average();
    for (int round = 0; round < rounds; ++round) {
        for (cSetting& s : settings) {
            const std::string mkv = dir + "/master.mkv";
            const double cpu = run_timed(master_with(width, height, mkv, s.name, s.value), raw, "");
            if (cpu < 0) {
                s.exact = false;
                continue;
            }
            s.cpu += cpu;
            s.bytes += static_cast<double>(std::filesystem::file_size(mkv));
            s.runs += 1;
            if (round > 0) continue;
            const std::string back = dir + "/back.bgr";
            const double decoded = run_timed({"ffmpeg", "-hide_banner", "-loglevel", "error", "-i", mkv, "-f", "rawvideo",
                                              "-pix_fmt", "bgr24", "pipe:1"}, "/dev/null", back);
            std::ifstream a(raw, std::ios::binary), b(back, std::ios::binary);
            const bool same = decoded >= 0 && std::equal(std::istreambuf_iterator<char>(a), std::istreambuf_iterator<char>(),
                                                         std::istreambuf_iterator<char>(b), std::istreambuf_iterator<char>());
            s.exact = s.exact && same;
        }
    }
    std::filesystem::remove_all(dir);
    std::printf("\n# lossless master (FFV1 in Matroska, no music), %dx%d: %lld frames a run x %d rounds, settings in turn\n",
                width, height, static_cast<long long>(count), rounds);
    std::printf("# load (1, 5, 15 min) before %s, after %s\n", load_before.c_str(), load_average().c_str());
    std::printf("%-44s %12s %7s %9s %8s %6s\n", "# setting", "cpu ms/frame", "MB/s", "size MB", "size", "exact");
    const double raw_mb = static_cast<double>(width) * height * 3 / 1e6;
    const double base_bytes = settings.front().runs ? settings.front().bytes / settings.front().runs : 1;
    for (const cSetting& s : settings) {
        if (s.runs == 0) {
            std::printf("%-44s %12s\n", s.label.c_str(), "failed");
            continue;
        }
        const double ms = s.cpu / s.runs / count * 1e3, bytes = s.bytes / s.runs;
        std::printf("%-44s %12.1f %7.0f %9.2f %7.3fx %6s\n", s.label.c_str(), ms, raw_mb / (ms / 1e3), bytes / 1e6,
                    bytes / base_bytes, s.exact ? "yes" : "NO");
    }
}

}  // namespace

int main(int argc, char** argv) {
    ::signal(SIGPIPE, SIG_IGN);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const bool master = argc > 1 && std::string(argv[1]) == "master";
    const int rounds = argc > 1 + master ? std::max(1, std::atoi(argv[1 + master])) : 3;
    if (master) {
        std::printf("# the lossless master's encoder (ffmpeg's FFV1, the capture's settings), processor ms per frame\n"
                    "# of the whole process, size against today's settings, exact decode back\n");
        bench_master(1280, 720, rounds);
        bench_master(1920, 1080, rounds);
        return 0;
    }
    std::printf("# PNG encoding per thread: processor ms per frame (one thread; the peer's whole process), MB of\n"
                "# pixels per processor second, wall ms, mean file size, size and speed against the encoder of\n"
                "# before, and whether every file decodes (FreeImage) to exactly the frame's pixels\n");
    bench_size(1280, 720, rounds);
    bench_size(1920, 1080, rounds);
    return 0;
}
