// Depth copies of render targets. Depends on the GL entry-point table, render targets and the
// texture manager; the depth textures it makes are its own and go with their renderbuffer.
#include "gfx/targets/depth_texture.h"

#include <unordered_map>

#include "gfx/gl/gl_entry_points.h"
#include "gfx/targets/render_target_fbo.h"
#include "gfx/textures/texture_codes.h"
#include "gfx/textures/texture_manager.h"
#include "igfx_context.h"

namespace {

std::unordered_map<uint32_t, cTexture*>& depth_textures() {
    static std::unordered_map<uint32_t, cTexture*> map;
    return map;
}

}  // namespace

void copy_depth_to_texture(igfxContext& ctx, iRenderTarget& target, cTexture& texture) {
    target.bind(ctx, 0);
    glBindTexture(texture.target, texture.name);
    glCopyTexImage2D(GL_TEXTURE_RECTANGLE, 0, GL_DEPTH_COMPONENT, 0, 0, texture.width, texture.height, 0);
    glBindTexture(texture.target, 0);
    target.unbind(ctx);
}

cTexture* depth_texture_of(igfxContext& ctx, cTextureManager& textures, iRenderTarget* target) {
    auto* fbo = dynamic_cast<cRenderTarget_fbo*>(target);
    if (!fbo) return nullptr;
    cTexture*& texture = depth_textures()[fbo->depth_renderbuffer()];
    if (!texture) {
        using namespace texture_codes;
        texture = textures.create_texture(fbo->width(), fbo->height(), 0, kind_rectangle, wrap_clamp_to_edge,
                                          format_depth_component, format_depth_component16, false, nullptr);
    }
    copy_depth_to_texture(ctx, *fbo, *texture);
    return texture;
}

void forget_depth_texture(uint32_t renderbuffer) {
    auto found = depth_textures().find(renderbuffer);
    if (found == depth_textures().end()) return;
    if (cTexture* texture = found->second) {
        glDeleteTextures(1, &texture->name);
        delete texture;
    }
    depth_textures().erase(found);
}

size_t depth_texture_count() { return depth_textures().size(); }
