// The host's own cost of one render pass: one module switched on by its track, reading twenty
// tracks per frame, with the real sync device, module manager, module input and sound module
// (on the "no sound" device). The graphics context is a stand-in that makes no GL call, so
// the figure is the host's bookkeeping alone: position reads, registry lookups, evaluation,
// the calls into the module.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/app/demo_host.h"
#include "host/modules/module_input.h"
#include "host/modules/module_manager.h"
#include "host/sync/sync_device.h"
#include "igfx_context.h"

namespace {

// Stand-in graphics context for this benchmark only: every operation does nothing.
class cNoGLContext final : public igfxContext {
public:
    void init(cWindow*) override {}
    void set_clear_color(float, float, float, float) override {}
    void clear() override {}
    int32_t* viewport() override { return viewport_; }
    void set_viewport(const int32_t&, const int32_t&, const int32_t&, const int32_t&) override {}
    void draw_triangles(const float*, int32_t) override {}
    void draw_indexed_uv2(const uint32_t*, const float*, const float*, const float*, int32_t) override {}
    void draw_indexed_uv(const uint32_t*, const float*, const float*, int32_t) override {}
    void draw_indexed(const uint32_t*, const float*, int32_t) override {}
    void draw_points(const float*, int32_t) override {}
    void draw_lines(const float*, int32_t) override {}
    void draw_fullscreen_quad() override {}
    void draw_fullscreen_quad_tex(const cTexture*) override {}
    void draw_fullscreen_quad_uv2(int32_t, int32_t, int32_t, int32_t) override {}
    void draw_fullscreen_quad_uv(int32_t, int32_t) override {}
    cRenderState* state() override { return &state_; }
    void apply_state() override {}
    void push_state() override { stack_.push_back(state_); }
    void pop_state() override {
        if (!stack_.empty()) {
            state_ = stack_.back();
            stack_.pop_back();
        }
    }
    void load_shader(const std::string&, const std::string&, const std::string&) override {}
    bool has_shader(const std::string&) override { return false; }
    void use_shader(const std::string&) override {}
    void set_texture(const std::string&, const std::string&, const cTexture*) override {}
    void set_matrix(const std::string&, const std::string&, const float*) override {}
    void set_vector(const std::string&, const std::string&, const float*) override {}
    void load_model(const std::string&, const std::string&) override {}
    iModel* model(const std::string&) override { return nullptr; }
    cTexture* load_texture(const std::string&, bool, int32_t, int32_t) override { return nullptr; }
    cTexture* create_texture_3d(int32_t, int32_t, int32_t, int32_t, int32_t, const void*) override {
        return nullptr;
    }
    cRenderTargetLease acquire_render_target(int32_t, int32_t) override { return {}; }
    cRenderTargetLease acquire_screen_render_target(int32_t) override { return {}; }
    void release_render_target(cRenderTargetLease& lease) override {
        lease.target = nullptr;
        lease.owner = nullptr;
    }
    cTexture* depth_texture(iRenderTarget*) override { return nullptr; }

private:
    int32_t viewport_[4] = {0, 0, 1280, 720};
    cRenderState state_;
    std::vector<cRenderState> stack_;
};

void write_track(const std::string& path, int keys) {
    std::ofstream out(path, std::ios::binary);
    int32_t count = keys;
    out.write(reinterpret_cast<const char*>(&count), 4);
    for (int32_t i = 0; i < keys; ++i) {
        int32_t row = i * 8;
        float value = 1.0f + static_cast<float>(i % 7);
        int8_t interpolation = static_cast<int8_t>(i % 4);
        out.write(reinterpret_cast<const char*>(&row), 4);
        out.write(reinterpret_cast<const char*>(&value), 4);
        out.write(reinterpret_cast<const char*>(&interpolation), 1);
    }
}

// Wires the real host pieces as start-up does, without a window; once per process (the audio
// device opens once).
cDemoHost& bench_host() {
    static cDemoHost* host = [] {
        namespace fs = std::filesystem;
        const fs::path show = fs::temp_directory_path() / "demoplayer-render-pass-bench";
        fs::remove_all(show);
        fs::create_directories(show / "bin/dll_cache");
        fs::create_directories(show / "data/sync");
        fs::copy_file(DEMO_BENCH_MODULE, show / "bin/render_bench.so");
        write_track((show / "data/sync/_scene_bench.track").string(), 2);
        for (int t = 0; t < 20; ++t) {
            char name[64];
            std::snprintf(name, sizeof name, "data/sync/_bench_t%02d.track", t);
            write_track((show / name).string(), 1000);
        }
        fs::current_path(show);

        auto* made = new cDemoHost();
        made->gfx = new cNoGLContext();
        made->sound.init_device(nullptr, 0);
        made->sync = new cSyncDevice();
        made->sync->open_store();
        made->input = new cModuleInput(made->gfx, made->sync, &made->sound);
        made->modules =
            new cModuleManager((show / "bin/").string(), (show / "bin/dll_cache/").string(), "render*.so");
        made->modules->load_all();
        return made;
    }();
    return *host;
}

void render_pass(benchmark::State& state) {
    cDemoHost& host = bench_host();
    double ms = 1000.0;
    for (auto _ : state) {
        host.sound.set_position_ms(ms);  // the clock moves as in a show, 60 frames a second
        ms += 1000.0 / 60.0;
        if (ms > 80000.0) ms = 1000.0;
        host.render_pass();
    }
    state.SetLabel("one module, 20 tracks of 1000 keys");
}
BENCHMARK(render_pass)->Unit(benchmark::kNanosecond);

}  // namespace

BENCHMARK_MAIN();
