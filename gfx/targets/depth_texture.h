// A render target's depth as a texture: the copy of the depth buffer into a depth texture, and
// the process-wide map that keeps one such texture per depth renderbuffer.
// Depends on the GL entry-point table and the texture manager; never frees a texture record.
#pragma once
#include <cstdint>

#include "texture.h"

class igfxContext;
class iRenderTarget;
class cTextureManager;

// Binds target (without clearing), copies its depth into texture (always as level 0 of
// GL_TEXTURE_RECTANGLE), unbinds it again.
void copy_depth_to_texture(igfxContext& ctx, iRenderTarget& target, cTexture& texture);

// The depth texture of target's renderbuffer, made by textures on first use, refreshed with the
// target's current depth on every call. Null for a null target or one not made by the pool.
cTexture* depth_texture_of(igfxContext& ctx, cTextureManager& textures, iRenderTarget* target);

// Drops the map entry of a renderbuffer that is being deleted; GL may hand its name out again.
void forget_depth_texture(uint32_t renderbuffer);
