// Live-reload latency of the development mode: from the moment a writer closes a changed file
// to the end of the first frame drawn (and presented) with the change, for an edit of the
// track source, an edit of a shader, and a rebuilt scene module (copied into place: loading,
// not compiling). The show's data runs in the development loop on this machine's GL, playing;
// a writer thread changes the files at random moments within frames. Each figure is split
// into the wait for the frame under way when the file closed and the frame with the change.
// Two shows: versewall itself (program edited: "tunnel"), and a light module that draws
// nothing (program edited: "default_shader"), whose frames are as short as the loop makes them.
// Last, a 16-megapixel image saved over one the show uses ("la.png"; "default_white.png" for the
// light module), a few times: the worst gap between two frames from the writer's close until
// the texture has taken it, against the gaps of as many frames without a reload.
//   reload_latency_bench [ROUNDS]                 (default 10 of each; runs both shows)
//   reload_latency_bench --show|--light [ROUNDS]
// Without a display it uses SDL's offscreen driver; without a sound card SDL's dummy audio.
#include <FreeImage.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gfx/context/gfx_context.h"
#include "host/app/demo_host.h"
#include "host/dev/dev_session.h"
#include "host/modules/module_manager.h"
#include "host/sync/sync_device.h"

namespace {

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes the file as an editor does, and returns the moment it was closed.
clock_type::time_point write_file(const std::string& path, const std::string& bytes) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    return clock_type::now();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct cFigures {
    std::vector<double> total;       // close -> the end of the frame with the change
    std::vector<double> waiting;     // close -> the start of that frame
    std::vector<double> with_change; // that frame, the reload included
    void print(const char* what) const {
        if (total.empty()) {
            std::printf("  %-18s no change was seen\n", what);
            return;
        }
        std::printf("  %-18s n=%2zu  median %6.1f ms  max %6.1f ms  = waiting for the frame under way %6.1f ms + the "
                    "frame with the change %6.1f ms (medians)\n",
                    what, total.size(), median(total), *std::max_element(total.begin(), total.end()), median(waiting),
                    median(with_change));
    }
};

// Runs this program again for one show, so each show has a process (and an audio device) of
// its own.
int run_child(const char* self, const char* which, const std::string& rounds) {
    const std::string command = std::string("\"") + self + "\" " + which + " " + rounds;
    return std::system(command.c_str());
}

// ---- a 16-megapixel image ----

// A 32-bit PNG of width x height with content that compresses as a photograph might; seed
// makes another content of the same kind.
std::string large_png(int width, int height, unsigned seed) {
    FIBITMAP* bitmap = FreeImage_Allocate(width, height, 32);
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y) {
        BYTE* row = FreeImage_GetScanLine(bitmap, y);
        for (int x = 0; x < width * 4; ++x) row[x] = static_cast<BYTE>((x / 4 + y) / 16 + (random() & 15));
    }
    FIMEMORY* memory = FreeImage_OpenMemory();
    FreeImage_SaveToMemory(FIF_PNG, bitmap, memory, PNG_Z_BEST_SPEED);
    BYTE* data = nullptr;
    DWORD size = 0;
    FreeImage_AcquireMemory(memory, &data, &size);
    std::string bytes(reinterpret_cast<const char*>(data), size);
    FreeImage_CloseMemory(memory);
    FreeImage_Unload(bitmap);
    return bytes;
}

struct cGapFigures {
    std::vector<double> worst_gap;  // the longest time between two frames, per round
    std::vector<double> quiet_gap;  // the same over as many frames right after, without a reload
    std::vector<double> total;      // close -> the end of the first frame after the reload's note
    double frame_ms = 0.0;          // the median time between frames before the rounds
};

// Saves a 16-megapixel image (4096 x 4096, two contents in turn) over image_path, running
// frames until the player has noted the reload, and 3 more, measuring the gaps between frames
// meanwhile; then as many frames again without a reload, for the gaps this machine makes
// anyway. reloads_seen: how many reloads of the file the player has noted so far.
cGapFigures image_reload_gaps(cDevSession& session, const std::string& image_path, int rounds,
                              const std::function<size_t()>& reloads_seen) {
    cGapFigures figures;
    auto now_ms = [] { return std::chrono::duration<double, std::milli>(clock_type::now().time_since_epoch()).count(); };
    std::vector<double> gaps;
    double last = now_ms();
    for (int i = 0; i < 60; ++i) {
        session.run_frame();
        const double at = now_ms();
        gaps.push_back(at - last);
        last = at;
    }
    figures.frame_ms = median(gaps);

    const std::string original = slurp(image_path);
    const std::string images[2] = {large_png(4096, 4096, 1), large_png(4096, 4096, 2)};
    // Frames until one more reload is noted, and 3 more; the number of frames (0: none came).
    auto run_until_reloaded = [&](double& worst, double& taken_at) {
        const size_t before = reloads_seen();
        const auto give_up = clock_type::now() + std::chrono::seconds(120);
        double previous = now_ms();
        int frames = 0;
        int after = -1;
        while (clock_type::now() < give_up && after != 0) {
            session.run_frame();
            ++frames;
            const double at = now_ms();
            worst = std::max(worst, at - previous);
            previous = at;
            if (after < 0 && reloads_seen() > before) {
                taken_at = at;
                after = 3;
            } else if (after > 0) {
                --after;
            }
        }
        return after == 0 ? frames : 0;
    };
    for (int i = 0; i < rounds; ++i) {
        const double closed =
            std::chrono::duration<double, std::milli>(write_file(image_path, images[i % 2]).time_since_epoch()).count();
        double worst = 0.0, taken_at = 0.0;
        const int frames = run_until_reloaded(worst, taken_at);
        if (frames == 0) break;
        figures.worst_gap.push_back(worst);
        figures.total.push_back(taken_at - closed);
        double quiet = 0.0, previous = now_ms();
        for (int k = 0; k < frames; ++k) {
            session.run_frame();
            const double at = now_ms();
            quiet = std::max(quiet, at - previous);
            previous = at;
        }
        figures.quiet_gap.push_back(quiet);
    }
    write_file(image_path, original);
    double ignored_worst = 0.0, ignored_at = 0.0;
    run_until_reloaded(ignored_worst, ignored_at);
    return figures;
}

void print_image_gaps(const cGapFigures& figures) {
    if (figures.worst_gap.empty()) {
        std::printf("  %-18s the player never noted the reload\n", "16-MP image");
        return;
    }
    std::string during, quiet;
    char figure[32];
    for (size_t i = 0; i < figures.worst_gap.size(); ++i) {
        std::snprintf(figure, sizeof figure, "%s%.1f", i ? " " : "", figures.worst_gap[i]);
        during += figure;
        std::snprintf(figure, sizeof figure, "%s%.1f", i ? " " : "", figures.quiet_gap[i]);
        quiet += figure;
    }
    std::printf("  %-18s n=%2zu  worst frame gap per save: %s ms; over as many frames after it, without a reload: %s "
                "ms (frame time %.1f ms, two: %.1f ms); on screen after %6.1f ms (median)\n",
                "16-MP image", figures.worst_gap.size(), during.c_str(), quiet.c_str(), figures.frame_ms,
                2.0 * figures.frame_ms, median(figures.total));
}

}  // namespace

int main(int argc, char** argv) {
    std::string which = argc > 1 ? argv[1] : "";
    if (which != "--show" && which != "--light") {
        const std::string rounds = argc > 1 ? argv[1] : "10";
        const int show = run_child(argv[0], "--show", rounds);
        const int light = run_child(argv[0], "--light", rounds);
        return show != 0 || light != 0 ? 1 : 0;
    }
    const bool light = which == "--light";
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
    if (!std::getenv("DISPLAY") && !std::getenv("SDL_VIDEODRIVER")) ::setenv("SDL_VIDEODRIVER", "offscreen", 1);
    if (!std::getenv("SDL_AUDIODRIVER") && !fs::exists("/dev/snd")) ::setenv("SDL_AUDIODRIVER", "dummy", 1);

    // A show directory of its own: the data is copied, so the edits touch nothing of the tree.
    const fs::path show = fs::temp_directory_path() / ("reload-bench-" + std::to_string(::getpid()));
    fs::create_directories(show / "bin/dll_cache");
    fs::copy(std::string(DEMO_SOURCE_DIR) + "/data", show / "data", fs::copy_options::recursive);
    const std::string built_module = light ? DEMO_LIGHT_MODULE : std::string(DEMO_SHOW_DIR) + "/bin/render_versewall.so";
    const std::string module_file = "bin/" + fs::path(built_module).filename().string();
    fs::copy_file(built_module, show / module_file);
    if (light) {
        // The light module is drawn for the whole show.
        const char key[13] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, static_cast<char>(0x80), 0x3f, 0};
        std::ofstream(show / "data/sync/_scene_bench.track", std::ios::binary).write(key, sizeof key);
    }
    if (::chdir(show.c_str()) != 0) return 1;

    // The show's own console lines would drown the figures.
    std::ostringstream swallowed;
    std::streambuf* out_buffer = std::cout.rdbuf(swallowed.rdbuf());
    std::streambuf* err_buffer = std::cerr.rdbuf(swallowed.rdbuf());
    auto* host = new cDemoHost();
    cStartupOptions startup;
    startup.fullscreen = false;
    startup.stand_in_images = true;  // as the development mode starts
    host->start_up(startup);
    auto* session = new cDevSession(*host, cDevOptions{});
    session->start();
    for (int i = 0; i < 30; ++i) session->run_frame();  // warm: every program made, frame rate known

    std::mt19937 random(12345);
    // Runs frames until seen() after a frame, with a writer thread doing its change at a random
    // moment; the latency is from its close to the end of that frame.
    auto measure = [&](const std::function<clock_type::time_point()>& change, const std::function<bool()>& seen,
                       cFigures& figures) {
        std::atomic<bool> written{false};
        clock_type::time_point closed;
        const int delay_us = std::uniform_int_distribution<int>(0, 40000)(random);
        std::thread writer([&] {
            std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
            closed = change();
            written = true;
        });
        const auto give_up = clock_type::now() + std::chrono::seconds(10);
        bool ok = false;
        clock_type::time_point frame_start;
        while (clock_type::now() < give_up) {
            frame_start = clock_type::now();
            session->run_frame();
            if (written && seen()) {
                ok = true;
                break;
            }
        }
        const auto drawn = clock_type::now();
        writer.join();
        auto ms = [](clock_type::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
        if (ok) {
            figures.total.push_back(ms(drawn - closed));
            figures.waiting.push_back(std::max(0.0, ms(frame_start - closed)));
            figures.with_change.push_back(ms(drawn - frame_start));
        }
        for (int i = 0; i < 3; ++i) session->run_frame();  // settle before the next round
    };

    cFigures tracks, shaders, modules;
    const std::string source_path = "data/sync/show.tracks";
    const std::string source = slurp(source_path);
    const std::string kick_line = "track kick\n";
    for (int i = 0; i < rounds; ++i) {
        // A new first key for "kick" (a value it never has otherwise): the value at -1000 ms.
        const float value = 10.0f + static_cast<float>(i);
        std::string edited = source;
        const size_t at = edited.find(kick_line);
        edited.insert(at + kick_line.size(), "  -24:0 " + std::to_string(static_cast<int>(value)) + " step\n");
        const int64_t before = -1000 * 8;
        measure([&] { return write_file(source_path, edited); },
                [&] { return host->sync->get_value("kick", before) == value; }, tracks);
    }

    const std::string program = light ? "default_shader" : "tunnel";
    const std::string shader_path = light ? "data/shaders/default.frag" : "data/shaders/tunnel.frag";
    const std::string shader = slurp(shader_path);
    auto& programs = static_cast<gfxContext*>(host->gfx)->shaders();
    for (int i = 0; i < rounds; ++i) {
        const uint32_t old = programs.find(program) ? programs.find(program)->program : 0;
        measure([&] { return write_file(shader_path, shader + "// edit " + std::to_string(i) + "\n"); },
                [&] { return programs.find(program) && programs.find(program)->program != old; }, shaders);
    }

    const std::string library = slurp(built_module);
    for (int i = 0; i < rounds; ++i) {
        const cRenderModuleBase* old = host->modules->modules().front()->scene;
        measure([&] { return write_file(module_file, library); },
                [&] { return host->modules->modules().front()->scene != old; }, modules);
    }

    const std::string image_path = light ? "data/textures/default_white.png" : "data/textures/la.png";
    const std::string image_note = "# note: reloaded \"" + image_path + "\"";
    const cGapFigures image_gaps = image_reload_gaps(*session, image_path, std::max(4, rounds / 2), [&] {
        const std::string text = swallowed.str();
        size_t count = 0;
        for (size_t at = text.find(image_note); at != std::string::npos; at = text.find(image_note, at + 1)) ++count;
        return count;
    });

    const double frame_ms = session->readout().frame_ms();
    std::cout.rdbuf(out_buffer);
    std::cerr.rdbuf(err_buffer);
    std::printf("# reload latency, %s: from the writer's close to the end of the first frame drawn with the change\n",
                light ? "a light module that draws nothing" : "the show (versewall)");
    std::printf("  frame time while playing: %.1f ms on %s\n", frame_ms, host->window.renderer.c_str());
    tracks.print("track source edit");
    shaders.print("shader edit");
    modules.print("rebuilt module");
    print_image_gaps(image_gaps);
    std::error_code ignored;
    fs::remove_all(show, ignored);
    std::fflush(stdout);
    std::_Exit(0);  // the show is never torn down: its threads and GL go with the process
}
