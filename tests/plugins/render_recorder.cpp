// A test render module that records every call it receives, so that tests can see what a
// host did to a module. Built against the plug-in contract alone; it never calls GL (it is
// used before a graphics context exists) and touches nothing but its log file.
//
// Log: "recorder.log" in the current directory (the host's, i.e. the show directory),
// appended to, one line per call, each ended with "\n":
//   create                         CreateScene made the scene object
//   init gfx=<0|1> sync=<0|1> probe=<v>
//                                  init: whether input->gfx() and input->sync() were
//                                  non-null, and the value of the sync track
//                                  "recorder_probe" at time 0 (%g; 0 without a sync device)
//   name                           name() was asked; it returns "scene_recorder"
//   render <time_ms> [<word0> <word1>]
//                                  render: input->time_ms() at that call and, when the input
//                                  has a graphics context, the pending render state it found,
//                                  both words as 8 lowercase hex digits
//   delete                         the scene object was destroyed (DeleteScene)
// The file is opened and closed for every line, so the log is complete whenever the host
// stops, however it stops.
#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "igfx_context.h"
#include "module_input.h"
#include "render_module_base.h"
#include "plugin_log.h"
#include "sync.h"

namespace {

constexpr const char* kLogFile = "recorder.log";
constexpr const char* kSceneName = "scene_recorder";
constexpr const char* kProbeTrack = "recorder_probe";

void record(const char* format, ...) __attribute__((format(printf, 1, 2)));

void record(const char* format, ...) {
    va_list args;
    va_start(args, format);
    append_log_line(kLogFile, "", format, args);
    va_end(args);
}

class cRecorderScene final : public cRenderModuleBase {
public:
    ~cRecorderScene() override { record("delete"); }

    void init(iModuleInput* input) override {
        iSync* sync = input ? input->sync() : nullptr;
        double probe = 0.0;
        if (sync) {
            const int64_t start = 0;
            probe = sync->get_value(kProbeTrack, start);
        }
        record("init gfx=%d sync=%d probe=%g", input && input->gfx() ? 1 : 0, sync ? 1 : 0, probe);
    }

    void render(iModuleInput* input) override {
        const int time = input ? static_cast<int>(input->time_ms()) : 0;
        const cRenderState* state = input && input->gfx() ? input->gfx()->state() : nullptr;
        if (state)
            record("render %d %08x %08x", time, static_cast<unsigned>(state->word[0]), static_cast<unsigned>(state->word[1]));
        else
            record("render %d", time);
    }

    void reserved() override {}

    const char* name() override {
        record("name");
        return kSceneName;
    }
};

}  // namespace

DEMO_MODULE_EXPORT cRenderModuleBase* CreateScene() {
    cRenderModuleBase* scene = new cRecorderScene();
    record("create");
    return scene;
}

DEMO_MODULE_EXPORT void DeleteScene(cRenderModuleBase** scene) {
    if (!scene) return;
    delete *scene;
    *scene = nullptr;
}
