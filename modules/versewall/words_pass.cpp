// The lyric words: a row of word quads on the turned text canvas, each lit by "textits" and,
// for the first five, by its own track; then the circle pass. Depends on the contract and the
// pure layout of scene_math. Changes the pending render state without pushing, by design.
#include "words_pass.h"

#include <cstdint>

#include "sync_tracks.h"
#include "versewall.h"

namespace versewall {

namespace {

constexpr const char* word_tracks[config::brightness_tracks] = {"word0its", "word1its", "word2its", "word3its", "word4its"};

}  // namespace

void draw_quad(igfxContext& ctx, const vec4& centre, const vec4& size) {
    static constexpr float uv[8] = {0.0f, 0.0f, 1.0f, 0.0f, 1.0f, 1.0f, 0.0f, 1.0f};
    static constexpr uint32_t indices[6] = {0, 1, 2, 0, 2, 3};
    const auto corners = quad_corners(centre, size);
    ctx.draw_indexed_uv(indices, corners.data(), uv, 6);
}

void cVersewall::words_pass(iModuleInput* input) {
    igfxContext* ctx = input->gfx();
    const float numwords = track(input, "numwords");
    const cWordRow row = layout_words(numwords);

    // Not pushed: the rest of the frame runs without depth test (the host restores it).
    ctx->state()->set_depth_test(false);

    const mat4 mvp = text_matrix(track(input, "textrot"));
    ctx->use_shader(program::text);
    ctx->set_matrix(program::text, "mvp", mvp.m);
    const cTexture* picture = track(input, "umptchi") > 0.5f ? umptchi_texture : la_texture;
    ctx->set_texture(program::text, "texttex", picture);

    cRenderState* state = ctx->state();
    state->set_blending(true);
    state->set_blend_color(cRenderState::blend_one, cRenderState::blend_one);

    const float all = track(input, "textits");
    const vec4 size{row.spacing, row.spacing, 0.0f, 0.0f};
    for (int i = 0; i < row.count; ++i) {
        const float b = i < config::brightness_tracks ? track(input, word_tracks[i]) * all : all;
        const float colour[4] = {b, b, b, b};
        ctx->set_vector(program::text, "color", colour);
        draw_quad(*ctx, row.centres[i], size);
    }

    // A fractional "numwords" below one shows no word but still lets the circle cross.
    if (numwords > 0.0f) circle_pass(input, row, row.count);
}

}  // namespace versewall
