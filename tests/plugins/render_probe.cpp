// A test render module for the development mode: it logs what it sees each frame (the time
// and the value of a sync track) and, when the show has the program "probe", fills the window
// with it, so a test can read a shader's colour off the screen. When the show has the image
// "data/textures/probe_v<N>.png", its init loads it (a scene that needs an image). Built twice,
// as version 1 and version 2 (PROBE_VERSION), for the library swap. Against the plug-in
// contract alone.
//
// Log: "probe.log" in the current directory (the show directory), appended to, one line per
// call, each opened and closed so the log is whole however the host ends:
//   v<N> create                the scene object was made
//   v<N> init                  init
//   v<N> render <ms> <value> <us>
//                              render: time_ms, the track "probe_value" at that time (%.9g,
//                              the float exactly) and when, in microseconds of the monotonic
//                              clock (std::chrono::steady_clock), for latency benchmarks
//   v<N> delete                the scene object was destroyed (DeleteScene)
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "igfx_context.h"
#include "module_input.h"
#include "render_module_base.h"
#include "plugin_log.h"
#include "sync.h"

#ifndef PROBE_VERSION
#define PROBE_VERSION 1
#endif

namespace {

constexpr const char* kLogFile = "probe.log";
#define PROBE_STRING(x) #x
#define PROBE_PREFIX(version) "v" PROBE_STRING(version) " "
constexpr const char* kLogPrefix = PROBE_PREFIX(PROBE_VERSION);
constexpr const char* kSceneName = "scene_probe";
constexpr const char* kValueTrack = "probe_value";
constexpr const char* kProgram = "probe";
#define PROBE_IMAGE(version) "data/textures/probe_v" PROBE_STRING(version) ".png"
constexpr const char* kImage = PROBE_IMAGE(PROBE_VERSION);

void record(const char* format, ...) __attribute__((format(printf, 1, 2)));

void record(const char* format, ...) {
    va_list args;
    va_start(args, format);
    append_log_line(kLogFile, kLogPrefix, format, args);
    va_end(args);
}

class cProbeScene final : public cRenderModuleBase {
public:
    ~cProbeScene() override { record("delete"); }

    void init(iModuleInput* input) override {
        igfxContext* gfx = input->gfx();
        if (!gfx->has_shader(kProgram)) gfx->load_shader(kProgram, "data/shaders/probe.vert", "data/shaders/probe.frag");
        if (FILE* image = std::fopen(kImage, "rb")) {
            std::fclose(image);
            gfx->load_texture(kImage);
        }
        record("init");
    }

    void render(iModuleInput* input) override {
        const int64_t time = input->time_ms();
        const float value = input->sync()->get_value(kValueTrack, time);
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        record("render %d %.9g %lld", static_cast<int>(time), static_cast<double>(value),
               static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(now).count()));
        igfxContext* gfx = input->gfx();
        if (gfx->has_shader(kProgram)) {
            gfx->use_shader(kProgram);
            gfx->draw_fullscreen_quad();
        }
    }

    void reserved() override {}

    const char* name() override { return kSceneName; }
};

}  // namespace

DEMO_MODULE_EXPORT cRenderModuleBase* CreateScene() {
    cRenderModuleBase* scene = new cProbeScene();
    record("create");
    return scene;
}

DEMO_MODULE_EXPORT void DeleteScene(cRenderModuleBase** scene) {
    if (!scene) return;
    delete *scene;
    *scene = nullptr;
}
