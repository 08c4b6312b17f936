// A test render module that changes the render state and leaves it changed, as a careless
// module would, so that tests can see whether the host keeps one module's state from the
// next. Built against the plug-in contract alone; it draws only through igfxContext.
//
// Log: "recorder.log" in the current directory, shared with render_recorder, appended to,
// one line per render call:
//   changer <time_ms> <word0> <word1>
//                 input->time_ms() at the call, and the pending render state it found on
//                 entry, both words as 8 lowercase hex digits
// Then it turns depth test, depth writes, culling and blending off, selects depth function
// GL_GREATER and fill mode GL_LINE, and draws one triangle, so the change reaches GL. It never
// pushes or pops. Its scene name, and gating track, is "scene_changer".
#include <cstdint>
#include <cstdio>

#include "igfx_context.h"
#include "module_input.h"
#include "render_module_base.h"

namespace {

constexpr const char* kLogFile = "recorder.log";
constexpr const char* kSceneName = "scene_changer";

class cStateChangerScene final : public cRenderModuleBase {
public:
    void init(iModuleInput*) override {}

    void render(iModuleInput* input) override {
        igfxContext* gfx = input->gfx();
        cRenderState* state = gfx->state();
        if (FILE* log = std::fopen(kLogFile, "a")) {
            std::fprintf(log, "changer %d %08x %08x\n", static_cast<int>(input->time_ms()),
                         static_cast<unsigned>(state->word[0]), static_cast<unsigned>(state->word[1]));
            std::fclose(log);
        }
        state->set_depth_test(false);
        state->set_depth_write(false);
        state->set_depth_func(cRenderState::depth_greater);
        state->set_fill_mode(cRenderState::fill_line);
        state->set_face_culling(false);
        state->set_blending(false);
        static constexpr float triangle[12] = {-1, -1, 0, 1, 1, -1, 0, 1, 0, 1, 0, 1};
        gfx->draw_triangles(triangle, 3);
    }

    void reserved() override {}
    const char* name() override { return kSceneName; }
};

}  // namespace

DEMO_MODULE_EXPORT cRenderModuleBase* CreateScene() { return new cStateChangerScene(); }

DEMO_MODULE_EXPORT void DeleteScene(cRenderModuleBase** scene) {
    if (!scene) return;
    delete *scene;
    *scene = nullptr;
}
