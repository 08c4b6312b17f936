// Live-reload latency of the development mode: from the moment a writer closes a changed file
// to the end of the first frame drawn (and presented) with the change, for an edit of the
// track source, an edit of a shader, and a rebuilt scene module (copied into place: loading,
// not compiling). The show's data runs in the development loop on this machine's GL, playing;
// a writer thread changes the files at random moments within frames. Each figure is split
// into the wait for the frame under way when the file closed and the frame with the change.
// Two shows: versewall itself (program edited: "tunnel"), and a light module that draws
// nothing (program edited: "default_shader"), whose frames are as short as the loop makes them.
// Then the frames themselves while heavy changes come in: the worst gap between two frames
// while a 50 MB track source is reloaded, while a burst of 1,000 file events (every shader
// and track file touched over and over) is taken, and while 12 slow clients hold connections
// to the browser editor (with how long a page's request and the editor's stop take
// meanwhile); the target is no gap beyond two frame times. Last, a 16-megapixel image saved
// over one the show uses ("la.png"; "default_white.png" for the light module), a few times: the
// worst gap between two frames from the writer's close until the texture has taken it, against
// the gaps of as many frames without a reload.
//   reload_latency_bench [ROUNDS]                 (default 10 of each; runs both shows)
//   reload_latency_bench --show|--light [ROUNDS]
// Without a display it uses SDL's offscreen driver; without a sound card SDL's dummy audio.
#include <FreeImage.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
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

#include "base/files/file_read.h"
#include "gfx/context/gfx_context.h"
#include "host/app/demo_host.h"
#include "host/show/host_constants.h"
#include "authoring/dev/dev_session.h"
#include "authoring/editor/editor_server.h"
#include "host/modules/module_manager.h"
#include "host/sync/sync_device.h"

namespace {

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

std::string slurp(const std::string& path) {
    std::string bytes;
    read_whole_file(path, bytes, cReadOptions{});
    return bytes;
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

// The frames drawn while a change is taken: the gaps between the ends of consecutive frames
// (how long one picture stays on screen), from a few frames before the change to a few after.
struct cGaps {
    std::vector<double> gaps;
    // The main thread's processor time in each frame: the work the frame loop did itself, which
    // a busy machine does not stretch the way it stretches the gaps (the GL's own threads and
    // the waits on them are not in it).
    std::vector<double> main_cpu;
    double reload_ms = 0.0;  // from the writer's start to the frame that showed it was done
    size_t console_lines = 0;
    bool seen = false;
    void print(const char* what, double frame_ms) const {
        if (gaps.empty()) {
            std::printf("  %-28s no frames\n", what);
            return;
        }
        const double worst = *std::max_element(gaps.begin(), gaps.end());
        std::printf("  %-28s worst frame gap %7.1f ms (%s2 frame times), median %5.1f ms over %zu frames; "
                    "main thread's worst frame %6.1f ms of processor time; %s after %.0f ms; %zu console lines\n",
                    what, worst, worst <= 2.0 * frame_ms ? "within " : "BEYOND ", median(gaps), gaps.size(),
                    *std::max_element(main_cpu.begin(), main_cpu.end()), seen ? "done" : "NOT done", reload_ms,
                    console_lines);
    }
};

size_t line_count(const std::ostringstream& console) {
    const std::string text = console.str();
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Runs frames while writer runs on a thread of its own, until seen() holds once it is done
// (or 30 s), then for linger seconds more.
cGaps frames_during(cDevSession& session, const std::ostringstream& console, const std::function<void()>& writer,
                    const std::function<bool()>& seen, double linger_seconds) {
    cGaps figures;
    const size_t lines_before = line_count(console);
    for (int i = 0; i < 5; ++i) session.run_frame();
    std::atomic<bool> written{false};
    const auto started = clock_type::now();
    std::thread thread([&] {
        writer();
        written = true;
    });
    auto last = clock_type::now();
    auto ms = [](clock_type::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
    const auto give_up = started + std::chrono::seconds(30);
    clock_type::time_point until = give_up;
    auto thread_cpu_ms = [] {
        timespec t{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
    };
    while (clock_type::now() < until) {
        const double cpu_before = thread_cpu_ms();
        session.run_frame();
        figures.main_cpu.push_back(thread_cpu_ms() - cpu_before);
        const auto now = clock_type::now();
        figures.gaps.push_back(ms(now - last));
        last = now;
        if (!figures.seen && written && seen()) {
            figures.seen = true;
            figures.reload_ms = ms(now - started);
            until = now + std::chrono::duration_cast<clock_type::duration>(std::chrono::duration<double>(linger_seconds));
        }
    }
    thread.join();
    figures.console_lines = line_count(console) - lines_before;
    return figures;
}

// A track source of about 50 MB: the show's own, and a track of two million keys after it.
// Each round gives the track another first value, which is what the frames wait for.
cGaps big_source_gaps(cDemoHost& host, cDevSession& session, const std::ostringstream& console, int rounds) {
    const std::string path = "data/sync/show.tracks";
    const std::string source = slurp(path);
    std::string keys;
    for (int row = 1; keys.size() < 50u * 1000u * 1000u; ++row) {
        keys += "  r" + std::to_string(row) + " " + std::to_string(row % 1000) + ".25 linear\n";
    }
    cGaps all;
    for (int round = 0; round < rounds; ++round) {
        const float first = 1000.0f + static_cast<float>(round);
        const std::string text = source + "\ntrack bench_big\n  r0 " + std::to_string(static_cast<int>(first)) +
                                 " linear\n" + keys;
        const cGaps one = frames_during(
            session, console, [&] { write_file(path, text); },
            [&] { return host.sync->get_value("bench_big", 0) == first; }, 0.5);
        all.gaps.insert(all.gaps.end(), one.gaps.begin(), one.gaps.end());
        all.main_cpu.insert(all.main_cpu.end(), one.main_cpu.begin(), one.main_cpu.end());
        all.reload_ms = std::max(all.reload_ms, one.reload_ms);
        all.console_lines += one.console_lines;
        all.seen = round == 0 ? one.seen : all.seen && one.seen;
    }
    write_file(path, source);
    for (int i = 0; i < 60; ++i) session.run_frame();
    return all;
}

// 1,000 file events over about a second, as a loop of touch in a shell makes them: every
// shader and track file of the show touched (opened for writing, its time set, closed) in
// turn, each about every 40 ms. The frames run until the burst is over, and two seconds more.
cGaps file_burst_gaps(cDevSession& session, const std::ostringstream& console) {
    std::vector<std::string> files;
    for (const char* folder : {"data/shaders", "data/sync"}) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            if (name.ends_with(".track") || std::string(folder) == "data/shaders") files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return frames_during(
        session, console,
        [&] {
            for (int i = 0; i < 1000; ++i) {
                const int fd = ::open(files[static_cast<size_t>(i) % files.size()].c_str(), O_WRONLY | O_CLOEXEC);
                if (fd < 0) continue;
                ::futimens(fd, nullptr);
                ::close(fd);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        },
        [] { return true; }, 2.0);
}

// Runs this program again for one show, so each show has a process (and an audio device) of
// its own.
int run_child(const char* self, const char* which, const std::string& rounds) {
    const std::string command = std::string("\"") + self + "\" " + which + " " + rounds;
    return std::system(command.c_str());
}

// ---- slow clients at the editor ----

int connect_loopback(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Gaps between the ends of successive frames over some seconds of play.
struct cGapList {
    std::vector<double> ms;
    void add(const cGapList& more) { ms.insert(ms.end(), more.ms.begin(), more.ms.end()); }
    double worst() const { return ms.empty() ? 0.0 : *std::max_element(ms.begin(), ms.end()); }
    double percentile(double p) const {
        if (ms.empty()) return 0.0;
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        return sorted[std::min(sorted.size() - 1, static_cast<std::size_t>(p * static_cast<double>(sorted.size())))];
    }
    std::size_t beyond(double limit) const {
        return static_cast<std::size_t>(std::count_if(ms.begin(), ms.end(), [&](double g) { return g > limit; }));
    }
};

cGapList frame_gaps(cDevSession& session, double seconds) {
    cGapList gaps;
    const auto end = clock_type::now() + std::chrono::duration<double>(seconds);
    session.run_frame();
    auto last = clock_type::now();
    while (clock_type::now() < end) {
        session.run_frame();
        const auto now = clock_type::now();
        gaps.ms.push_back(std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
    }
    return gaps;
}

// The editor on the playing show, 12 clients each sending the head of a request one byte a
// second (reconnecting when the editor lets one go): the frames, a page's request and the
// editor's stop, against the frames without them. Returns the lines to print.
std::string slow_clients_scenario(cDevSession& session) {
    constexpr int kClients = 12;
    cEditorOptions options;
    options.any_free_port = true;
    options.announce = false;
    options.show_end_ms = host_constants::show_end_ms;
    options.music_path = host_constants::music_path;
    std::unique_ptr<cEditorServer> editor = start_editor(options, session.control(), ".");
    if (!editor) return "  slow clients: the editor did not start\n";
    const int port = editor->port();
    const cGapList quiet = frame_gaps(session, 5.0);

    std::atomic<bool> stop{false};
    std::thread slow([&] {
        const std::string head = "GET /api/state HTTP/1.1\r\nX-Slow: ";
        std::vector<int> fds(kClients, -1);
        std::vector<std::size_t> sent(kClients, 0);
        while (!stop) {
            for (int i = 0; i < kClients; ++i) {
                char byte = 0;
                if (fds[i] >= 0 && ::recv(fds[i], &byte, 1, MSG_DONTWAIT) == 0) {
                    ::close(fds[i]);
                    fds[i] = -1;
                }
                if (fds[i] < 0) {
                    fds[i] = connect_loopback(port);
                    sent[i] = 0;
                }
                byte = sent[i] < head.size() ? head[sent[i]] : 'a';
                ++sent[i];
                ::send(fds[i], &byte, 1, MSG_NOSIGNAL);
            }
            for (int t = 0; t < 20 && !stop; ++t) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        for (int fd : fds) ::close(fd);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const cGapList busy = frame_gaps(session, 5.0);

    // A page's request meanwhile, from the first byte sent to the last byte of the answer.
    double request_ms = -1.0;
    std::string first_line;
    std::thread page([&] {
        const auto start = clock_type::now();
        int fd = connect_loopback(port);
        const std::string request = "GET /api/state?token=" + editor->token() + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                                    std::to_string(port) + "\r\nConnection: close\r\n\r\n";
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        std::string answer;
        char buffer[65536];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<std::size_t>(n));
        ::close(fd);
        request_ms = std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
        first_line = answer.substr(0, answer.find('\r'));
    });
    const cGapList during_request = frame_gaps(session, 1.0);
    page.join();

    const auto stopping = clock_type::now();
    editor.reset();
    const double stop_ms = std::chrono::duration<double, std::milli>(clock_type::now() - stopping).count();
    stop = true;
    slow.join();

    const double frame_ms = session.readout().frame_ms();
    cGapList held = busy;
    held.add(during_request);
    // On a shared machine the worst gap is mostly other processes: the same figures without
    // the clients tell how much of it is theirs.
    auto line = [&](const char* what, const cGapList& g) {
        char text[256];
        std::snprintf(text, sizeof text,
                      "    %-20s worst gap %6.1f ms = %.2f frame times, 99th percentile %6.1f ms, beyond two frame "
                      "times: %zu of %zu\n",
                      what, g.worst(), frame_ms > 0 ? g.worst() / frame_ms : 0.0, g.percentile(0.99),
                      g.beyond(2 * frame_ms), g.ms.size());
        return std::string(text);
    };
    char text[512];
    std::snprintf(text, sizeof text,
                  "  %d slow clients at the editor (target: no frame gap beyond two frame times, %.1f ms):\n", kClients,
                  2 * frame_ms);
    std::string out = text;
    out += line("without them", quiet);
    out += line("with them", held);
    std::snprintf(text, sizeof text, "    a page's request meanwhile %.1f ms (%s); the editor's stop %.1f ms\n", request_ms,
                  first_line.c_str(), stop_ms);
    out += text;
    return out;
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
    // The rebuilt module is tried in a process of its own by the trial program, as in the show.
    cDevOptions options;
    options.library_probe_program = std::string(DEMO_SHOW_DIR) + "/bin/demoplayer_probe";
    auto* session = new cDevSession(*host, options);
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

    const std::string slow_clients = slow_clients_scenario(*session);
    const std::string image_path = light ? "data/textures/default_white.png" : "data/textures/la.png";
    const std::string image_note = "# note: reloaded \"" + image_path + "\"";
    const cGapFigures image_gaps = image_reload_gaps(*session, image_path, std::max(4, rounds / 2), [&] {
        const std::string text = swallowed.str();
        size_t count = 0;
        for (size_t at = text.find(image_note); at != std::string::npos; at = text.find(image_note, at + 1)) ++count;
        return count;
    });

    const double frame_ms = session->readout().frame_ms();
    // The same frames with nothing changing, for comparison: on a busy machine the gaps are
    // long without any reload too.
    const cGaps quiet = frames_during(*session, swallowed, [] {}, [] { return true; }, 2.0);
    const cGaps big_source = big_source_gaps(*host, *session, swallowed, 2);
    const cGaps burst = file_burst_gaps(*session, swallowed);

    std::cout.rdbuf(out_buffer);
    std::cerr.rdbuf(err_buffer);
    std::printf("# reload latency, %s: from the writer's close to the end of the first frame drawn with the change\n",
                light ? "a light module that draws nothing" : "the show (versewall)");
    std::printf("  frame time while playing: %.1f ms on %s\n", frame_ms, host->window.renderer.c_str());
    tracks.print("track source edit");
    shaders.print("shader edit");
    modules.print("rebuilt module");
    std::printf("# frame gaps while heavy changes are taken (target: at most 2 frame times, %.1f ms)\n", 2.0 * frame_ms);
    quiet.print("nothing changing", frame_ms);
    big_source.print("50 MB track source reload", frame_ms);
    burst.print("burst of 1,000 file events", frame_ms);
    std::fputs(slow_clients.c_str(), stdout);
    print_image_gaps(image_gaps);
    std::error_code ignored;
    fs::remove_all(show, ignored);
    std::fflush(stdout);
    std::_Exit(0);  // the show is never torn down: its threads and GL go with the process
}
