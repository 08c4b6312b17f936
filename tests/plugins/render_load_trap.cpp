// A test render module whose loading itself goes wrong, as with a library caught half-written:
// a constructor run by the loader crashes (DEMO_TEST_LOAD_TRAP=crash) or never returns
// (DEMO_TEST_LOAD_TRAP=hang); without the variable it loads as any module. For the trial
// process that opens a library before the show does. Against the plug-in contract alone.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "render_module_base.h"

namespace {

__attribute__((constructor)) void spring_the_trap() {
    const char* trap = std::getenv("DEMO_TEST_LOAD_TRAP");
    if (!trap) return;
    if (std::strcmp(trap, "crash") == 0) {
        // Not the null pointer itself, which a sanitizer's check would report and exit on: an
        // address just above it, which no program maps, for a plain fault in every build.
        static volatile std::uintptr_t nowhere = 64;
        *reinterpret_cast<volatile int*>(nowhere) = 1;
    }
    if (std::strcmp(trap, "hang") == 0) {
        for (;;) ::pause();
    }
}

class cQuietScene final : public cRenderModuleBase {
public:
    void init(iModuleInput*) override {}
    void render(iModuleInput*) override {}
    void reserved() override {}
    const char* name() override { return "scene_load_trap"; }
};

}  // namespace

DEMO_MODULE_EXPORT cRenderModuleBase* CreateScene() { return new cQuietScene(); }

DEMO_MODULE_EXPORT void DeleteScene(cRenderModuleBase** scene) {
    if (!scene) return;
    delete *scene;
    *scene = nullptr;
}
