// Duck pass: while "draw_duck" is at least 0.5, the duck model spins about (1, 1, 1), slides
// with "duck_trans" and bobs with "duck_trans_y", seen through a fixed perspective camera,
// depth-tested and opaque, under pushed render state. Skipped when the host has no model.
#include "sync_tracks.h"
#include "versewall.h"

namespace versewall {

void cVersewall::duck_pass(iModuleInput* input) {
    igfxContext* ctx = input->gfx();
    if (track(input, "draw_duck") < config::duck_draw_threshold) return;
    // The host reported a refused model when it loaded it; there is nothing to draw.
    if (!duck_model) return;

    cCamera camera = duck_camera(ctx->viewport());

    ctx->push_state();
    cRenderState* state = ctx->state();
    state->set_depth_test(true);
    state->set_depth_write(true);
    state->set_blending(false);

    const float rot = track(input, "duck_rot");
    const float trans_x = track(input, "duck_trans");
    const float trans_y = track(input, "duck_trans_y");
    const mat4 model = duck_model_matrix(rot, trans_x, trans_y);
    const mat4 mvp = multiply(model, camera.view_projection());  // projection x view x model

    ctx->use_shader(program::duck);
    ctx->set_matrix(program::duck, "mvp", mvp.m);
    ctx->set_matrix(program::duck, "ws_to_vs", camera.view_matrix().m);
    // A rotation followed by a translation: its upper 3 x 3 is its own inverse transpose.
    ctx->set_matrix(program::duck, "modelmat_IT", model.m);
    duck_model->draw(*ctx);
    ctx->pop_state();
}

}  // namespace versewall
