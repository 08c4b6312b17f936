// The circle that hops from word to word on an arch, with a red-green-blue trail when it
// moves a short way and a single white disc when it jumps. Keeps the previous position for
// the library's lifetime. Pushes and pops the render state around its draws.
#include "sync_tracks.h"
#include "versewall.h"
#include "words_pass.h"

namespace versewall {

namespace {

// Where the circle was last drawn; assigned on the first frame that draws it.
struct cCircleMemory {
    bool started = false;
    vec4 previous;
    float step_count = 0.0f;
};
cCircleMemory circle_memory;

}  // namespace

void cVersewall::circle_pass(iModuleInput* input, const cWordRow& layout, int count) {
    igfxContext* ctx = input->gfx();
    const float hofs = track(input, "circle_hofs");
    const float t = track(input, "word_t");
    if (!circle_visible(t, count)) return;

    const mat4 mvp = text_matrix(track(input, "textrot"));
    const vec4 current = circle_position(layout, t, hofs);

    ctx->use_shader(program::text);
    ctx->set_matrix(program::text, "mvp", mvp.m);
    ctx->set_texture(program::text, "texttex", circle_texture);

    ctx->push_state();
    cRenderState* state = ctx->state();
    state->set_blending(true);
    state->set_blend_color(cRenderState::blend_one, cRenderState::blend_one);

    if (!circle_memory.started) {
        circle_memory = {true, {0.0f, 0.0f, 0.0f, 1.0f}, config::trail_step_count};
    }
    const vec4 size{config::circle_size, config::circle_size, 0.0f, 0.0f};
    if (circle_distance(current, circle_memory.previous) > config::circle_jump_distance) {
        const float white[4] = {1.0f, 1.0f, 1.0f, 1.0f};
        ctx->set_vector(program::text, "color", white);
        draw_quad(*ctx, current, size);
    } else {
        const cTrail trail = make_trail(circle_memory.previous, current, circle_memory.step_count);
        for (int i = 0; i < config::trail_steps; ++i) {
            const vec4& c = trail.colours[i];
            const float colour[4] = {c.x, c.y, c.z, c.w};
            ctx->set_vector(program::text, "color", colour);
            draw_quad(*ctx, trail.centres[i], size);
        }
    }
    ctx->pop_state();
    circle_memory.previous = current;
}

}  // namespace versewall
