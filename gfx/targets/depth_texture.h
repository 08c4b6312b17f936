// A render target's depth as a texture: the copy of its depth buffer, and the process-wide map of
// one depth texture per depth renderbuffer. Depends on the GL entry-point table and the texture
// manager; frees a depth texture only when its renderbuffer goes.
#pragma once
#include <cstddef>
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

// Deletes the depth texture (GL texture and record) of a renderbuffer that is being deleted and
// drops its map entry; GL may hand the renderbuffer's name out again.
void forget_depth_texture(uint32_t renderbuffer);

// Depth textures currently held.
size_t depth_texture_count();
