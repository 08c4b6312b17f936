// A benchmark render module: on every render it reads twenty sync tracks, as a scene with a
// full set of animated parameters does, and draws nothing. Built against the contract only.
#include <cstdint>
#include <new>

#include "module_input.h"
#include "render_module_base.h"
#include "sync.h"

namespace {

constexpr int kTrackCount = 20;
const char* const kTrackNames[kTrackCount] = {
    "bench_t00", "bench_t01", "bench_t02", "bench_t03", "bench_t04", "bench_t05", "bench_t06",
    "bench_t07", "bench_t08", "bench_t09", "bench_t10", "bench_t11", "bench_t12", "bench_t13",
    "bench_t14", "bench_t15", "bench_t16", "bench_t17", "bench_t18", "bench_t19"};

class cTrackReader final : public cRenderModuleBase {
public:
    void init(iModuleInput*) override {}
    void render(iModuleInput* input) override {
        float sum = 0.0f;
        for (const char* name : kTrackNames) {
            const int64_t time = input->time_ms();
            sum += input->sync()->get_value(name, time);
        }
        last_sum = sum;
    }
    void reserved() override {}
    const char* name() override { return "scene_bench"; }
    volatile float last_sum = 0.0f;
};

}  // namespace

DEMO_MODULE_EXPORT cRenderModuleBase* CreateScene() { return new (std::nothrow) cTrackReader(); }
DEMO_MODULE_EXPORT void DeleteScene(cRenderModuleBase** scene) {
    if (*scene) delete *scene;
    *scene = nullptr;
}
