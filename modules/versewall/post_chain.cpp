// Post-processing passes of the versewall scene. Each primitive pass loads its programs on
// first use, pushes the render state (no depth, no culling, no blending), draws one quad per
// direction and pops the state. Leases are values, so every temporary goes back to the pool.
#include "post_chain.h"

#include <iostream>

#include "scene_math.h"
#include "versewall_config.h"

namespace versewall {

namespace {

// First-use flags of the module: programs and the vignette image are asked for once.
struct cPostResources {
    bool passthrough_loaded = false;
    bool dir_blur_loaded = false;
    bool downsample_loaded = false;
    bool levels_loaded = false;
    bool comp_loaded = false;
    bool vignette_loaded = false;
    const cTexture* vignette = nullptr;
};
cPostResources resources;

// The render state of every primitive pass, pushed on construction and popped on destruction.
class cPostState {
public:
    explicit cPostState(igfxContext& ctx) : ctx_(ctx) {
        ctx_.push_state();
        cRenderState* state = ctx_.state();
        state->set_depth_test(false);
        state->set_depth_write(false);
        state->set_face_culling(false);
        state->set_blending(false);
    }
    ~cPostState() { ctx_.pop_state(); }
    cPostState(const cPostState&) = delete;
    cPostState& operator=(const cPostState&) = delete;

private:
    igfxContext& ctx_;
};

const cTexture* texture_of(const cRenderTargetLease& lease) { return lease.target->texture(); }

void set_scalar(igfxContext& ctx, const char* program_name, const char* uniform, float value) {
    const float v[4] = {value, value, value, value};
    ctx.set_vector(program_name, uniform, v);
}

}  // namespace

void post_passthrough(igfxContext& ctx, const cTexture* t) {
    if (!resources.passthrough_loaded) {
        resources.passthrough_loaded = true;
        ctx.load_shader(program::passthrough, program::passthrough_vert, program::passthrough_frag);
    }
    cPostState state(ctx);
    ctx.use_shader(program::passthrough);
    ctx.set_texture(program::passthrough, "tex0", t);
    ctx.draw_fullscreen_quad_tex(t);
}

void post_downsample(igfxContext& ctx, const cTexture* t, const cRenderTargetLease& dst) {
    if (!resources.downsample_loaded) {
        resources.downsample_loaded = true;
        ctx.load_shader(program::downsample, program::downsample_vert, program::downsample_frag);
    }
    cPostState state(ctx);
    dst.target->bind(ctx, 0);
    ctx.use_shader(program::downsample);
    ctx.set_texture(program::downsample, "tex0", t);
    ctx.draw_fullscreen_quad_tex(t);
    dst.target->unbind(ctx);
}

void post_dir_blur(igfxContext& ctx, const cTexture* t, const cRenderTargetLease& dst, float reach) {
    if (!resources.dir_blur_loaded) {
        resources.dir_blur_loaded = true;
        ctx.load_shader(program::dir_blur, program::dir_blur_vert, program::dir_blur_frag);
    }
    // Declared before the state guard so that the state is popped before tmp goes back.
    cRenderTargetLease tmp;
    cPostState state(ctx);
    tmp = ctx.acquire_render_target(t->width, t->height);

    // The first direction goes into tmp, so t may be dst's own texture.
    // The direction's length is the reach: the shader steps its taps along it.
    const float horizontal[4] = {reach, 0.0f, 0.0f, 0.0f};
    const float vertical[4] = {0.0f, reach, 0.0f, 0.0f};
    tmp.target->bind(ctx, 0);
    ctx.use_shader(program::dir_blur);
    ctx.set_texture(program::dir_blur, "tex0", t);
    ctx.set_vector(program::dir_blur, "blurdir", horizontal);
    ctx.draw_fullscreen_quad_tex(t);
    tmp.target->unbind(ctx);

    dst.target->bind(ctx, 0);
    ctx.use_shader(program::dir_blur);
    ctx.set_texture(program::dir_blur, "tex0", texture_of(tmp));
    ctx.set_vector(program::dir_blur, "blurdir", vertical);
    ctx.draw_fullscreen_quad_tex(texture_of(tmp));
    dst.target->unbind(ctx);
}

void post_levels(igfxContext& ctx, const cRenderTargetLease& src, const cRenderTargetLease& dst, const cLevelsParams& p) {
    if (!resources.levels_loaded) {
        resources.levels_loaded = true;
        ctx.load_shader(program::levels, program::levels_vert, program::levels_frag);
    }
    cPostState state(ctx);
    dst.target->bind(ctx, 0);
    ctx.use_shader(program::levels);
    const float inout[4] = {p.input_black, p.input_white, p.output_black, p.output_white};
    ctx.set_vector(program::levels, "levels_inout", inout);
    set_scalar(ctx, program::levels, "gamma", p.gamma);
    ctx.set_texture(program::levels, "tex0", texture_of(src));
    ctx.draw_fullscreen_quad_tex(texture_of(src));
    dst.target->unbind(ctx);
}

void post_comp(igfxContext& ctx, const cTexture* over, const cTexture* under, const cRenderTargetLease& dst, int mode,
               float amount) {
    if (!resources.comp_loaded) {
        resources.comp_loaded = true;
        ctx.load_shader(program::add_comp, program::comp_vert, program::add_comp_frag);
        ctx.load_shader(program::modulate_comp, program::comp_vert, program::modulate_comp_frag);
    }
    // Modes 0, 2 and 3 name programs that no file provides; a setter on them would end the show.
    if (!composite_mode_supported(mode)) {
        const char* name = composite_program(mode);
        std::cerr << "## ERROR: post_comp: composite mode " << mode;
        if (*name) std::cerr << " (\"" << name << "\")";
        std::cerr << " is not available, only 1 (\"add_comp\") and 4 (\"modulate_comp\"); nothing drawn" << std::endl;
        return;
    }
    const char* name = composite_program(mode);
    cPostState state(ctx);
    dst.target->bind(ctx, 0);
    ctx.use_shader(name);
    ctx.set_texture(name, "tex_over", over);
    ctx.set_texture(name, "tex_under", under);
    set_scalar(ctx, name, "opasity", amount);
    ctx.draw_fullscreen_quad_uv2(over->width, over->height, under->width, under->height);
    dst.target->unbind(ctx);
}

void post_vignette(igfxContext& ctx, const cTexture* t, const cRenderTargetLease& dst, float amount) {
    if (!resources.vignette_loaded) {
        resources.vignette_loaded = true;
        resources.vignette = ctx.load_texture(config::vignette_path, false, config::wrap_clamp, config::kind_rectangle);
    }
    post_comp(ctx, resources.vignette, t, dst, config::composite_modulate, amount);
}

void post_glow(igfxContext& ctx, const cTexture* src, const cRenderTargetLease& dst) {
    // src has the full render size: the glow reaches as far over the picture at any size.
    const float reach = static_cast<float>(src->width) / config::glow_composed_width;
    // Declared in acquisition order: they go back gE, gD, gC, gB, gA on every way out.
    const cRenderTargetLease g_a = ctx.acquire_screen_render_target(2);
    const cRenderTargetLease g_b = ctx.acquire_screen_render_target(2);
    post_downsample(ctx, src, g_a);
    post_levels(ctx, g_a, g_b, {config::glow_black_first, config::glow_white, config::glow_gamma, 0.0f, config::glow_white});
    post_dir_blur(ctx, texture_of(g_b), g_a, reach);

    const cRenderTargetLease g_c = ctx.acquire_screen_render_target(4);
    post_downsample(ctx, texture_of(g_a), g_c);
    post_dir_blur(ctx, texture_of(g_c), g_c, reach);

    const cRenderTargetLease g_d = ctx.acquire_screen_render_target(8);
    post_downsample(ctx, texture_of(g_c), g_d);
    post_dir_blur(ctx, texture_of(g_d), g_d, reach);

    const cRenderTargetLease g_e = ctx.acquire_screen_render_target(8);
    post_levels(ctx, g_d, g_e, {config::glow_black_second, config::glow_white, config::glow_gamma, 0.0f, config::glow_white});

    post_comp(ctx, src, texture_of(g_e), dst, config::composite_add, 1.0f);
}

}  // namespace versewall
