// A test render module that crashes the player, as a module with a fault does: once the music
// passes 500 ms its render writes one line on standard output and one on standard error, the
// way a module's own reports go, and then writes through a null pointer. Its scene is
// "scene_crasher". Against the plug-in contract alone.
#include <cstdio>

#include "module_input.h"
#include "render_module_base.h"

namespace {

constexpr long long kCrashAtMs = 500;

class cCrasherScene final : public cRenderModuleBase {
public:
    void init(iModuleInput*) override {}

    void render(iModuleInput* input) override {
        if (input->time_ms() < kCrashAtMs) return;
        std::printf("# crasher: the last line on standard output\n");
        std::fprintf(stderr, "# crasher: the last line on standard error\n");
        volatile int* nowhere = nullptr;
        *nowhere = 1;
    }

    void reserved() override {}

    const char* name() override { return "scene_crasher"; }
};

}  // namespace

DEMO_MODULE_EXPORT cRenderModuleBase* CreateScene() { return new cCrasherScene(); }

DEMO_MODULE_EXPORT void DeleteScene(cRenderModuleBase** scene) {
    if (!scene) return;
    delete *scene;
    *scene = nullptr;
}
