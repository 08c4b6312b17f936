// Cost of a whole versewall frame at 1280 x 720 on this machine's GL (Mesa's software rasteriser
// through SDL's offscreen driver unless another driver is chosen), at show times that switch the
// tunnel and the duck on, against the floor: the frame's own count of full-screen and reduced
// passes drawn through the same context with a one-fetch copy, timed in pairs with the frames so
// that a ratio survives a busy machine. Prints medians, the spread of the ratios, the machine's
// load and where the time goes. Runs the host's real start-up in the build's show directory;
// writes nothing into data/.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "gfx/context/gfx_context.h"
#include "gfx/gl/gl_entry_points.h"
#include "host/app/demo_host.h"
#include "host/modules/module_input.h"
#include "host/modules/module_manager.h"
#include "host/sync/sync_device.h"
#include "render_module_base.h"
#include "support/temp_dir.h"
#include "support/observing_context.h"

namespace {

constexpr int default_frames = 201;  // per measurement; odd, so the median is one frame
constexpr int warm_up_frames = 5;

using clock_type = std::chrono::steady_clock;
double ms_since(clock_type::time_point start) {
    return std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
}
double median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
    return v[v.size() / 2];
}
double quantile(std::vector<double> v, double q) {
    const auto at = v.begin() + static_cast<long>(q * static_cast<double>(v.size() - 1) + 0.5);
    std::nth_element(v.begin(), at, v.end());
    return *at;
}
double process_cpu_ms() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) * 1e-6;
}
// The machine's load averages over 1, 5 and 15 minutes, as /proc/loadavg gives them.
std::string machine_load() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    if (!(in >> one >> five >> fifteen)) return "unknown";
    return one + " " + five + " " + fifteen;
}

// Wall-clock and processor time (all of the process's threads, the rasteriser's included) of
// one call of f, finished with glFinish, in ms.
struct cTimes {
    double wall = 0.0, cpu = 0.0;
};
cTimes finished(const std::function<void()>& f) {
    const double cpu_start = process_cpu_ms();
    const auto start = clock_type::now();
    f();
    glFinish();
    return {ms_since(start), process_cpu_ms() - cpu_start};
}

// Frame and floor timed as pairs: medians of each and of the pairs' ratios, with the spread of
// the ratios (the middle half of the pairs lies between the quartiles).
struct cPairs {
    std::vector<double> frame, floor, frame_cpu, floor_cpu, ratio, cpu_ratio;
    void add(const cTimes& f, const cTimes& fl) {
        frame.push_back(f.wall);
        floor.push_back(fl.wall);
        frame_cpu.push_back(f.cpu);
        floor_cpu.push_back(fl.cpu);
        ratio.push_back(f.wall / fl.wall);
        cpu_ratio.push_back(f.cpu / fl.cpu);
    }
};

struct cScenario {
    const char* label;
    int32_t time_ms;
};
// Times picked from data/sync/show.tracks: verse 1 (words, tunnel and duck off), the tunnel
// section (tunnel at 0.85), the ending (tunnel and duck).
constexpr cScenario show_scenarios[] = {
    {"words", 12000}, {"words + tunnel", 50000}, {"words + tunnel + duck", 80000}};

// Pass groups, by the program a pass uses; the host's clear and the scene target's clear
// count with the words.
const char* group_of(const std::string& program) {
    if (program == "text") return "words + circle";
    if (program == "modulate_comp") return "vignette";
    if (program == "downsample" || program == "levels" || program == "dir_blur" || program == "add_comp")
        return "glow chain";
    if (program == "passthrough") return "passthrough";
    if (program == "tunnel") return "tunnel";
    if (program == "duck") return "duck";
    return "other";
}
constexpr const char* group_order[] = {"words + circle", "vignette", "glow chain", "passthrough", "tunnel", "duck"};

// One frame of the scene through the observing wrapper, as the host's render pass draws it.
void observed_frame(cDemoHost& host, cRenderModuleBase* scene, versewall_test::cObservingContext& observer) {
    cModuleInput input(&observer, host.sync, &host.sound);
    observer.calls.clear();
    host.gfx->clear();
    host.gfx->push_state();
    scene->render(&input);
    host.gfx->pop_state();
}

// Full-screen passes of one frame by destination size: {width, height} -> count.
std::map<std::pair<int, int>, int> count_passes(const versewall_test::cObservingContext& observer) {
    std::map<int, std::pair<int, int>> size_of = {{0, {1280, 720}}};
    for (const auto& c : observer.calls)
        if (c.op == "acquire") size_of[c.numbers[0]] = {c.numbers[1], c.numbers[2]};
    std::map<std::pair<int, int>, int> passes;
    for (const auto& c : observer.calls)
        if (c.op.rfind("draw_fullscreen_quad", 0) == 0) ++passes[size_of.at(c.framebuffer)];
    return passes;
}

constexpr const char* floor_vert =
    "#version 330\nlayout(location = 0) in vec4 position;\nlayout(location = 2) in vec2 texcoord;\n"
    "out vec2 uv;\nvoid main() { uv = texcoord; gl_Position = position; }\n";
constexpr const char* floor_frag =
    "#version 330\nuniform sampler2DRect tex0;\nin vec2 uv;\nout vec4 frag_color;\n"
    "void main() { frag_color = texture(tex0, uv); }\n";

// The floor: draws count passes per size through the context with the one-fetch program,
// ping-ponging between two targets of each size, after the window's and one full target's clear.
class cFloor {
public:
    cFloor(gfxContext& gfx, const std::map<std::pair<int, int>, int>& passes) : gfx_(gfx) {
        gfx.load_shader("bench_floor", dir_.write("floor.vert", floor_vert), dir_.write("floor.frag", floor_frag));
        for (const auto& [size, count] : passes)
            sizes_.push_back({count, gfx.acquire_render_target(size.first, size.second),
                              gfx.acquire_render_target(size.first, size.second)});
    }
    // between(label), when given, is called before the clears and before each pass, labelled with
    // the pass's destination size, so that a caller can time them apart.
    void frame(const std::function<void(const std::string&)>& between = nullptr) {
        if (between) between("clears");
        gfx_.clear();
        gfx_.push_state();
        cRenderState* state = gfx_.state();
        state->set_depth_test(false);
        state->set_depth_write(false);
        state->set_face_culling(false);
        state->set_blending(false);
        gfx_.use_shader("bench_floor");
        bool cleared = false;
        for (auto& s : sizes_) {
            for (int i = 0; i < s.count; ++i) {
                if (between) {
                    const cTexture* t = s.to.target->texture();
                    between(std::to_string(t->width) + "x" + std::to_string(t->height));
                }
                const bool full = s.to.target->texture()->width == 1280;
                s.to.target->bind(gfx_, full && !cleared ? 1 : 0);
                cleared = cleared || full;
                gfx_.set_texture("bench_floor", "tex0", s.from.target->texture());
                gfx_.draw_fullscreen_quad_tex(s.from.target->texture());
                s.to.target->unbind(gfx_);
                std::swap(s.from, s.to);
            }
        }
        gfx_.pop_state();
    }

private:
    struct cSize {
        int count;
        cRenderTargetLease from, to;
    };
    gfxContext& gfx_;
    cTempDir dir_;
    std::vector<cSize> sizes_;
};

}  // namespace

// versewall_frame_bench [--passes | --ratios] [--frames N] [--at MS] [SHOW_DIR]: --passes times
// every pass on its own instead of by group, --ratios leaves the time by group out; N pairs per
// measurement (default 201); --at measures the one show time MS instead of the three; SHOW_DIR
// (default: the build's show directory) is where bin/ and data/ are found.
int main(int argc, char** argv) {
    bool by_pass = false;
    bool breakdown = true;
    std::vector<cScenario> scenarios(std::begin(show_scenarios), std::end(show_scenarios));
    int frames = default_frames;
    std::string show_dir = DEMO_BENCH_SHOW_DIR;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--passes") by_pass = true;
        else if (arg == "--ratios") breakdown = false;
        else if (arg == "--at" && i + 1 < argc) scenarios = {{"chosen time", std::atoi(argv[++i])}};
        else if (arg == "--frames" && i + 1 < argc) frames = std::max(1, std::atoi(argv[++i]));
        else show_dir = arg;
    }
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    if (chdir(show_dir.c_str()) != 0) {
        std::fprintf(stderr, "## ERROR: cannot enter the show directory \"%s\"\n", show_dir.c_str());
        return 1;
    }
    auto* host = new cDemoHost();  // kept to the end of the process, as the player keeps it
    cStartupOptions options;
    options.audio_device = 0;
    options.fullscreen = false;
    options.show_window = false;
    host->start_up(options);
    cRenderModuleBase* scene = nullptr;
    for (const auto& module : host->modules->modules())
        if (module->scene && std::string(module->scene->name()) == "scene_karaoke") scene = module->scene;
    if (!scene || host->sound.stream == 0) {
        std::fprintf(stderr, "## ERROR: the show did not start with versewall and its music\n");
        return 1;
    }
    auto* gfx = static_cast<gfxContext*>(host->gfx);
    versewall_test::cObservingContext observer(*gfx);

    // The frame's full-screen passes by size, counted as the scene draws them (the same at every
    // time: only the words, the circle and the duck come and go).
    host->sound.set_position_ms(show_scenarios[0].time_ms);
    observed_frame(*host, scene, observer);
    const std::map<std::pair<int, int>, int> passes = count_passes(observer);
    cFloor floor(*gfx, passes);

    struct cResult {
        cPairs pairs;
        std::map<std::string, cTimes> groups, floor_groups;
    };
    std::vector<cResult> results;
    const std::string load_before = machine_load();
    for (const auto& s : scenarios) {
        host->sound.set_position_ms(s.time_ms);
        cResult r;
        // A scene frame and a floor frame make a pair, taken in turn frame-first and floor-first,
        // so that both halves of a pair see the same load of the machine; the ratio is the pair's.
        for (int i = 0; i < warm_up_frames + frames; ++i) {
            cTimes frame, floor_times;
            if (i % 2 == 0) {
                frame = finished([&] { host->render_pass(); });
                floor_times = finished([&] { floor.frame(); });
            } else {
                floor_times = finished([&] { floor.frame(); });
                frame = finished([&] { host->render_pass(); });
            }
            if (i >= warm_up_frames) r.pairs.add(frame, floor_times);
        }

        if (!breakdown) {
            results.push_back(r);
            continue;
        }
        // Instrumented: glFinish wherever the program changes group (or at every program, by
        // pass: labelled with its place in the frame); the median of each.
        std::map<std::string, std::vector<double>> wall_samples, cpu_samples, floor_wall, floor_cpu;
        std::map<std::string, cTimes> this_frame;
        std::string group;
        int pass = 0;
        auto start = clock_type::now();
        double cpu_start = process_cpu_ms();
        auto switch_to = [&](const std::string& next) {
            glFinish();
            this_frame[group].wall += ms_since(start);
            this_frame[group].cpu += process_cpu_ms() - cpu_start;
            group = next;
            cpu_start = process_cpu_ms();
            start = clock_type::now();
        };
        observer.on_call = [&](const versewall_test::cCall& c) {
            if (c.op != "use_shader") return;
            if (by_pass) {
                char label[64];
                std::snprintf(label, sizeof label, "%2d %s", ++pass, c.name.c_str());
                switch_to(label);
            } else if (group_of(c.name) != group) {
                switch_to(group_of(c.name));
            }
        };
        for (int i = 0; i < warm_up_frames + frames; ++i) {
            this_frame.clear();
            glFinish();
            pass = 0;
            group = by_pass ? " 0 clears" : "words + circle";
            cpu_start = process_cpu_ms();
            start = clock_type::now();
            observed_frame(*host, scene, observer);
            switch_to("");
            if (i < warm_up_frames) continue;
            if (!by_pass)
                for (const char* g : group_order) this_frame[g];  // a group that did not run takes 0
            for (const auto& [g, times] : this_frame) {
                if (g.empty()) continue;
                wall_samples[g].push_back(times.wall);
                cpu_samples[g].push_back(times.cpu);
            }
            // The floor's frame in the same way, its passes summed by destination size.
            this_frame.clear();
            glFinish();
            group = "";
            cpu_start = process_cpu_ms();
            start = clock_type::now();
            floor.frame(switch_to);
            switch_to("");
            for (const auto& [g, times] : this_frame) {
                if (g.empty()) continue;
                floor_wall[g].push_back(times.wall);
                floor_cpu[g].push_back(times.cpu);
            }
        }
        observer.on_call = nullptr;
        for (const auto& [g, v] : wall_samples) r.groups[g] = {median(v), median(cpu_samples[g])};
        for (const auto& [g, v] : floor_wall) r.floor_groups[g] = {median(v), median(floor_cpu[g])};
        results.push_back(r);
    }

    const std::string load_after = machine_load();

    // ---- figures ----
    int pass_total = 0;
    for (const auto& [size, count] : passes) pass_total += count;
    std::printf("# versewall frame bench: 1280x720, %s, %d pairs of frames per show time, glFinish per frame\n",
                host->window.renderer.c_str(), frames);
    std::printf("# frame: the host's render pass (clear, push, render, pop), no swap\n");
    std::printf("# floor: the frame's %d full-screen passes (", pass_total);
    for (const auto& [size, count] : passes) std::printf(" %dx%d: %d", size.first, size.second, count);
    std::printf(" ) with one filtered fetch each, the window's and one target's clear\n");
    std::printf("# pairs: a frame and a floor frame timed one after the other, frame-first and floor-first in turn\n");
    std::printf("# ratio: the median of the pairs' frame / floor (target: 1.25 or less), with the quartiles of\n");
    std::printf("#        the pairs' ratios; by processor time (every thread of the process, the rasteriser's\n");
    std::printf("#        included), the figure to steer by on a shared machine, and by the wall clock, which\n");
    std::printf("#        also counts the waits for a processor that other programs hold; a busy machine\n");
    std::printf("#        slows the floor's plain copies more than the frame's arithmetic, so compare runs\n");
    std::printf("#        taken under a like load\n");
    std::printf("# load (1, 5, 15 min, /proc/loadavg): %s before, %s after\n", load_before.c_str(),
                load_after.c_str());
    for (size_t i = 0; i < results.size(); ++i) {
        const auto& r = results[i];
        host->sound.set_position_ms(scenarios[i].time_ms);
        const int64_t t = host->sound.position_ms();
        std::printf("\n%s at %.1f s (numwords %.2f, tunnel %.2f, draw_duck %.0f)\n", scenarios[i].label,
                    scenarios[i].time_ms / 1000.0, host->sync->get_value("numwords", t),
                    host->sync->get_value("tunnel", t), host->sync->get_value("draw_duck", t));
        const cPairs& p = r.pairs;
        std::printf("  processor time: ratio %.2f (quartiles %.2f-%.2f)   frame %7.2f ms   floor %7.2f ms\n",
                    median(p.cpu_ratio), quantile(p.cpu_ratio, 0.25), quantile(p.cpu_ratio, 0.75),
                    median(p.frame_cpu), median(p.floor_cpu));
        std::printf("  wall clock:     ratio %.2f (quartiles %.2f-%.2f)   frame %7.2f ms   floor %7.2f ms\n",
                    median(p.ratio), quantile(p.ratio, 0.25), quantile(p.ratio, 0.75), median(p.frame),
                    median(p.floor));
        if (!breakdown) continue;
        std::printf("  by %s (glFinish between them, medians):  wall ms  processor ms\n",
                    by_pass ? "pass" : "pass group");
        if (by_pass) {
            for (const auto& [g, t] : r.groups) std::printf("    %-16s %7.2f %7.2f\n", g.c_str(), t.wall, t.cpu);
        } else {
            for (const char* g : group_order)
                std::printf("    %-16s %7.2f %7.2f\n", g, r.groups.at(g).wall, r.groups.at(g).cpu);
        }
        std::printf("  the floor's passes by destination size (glFinish between them, medians):\n");
        for (const auto& [g, t] : r.floor_groups) std::printf("    %-16s %7.2f %7.2f\n", g.c_str(), t.wall, t.cpu);
    }
    return 0;
}
