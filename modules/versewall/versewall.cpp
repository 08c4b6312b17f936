// The scene object's life and its frame: creation and deletion (the library's only two
// exports), the one-time loads of init, and render, which fixes the order of every pass.
// Talks to the host through the contract only; holds leases as values so they always return.
#include "versewall.h"

#include <new>

#include "post_chain.h"
#include "sync_tracks.h"
#include "tunnel_pass.h"
#include "words_pass.h"

namespace versewall {

const char* cVersewall::name() { return config::scene_name; }

void cVersewall::init(iModuleInput* input) {
    igfxContext* ctx = input->gfx();
    if (!ctx->has_shader(program::text)) ctx->load_shader(program::text, program::text_vert, program::text_frag);
    if (!ctx->has_shader(program::duck)) ctx->load_shader(program::duck, program::duck_vert, program::duck_frag);

    ctx->load_model(config::duck_model_name, config::duck_model_path);
    duck_model = ctx->model(config::duck_model_name);

    la_texture = ctx->load_texture(config::la_path, false, config::wrap_clamp, config::kind_automatic);
    umptchi_texture = ctx->load_texture(config::umptchi_path, false, config::wrap_clamp, config::kind_automatic);
    circle_texture = ctx->load_texture(config::circle_path, false, config::wrap_clamp, config::kind_automatic);
}

void cVersewall::render(iModuleInput* input) {
    igfxContext* ctx = input->gfx();
    const float grey = background_grey(track(input, "kick"));
    ctx->set_clear_color(grey, grey, grey, 0.5f);
    ctx->clear();  // the window: the duck later tests against this depth

    // Leases are destroyed in reverse order, so B goes back before A on every way out.
    cRenderTargetLease scene = ctx->acquire_screen_render_target(1);
    scene.target->bind(*ctx, 1);  // starts with the grey and a cleared depth buffer
    words_pass(input);
    scene.target->unbind(*ctx);

    cRenderTargetLease spare = ctx->acquire_screen_render_target(1);
    post_vignette(*ctx, scene.target->texture(), spare, 1.0f);
    post_glow(*ctx, spare.target->texture(), scene);
    post_passthrough(*ctx, scene.target->texture());

    tunnel_pass(input);
    duck_pass(input);
}

}  // namespace versewall

DEMO_MODULE_EXPORT cRenderModuleBase* CreateScene() { return new (std::nothrow) versewall::cVersewall(); }

DEMO_MODULE_EXPORT void DeleteScene(cRenderModuleBase** scene) {
    if (!scene) return;
    delete *scene;
    *scene = nullptr;
}
