// Tunnel pass: loads its texture and program on first use, then adds one shaded full-screen
// quad (blend ONE, ONE; no depth test or writes) under pushed render state. Depends on the
// contract and scene_math; draws no geometry of its own.
#include "tunnel_pass.h"

#include "igfx_context.h"
#include "scene_math.h"
#include "sync_tracks.h"
#include "versewall_config.h"

namespace versewall {

namespace {

struct cTunnelResources {
    bool loaded = false;
    const cTexture* texture = nullptr;
};
cTunnelResources tunnel_resources;

void set_scalar(igfxContext& ctx, const char* uniform, float value) {
    const float v[4] = {value, value, value, value};
    ctx.set_vector(program::tunnel, uniform, v);
}

}  // namespace

void tunnel_pass(iModuleInput* input) {
    igfxContext* ctx = input->gfx();
    if (!tunnel_resources.loaded) {
        tunnel_resources.loaded = true;
        tunnel_resources.texture =
            ctx->load_texture(config::tunnel_texture_path, false, config::wrap_repeat, config::kind_automatic);
        ctx->load_shader(program::tunnel, program::tunnel_vert, program::tunnel_frag);
    }

    // Alpha factors and culling stay as they are: the host's quad is a front face.
    ctx->push_state();
    cRenderState* state = ctx->state();
    state->set_depth_test(false);
    state->set_depth_write(false);
    state->set_blending(true);
    state->set_blend_color(cRenderState::blend_one, cRenderState::blend_one);

    const float opacity = track(input, "tunnel");
    const float twist = track(input, "tunnel_twist");
    const float offset = track(input, "tunnel_ofs");

    ctx->use_shader(program::tunnel);
    set_scalar(*ctx, "time", input->time_seconds());
    ctx->set_texture(program::tunnel, "tex0", tunnel_resources.texture);
    set_scalar(*ctx, "twist", twist);
    set_scalar(*ctx, "opasity", opacity);
    set_scalar(*ctx, "ofs", tunnel_offset(offset));
    ctx->draw_fullscreen_quad();
    ctx->pop_state();
}

}  // namespace versewall
