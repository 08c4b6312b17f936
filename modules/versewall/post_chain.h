// The image operations after the words: primitive full-screen passes (copy, downsample,
// directional blur, levels, composite) and the vignette and glow built from them. Depends on
// the contract only; never leaves a target bound, a lease out or the render state changed.
#pragma once
#include "igfx_context.h"

namespace versewall {

// Levels on the 0 to 255 scale.
struct cLevelsParams {
    float input_black = 0;
    float input_white = 255;
    float gamma = 1;
    float output_black = 0;
    float output_white = 255;
};

// Copies t over the whole target bound at the call (blending off, every pixel written).
void post_passthrough(igfxContext& ctx, const cTexture* t);
// Filters t down into dst (usually smaller).
void post_downsample(igfxContext& ctx, const cTexture* t, const cRenderTargetLease& dst);
// Blurs t horizontally into a temporary target, then vertically into dst; t may be dst's own.
// reach scales the distance between the blur's taps (1: the show's own blur).
void post_dir_blur(igfxContext& ctx, const cTexture* t, const cRenderTargetLease& dst, float reach = 1.0f);
// src's image through the levels p into dst.
void post_levels(igfxContext& ctx, const cRenderTargetLease& src, const cRenderTargetLease& dst, const cLevelsParams& p);
// over and under combined by the program of mode (1 add, 4 modulate) with strength amount.
// Any other mode has no program here: it is reported on standard error and nothing is drawn.
void post_comp(igfxContext& ctx, const cTexture* over, const cTexture* under, const cRenderTargetLease& dst, int mode,
               float amount);
// t multiplied by the vignette image, into dst.
void post_vignette(igfxContext& ctx, const cTexture* t, const cRenderTargetLease& dst, float amount);
// src plus a blurred, contrast-raised copy of itself (half to eighth size), into dst.
void post_glow(igfxContext& ctx, const cTexture* src, const cRenderTargetLease& dst);

}  // namespace versewall
