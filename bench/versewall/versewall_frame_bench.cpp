// Cost of a whole versewall frame at 1280 x 720 on this machine's GL (Mesa's software rasteriser
// through SDL's offscreen driver unless another driver is chosen), at show times that switch the
// tunnel and the duck on, against the floor: the frame's own count of full-screen and reduced
// passes drawn through the same context with a one-fetch copy. Prints medians and where the time
// goes. Runs the host's real start-up in the build's show directory; writes nothing into data/.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
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
// Time of one call of f, finished with glFinish, in ms.
double finished_ms(const std::function<void()>& f) {
    const auto start = clock_type::now();
    f();
    glFinish();
    return ms_since(start);
}

struct cScenario {
    const char* label;
    int32_t time_ms;
};
// Times picked from data/sync/show.tracks: verse 1 (words, tunnel and duck off), the tunnel
// section (tunnel at 0.85), the ending (tunnel and duck).
constexpr cScenario scenarios[] = {
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
    void frame() {
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

// versewall_frame_bench [--passes] [--frames N] [SHOW_DIR]: --passes times every pass on its own
// instead of by group; N frames per measurement (default 201); SHOW_DIR (default: the build's
// show directory) is where bin/ and data/ are found.
int main(int argc, char** argv) {
    bool by_pass = false;
    int frames = default_frames;
    std::string show_dir = DEMO_BENCH_SHOW_DIR;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--passes") by_pass = true;
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
    host->sound.set_position_ms(scenarios[0].time_ms);
    observed_frame(*host, scene, observer);
    const std::map<std::pair<int, int>, int> passes = count_passes(observer);
    cFloor floor(*gfx, passes);

    struct cResult {
        double frame_ms, floor_ms;
        std::map<std::string, double> groups;
    };
    std::vector<cResult> results;
    for (const auto& s : scenarios) {
        host->sound.set_position_ms(s.time_ms);
        cResult r;
        // Scene frames and floor frames alternate, so that both see the same load of the machine.
        std::vector<double> frame_samples, floor_samples;
        for (int i = 0; i < warm_up_frames + frames; ++i) {
            const double frame_ms = finished_ms([&] { host->render_pass(); });
            const double floor_ms = finished_ms([&] { floor.frame(); });
            if (i < warm_up_frames) continue;
            frame_samples.push_back(frame_ms);
            floor_samples.push_back(floor_ms);
        }
        r.frame_ms = median(frame_samples);
        r.floor_ms = median(floor_samples);

        // Instrumented: glFinish wherever the program changes group (or at every program, by
        // pass: labelled with its place in the frame); the median of each.
        std::map<std::string, std::vector<double>> samples;
        std::map<std::string, double> this_frame;
        std::string group;
        int pass = 0;
        auto start = clock_type::now();
        auto switch_to = [&](const std::string& next) {
            glFinish();
            this_frame[group] += ms_since(start);
            group = next;
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
            start = clock_type::now();
            observed_frame(*host, scene, observer);
            switch_to("");
            if (i < warm_up_frames) continue;
            if (!by_pass)
                for (const char* g : group_order) this_frame[g] += 0.0;  // a group that did not run takes 0
            for (const auto& [g, ms] : this_frame)
                if (!g.empty()) samples[g].push_back(ms);
        }
        observer.on_call = nullptr;
        for (const auto& [g, v] : samples) r.groups[g] = median(v);
        results.push_back(r);
    }

    // ---- figures ----
    int pass_total = 0;
    for (const auto& [size, count] : passes) pass_total += count;
    std::printf("# versewall frame bench: 1280x720, %s, medians of %d frames, glFinish per frame\n",
                host->window.renderer.c_str(), frames);
    std::printf("# frame: the host's render pass (clear, push, render, pop), no swap\n");
    std::printf("# floor: the frame's %d full-screen passes (", pass_total);
    for (const auto& [size, count] : passes) std::printf(" %dx%d: %d", size.first, size.second, count);
    std::printf(" ) with one texel fetch each, the window's and one target's clear;\n");
    std::printf("#        timed alternately with the frames\n");
    for (size_t i = 0; i < results.size(); ++i) {
        const auto& r = results[i];
        host->sound.set_position_ms(scenarios[i].time_ms);
        const int64_t t = host->sound.position_ms();
        std::printf("\n%s at %.1f s (numwords %.2f, tunnel %.2f, draw_duck %.0f)\n", scenarios[i].label,
                    scenarios[i].time_ms / 1000.0, host->sync->get_value("numwords", t),
                    host->sync->get_value("tunnel", t), host->sync->get_value("draw_duck", t));
        std::printf("  frame %7.2f ms   floor %7.2f ms   ratio %.2f (target <= 1.5)\n", r.frame_ms, r.floor_ms,
                    r.frame_ms / r.floor_ms);
        std::printf("  by %s (glFinish between them, medians):\n", by_pass ? "pass" : "pass group");
        if (by_pass) {
            for (const auto& [g, ms] : r.groups) std::printf("    %-16s %7.2f ms\n", g.c_str(), ms);
        } else {
            for (const char* g : group_order) std::printf("    %-16s %7.2f ms\n", g, r.groups.at(g));
        }
    }
    return 0;
}
