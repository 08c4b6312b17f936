// template_scene: a scene module of the show, and a place to start a new one.
//
// A scene module is a shared library that the player loads from its bin/ folder
// (bin/render_*.so). It draws one scene, only through the interfaces of the plug-in contract,
// which the player hands it: it never calls OpenGL, the window or the sound itself.
//
// Its life:
//   CreateScene()   once, when the player loads the library: make the scene object, nothing more
//                   (there is no graphics context yet).
//   init(input)     once, before the first frame: load programs, images and models here.
//   name()          every frame: the scene's name, which is also the name of the sync track that
//                   switches it on. The player calls render() only while that track is above 0.
//   render(input)   every frame the scene is on: read the time and tracks, set uniforms, draw.
//                   The render state is saved before and restored after, so whatever this frame
//                   changes never reaches another scene or the next frame.
//   DeleteScene()   frees the object inside the library (the player never calls it while the
//                   show runs: a scene lives until the process ends).
// In development mode (demoplayer --dev) a rebuilt library is loaded again while the show
// plays: the new library's CreateScene and init run, then the old scene is gone.
//
// This scene draws one pass: a full-screen picture (data/textures/template_scene.png) through
// its own shader pair (data/shaders/template_scene.vert and .frag), lit up and zoomed by the
// sync track "template_scene_pulse" (data/sync/template_scene.tracks).
#include <new>

#include "igfx_context.h"
#include "module_input.h"
#include "render_module_base.h"
#include "sync.h"

namespace {

// Every file path is relative to the show folder (the player's current directory).
constexpr const char* kSceneName = "template_scene";          // also its gating track
constexpr const char* kProgram = "template_scene";            // the shader program's name
constexpr const char* kVertexShader = "data/shaders/template_scene.vert";
constexpr const char* kFragmentShader = "data/shaders/template_scene.frag";
constexpr const char* kImage = "data/textures/template_scene.png";
constexpr const char* kPulseTrack = "template_scene_pulse";   // 0 to 1, keyed on the beats

class cTemplateScene final : public cRenderModuleBase {
public:
    void init(iModuleInput* input) override {
        igfxContext* gfx = input->gfx();
        // A program is made once and then found by its name. One that does not compile is
        // reported by the player (in bin/stderr.txt) and has_shader() stays false.
        if (!gfx->has_shader(kProgram)) gfx->load_shader(kProgram, kVertexShader, kFragmentShader);
        // Images (24 or 32 bits a pixel) are kept by the player and found again by path:
        // load_texture of the same path hands back the same texture. A power-of-two size makes
        // a 2D texture (sampler2D, coordinates 0 to 1), any other size a rectangle texture
        // (sampler2DRect, coordinates in pixels). Wrap 1 repeats the picture beyond its edges.
        image_ = gfx->load_texture(kImage, false, kWrapRepeat);
    }

    void render(iModuleInput* input) override {
        igfxContext* gfx = input->gfx();
        // Without its program the scene draws nothing: setting a uniform of a program (or a
        // uniform) that does not exist ends the player.
        if (!gfx->has_shader(kProgram) || !image_) return;

        // The music's position is the show's only clock: every animated value is a track's
        // value at this time (or a function of the time itself).
        const int64_t now = input->time_ms();
        const float pulse = input->sync()->get_value(kPulseTrack, now);

        gfx->use_shader(kProgram);
        gfx->set_texture(kProgram, "image", image_);
        // Uniforms go as four floats (a number as four equal ones), matrices as sixteen.
        const float pulse_uniform[4] = {pulse, pulse, pulse, pulse};
        gfx->set_vector(kProgram, "pulse", pulse_uniform);
        // The render state (blending, depth test, culling) is changed in place before a draw,
        // e.g. to add the picture on top of the scenes drawn before it:
        //   cRenderState* state = gfx->state();
        //   state->set_blending(true);
        //   state->set_blend_color(cRenderState::blend_one, cRenderState::blend_one);
        // A quad over the whole screen, with texture coordinates from (0, 0) at the lower left
        // to (1, 1) at the upper right.
        gfx->draw_fullscreen_quad();
    }

    // Slot 3 of the contract: nobody calls it.
    void reserved() override {}

    const char* name() override { return kSceneName; }

private:
    static constexpr int32_t kWrapRepeat = 1;
    const cTexture* image_ = nullptr;  // owned by the player
};

}  // namespace

// The two functions the player looks up by name. Everything else stays inside the library.
DEMO_MODULE_EXPORT cRenderModuleBase* CreateScene() { return new (std::nothrow) cTemplateScene(); }

DEMO_MODULE_EXPORT void DeleteScene(cRenderModuleBase** scene) {
    if (!scene) return;
    delete *scene;
    *scene = nullptr;
}
