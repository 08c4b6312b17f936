// cRenderTarget_fbo: an off-screen target as a GL framebuffer object with a rectangle colour
// texture (RGBA8) and, optionally, the depth renderbuffer shared by all targets of its size.
// Depends on the GL entry-point table and the depth-buffer cache; makes no GL call before
// create() and never checks completeness by itself.
#pragma once
#include <cstdint>

#include "render_target.h"
#include "texture.h"

class cRenderTarget_fbo final : public iRenderTarget {
public:
    cRenderTarget_fbo(int32_t width, int32_t height, bool has_depth);
    ~cRenderTarget_fbo() override;
    cRenderTarget_fbo(const cRenderTarget_fbo&) = delete;
    cRenderTarget_fbo& operator=(const cRenderTarget_fbo&) = delete;

    void create() override;
    // Draws into the target from now on, with the viewport on the whole target; saves the
    // context's viewport and the draw buffer first. clear == 1 applies the render state and
    // clears colour (and depth); any other value keeps the contents.
    void bind(igfxContext& ctx, int32_t clear) override;
    // Back to the window's framebuffer with the saved viewport and draw buffer. Binds do not
    // nest: the window's framebuffer is bound afterwards, not an outer target.
    void unbind(igfxContext& ctx) override;
    cTexture* texture() override { return &colour_; }

    void set_filter(uint32_t min_filter, uint32_t mag_filter);
    void set_wrap(uint32_t mode);
    // True for a complete framebuffer currently bound to GL_FRAMEBUFFER; otherwise reports the
    // status and describe() on standard error.
    bool check_complete();
    // "width x height = (W x H)", the colour texture's target, "with depth"/"without depth".
    void describe();

    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    bool has_depth() const { return has_depth_; }
    uint32_t framebuffer() const { return framebuffer_; }
    uint32_t depth_renderbuffer() const { return depth_renderbuffer_; }

private:
    int32_t width_;
    int32_t height_;
    uint32_t framebuffer_ = 0;
    uint32_t depth_renderbuffer_ = 0;
    cTexture colour_;
    bool has_depth_;
    int32_t saved_viewport_[4] = {-1, -1, -1, -1};
    uint32_t saved_draw_buffer_ = 0;
};
