// Framebuffer-object targets on a real context: what bind and unbind save and restore, clearing,
// the shared depth renderbuffers and depth textures and their lifetime, and the reports of
// check_complete and describe.
#include "gfx/gl_stage.h"
#include "gfx/targets/depth_buffer_cache.h"
#include "gfx/targets/depth_texture.h"
#include "gfx/targets/render_target_fbo.h"
#include "gfx/window/window.h"
#include "support/capture_stream.h"

namespace {

using Targets = GfxTest;

cPixel read_pixel(int x, int y) {
    cPixel p{};
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, &p);
    return p;
}

std::vector<int32_t> cached_viewport(gfxContext& ctx) { return {ctx.viewport(), ctx.viewport() + 4}; }

std::vector<GLint> gl_viewport() {
    GLint v[4] = {};
    glGetIntegerv(GL_VIEWPORT, v);
    return {v, v + 4};
}

TEST_F(Targets, bind_and_unbind_give_back_the_viewport_and_draw_buffer_they_found) {
    cRenderTarget_fbo target(96, 64, true);
    target.create();
    const int32_t x = 10, y = 20, w = 300, h = 200;
    ctx->set_viewport(x, y, w, h);
    const GLint window_draw_buffer = gl_int(GL_DRAW_BUFFER);
    while (glGetError() != GL_NO_ERROR) {
    }

    target.bind(*ctx, 0);
    EXPECT_EQ(cached_viewport(*ctx), (std::vector<int32_t>{0, 0, 96, 64}));
    EXPECT_EQ(gl_viewport(), (std::vector<GLint>{0, 0, 96, 64}));
    EXPECT_EQ(gl_int(GL_FRAMEBUFFER_BINDING), static_cast<GLint>(target.framebuffer()));
    EXPECT_EQ(gl_int(GL_DRAW_BUFFER), GL_COLOR_ATTACHMENT0);

    target.unbind(*ctx);
    EXPECT_EQ(cached_viewport(*ctx), (std::vector<int32_t>{10, 20, 300, 200}));
    EXPECT_EQ(gl_viewport(), (std::vector<GLint>{10, 20, 300, 200}));
    EXPECT_EQ(gl_int(GL_FRAMEBUFFER_BINDING), 0);
    EXPECT_EQ(gl_int(GL_DRAW_BUFFER), window_draw_buffer);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << "restoring must not raise a GL error";
}

TEST_F(Targets, binds_do_not_nest_and_an_inner_unbind_returns_to_the_window) {
    cRenderTarget_fbo outer(32, 32, true), inner(16, 16, true);
    outer.create();
    inner.create();
    while (glGetError() != GL_NO_ERROR) {
    }
    const GLint window_draw_buffer = gl_int(GL_DRAW_BUFFER);
    outer.bind(*ctx, 0);
    inner.bind(*ctx, 0);
    inner.unbind(*ctx);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_EQ(gl_int(GL_FRAMEBUFFER_BINDING), 0);
    EXPECT_EQ(cached_viewport(*ctx), (std::vector<int32_t>{0, 0, 32, 32})) << "the outer target's viewport";
    outer.unbind(*ctx);
    // The outer target restores its draw buffer with the window bound, which GL refuses.
    while (glGetError() != GL_NO_ERROR) {
    }
    EXPECT_EQ(cached_viewport(*ctx), (std::vector<int32_t>{0, 0, 1280, 720}));
    EXPECT_EQ(gl_int(GL_DRAW_BUFFER), window_draw_buffer);
}

TEST_F(Targets, clear_one_clears_and_any_other_value_keeps_the_contents) {
    cRenderTarget_fbo target(8, 8, true);
    target.create();
    ctx->set_clear_color(1, 0, 0, 1);
    target.bind(*ctx, 1);
    const cPixel red = read_pixel(4, 4);
    EXPECT_EQ(red.r, 255);
    EXPECT_EQ(red.g, 0);
    target.unbind(*ctx);

    ctx->set_clear_color(0, 1, 0, 1);
    for (int32_t keep : {0, 2, -1}) {
        target.bind(*ctx, keep);
        EXPECT_EQ(read_pixel(4, 4).r, 255) << "clear " << keep;
        target.unbind(*ctx);
    }

    cGLRecorder gl;
    cRenderTarget_fbo colour_only(8, 8, false);
    colour_only.create();
    colour_only.bind(*ctx, 1);
    EXPECT_EQ(read_pixel(1, 1).g, 255);
    colour_only.unbind(*ctx);
    target.bind(*ctx, 1);
    target.unbind(*ctx);
    const auto clears = gl.of("glClear");
    ASSERT_EQ(clears.size(), 2u);
    EXPECT_EQ(clears[0].ints[0], GL_COLOR_BUFFER_BIT) << "no depth, no depth clear";
    EXPECT_EQ(clears[1].ints[0], GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

TEST_F(Targets, clearing_applies_the_pending_state_first) {
    cRenderTarget_fbo target(8, 8, true);
    target.create();
    ctx->state()->set_depth_write(false);
    cGLRecorder gl;
    target.bind(*ctx, 1);
    target.unbind(*ctx);
    const auto names = gl.names();
    const auto mask = std::find(names.begin(), names.end(), "glDepthMask");
    const auto clear = std::find(names.begin(), names.end(), "glClear");
    ASSERT_NE(mask, names.end());
    EXPECT_LT(mask, clear);
}

TEST_F(Targets, targets_of_one_size_share_one_depth_renderbuffer) {
    cGLRecorder gl;
    cRenderTarget_fbo a(123, 45, true), b(123, 45, true), wider(124, 45, true), taller(123, 46, true);
    cRenderTarget_fbo none(123, 45, false);
    for (cRenderTarget_fbo* t : {&a, &b, &wider, &taller, &none}) t->create();
    EXPECT_NE(a.depth_renderbuffer(), 0u);
    EXPECT_EQ(a.depth_renderbuffer(), b.depth_renderbuffer());
    EXPECT_NE(a.depth_renderbuffer(), wider.depth_renderbuffer());
    EXPECT_NE(a.depth_renderbuffer(), taller.depth_renderbuffer());
    EXPECT_NE(wider.depth_renderbuffer(), taller.depth_renderbuffer());
    EXPECT_EQ(none.depth_renderbuffer(), 0u);
    EXPECT_EQ(gl.count("glGenRenderbuffers"), 3u) << "b reuses a's";
    const auto storage = gl.of("glRenderbufferStorage");
    ASSERT_EQ(storage.size(), 3u);
    EXPECT_EQ(storage[0].ints, (std::vector<int64_t>{GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, 123, 45}));

    a.bind(*ctx, 0);
    EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
    a.unbind(*ctx);
}

TEST_F(Targets, a_shared_depth_buffer_lives_as_long_as_a_target_uses_it) {
    const size_t cached = depth_buffers::cached_count();
    auto first = std::make_unique<cRenderTarget_fbo>(77, 33, true);
    auto second = std::make_unique<cRenderTarget_fbo>(77, 33, true);
    first->create();
    second->create();
    const GLuint shared = second->depth_renderbuffer();
    EXPECT_EQ(depth_buffers::cached_count(), cached + 1);

    first.reset();
    EXPECT_TRUE(glIsRenderbuffer(shared)) << "the second target still draws with it";
    second->bind(*ctx, 1);
    EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
    second->unbind(*ctx);

    second.reset();
    EXPECT_FALSE(glIsRenderbuffer(shared));
    EXPECT_EQ(depth_buffers::cached_count(), cached);

    // A later target of that size gets a live buffer, not the deleted name.
    cRenderTarget_fbo later(77, 33, true);
    later.create();
    EXPECT_TRUE(glIsRenderbuffer(later.depth_renderbuffer()));
}

TEST_F(Targets, the_depth_texture_goes_with_the_last_target_of_its_size) {
    // Not in the host's table: nothing of the host asks whether a name is a texture.
    const auto is_texture = reinterpret_cast<GLboolean (*)(GLuint)>(platform_gl_resolver("glIsTexture"));
    ASSERT_NE(is_texture, nullptr);
    const size_t held = depth_texture_count();
    auto first = std::make_unique<cRenderTarget_fbo>(66, 22, true);
    auto second = std::make_unique<cRenderTarget_fbo>(66, 22, true);
    first->create();
    second->create();
    cTexture* depth = ctx->depth_texture(first.get());
    ASSERT_NE(depth, nullptr);
    const GLuint name = depth->name;
    EXPECT_TRUE(is_texture(name));
    EXPECT_EQ(depth_texture_count(), held + 1);

    first.reset();
    EXPECT_TRUE(is_texture(name)) << "the second target still shares it";
    EXPECT_EQ(ctx->depth_texture(second.get()), depth);

    second.reset();
    EXPECT_FALSE(is_texture(name)) << "the last user of the depth buffer is gone";
    EXPECT_EQ(depth_texture_count(), held);
}

TEST_F(Targets, the_texture_record_keeps_its_address_and_gets_its_name_at_create) {
    cRenderTarget_fbo target(640, 360, true);
    cTexture* before = target.texture();
    EXPECT_EQ(before->name, 0u);
    EXPECT_EQ(before->target, GLenum(GL_TEXTURE_RECTANGLE));
    EXPECT_EQ(before->width, 640);
    EXPECT_EQ(before->height, 360);
    target.create();
    EXPECT_EQ(target.texture(), before);
    EXPECT_NE(before->name, 0u);

    glBindTexture(GL_TEXTURE_RECTANGLE, before->name);
    GLint format = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_RECTANGLE, 0, GL_TEXTURE_INTERNAL_FORMAT, &format);
    EXPECT_EQ(format, GL_RGBA8);
    glBindTexture(GL_TEXTURE_RECTANGLE, 0);

    target.set_filter(GL_NEAREST, GL_NEAREST);
    target.set_wrap(GL_CLAMP_TO_BORDER);
    glBindTexture(GL_TEXTURE_RECTANGLE, before->name);
    GLint min = 0, wrap = 0;
    glGetTexParameteriv(GL_TEXTURE_RECTANGLE, GL_TEXTURE_MIN_FILTER, &min);
    glGetTexParameteriv(GL_TEXTURE_RECTANGLE, GL_TEXTURE_WRAP_T, &wrap);
    glBindTexture(GL_TEXTURE_RECTANGLE, 0);
    EXPECT_EQ(min, GL_NEAREST);
    EXPECT_EQ(wrap, GL_CLAMP_TO_BORDER);
}

TEST_F(Targets, describe_and_check_complete_report_on_standard_error) {
    cRenderTarget_fbo target(640, 360, true), flat(16, 8, false);
    target.create();
    flat.create();
    {
        cCaptureStream err(STDERR_FILENO);
        target.describe();
        flat.describe();
        EXPECT_EQ(err.stop(),
                  "width x height = (640 x 360)\ntextarget: GL_TEXTURE_RECTANGLE\nwith depth\n"
                  "width x height = (16 x 8)\ntextarget: GL_TEXTURE_RECTANGLE\nwithout depth\n");
    }
    target.bind(*ctx, 0);
    {
        cCaptureStream err(STDERR_FILENO);
        EXPECT_TRUE(target.check_complete());
        EXPECT_EQ(err.stop(), "");
    }
    // Strip every attachment: nothing is left to draw into.
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_RECTANGLE, 0, 0);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, 0);
    {
        cCaptureStream err(STDERR_FILENO);
        EXPECT_FALSE(target.check_complete());
        EXPECT_EQ(err.stop(),
                  "GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT\n"
                  "width x height = (640 x 360)\ntextarget: GL_TEXTURE_RECTANGLE\nwith depth\n");
    }
    target.unbind(*ctx);
}

float depth_at_centre(const cTexture& depth) {
    std::vector<float> values(static_cast<size_t>(depth.width) * depth.height);
    glBindTexture(GL_TEXTURE_RECTANGLE, depth.name);
    glGetTexImage(GL_TEXTURE_RECTANGLE, 0, GL_DEPTH_COMPONENT, GL_FLOAT, values.data());
    glBindTexture(GL_TEXTURE_RECTANGLE, 0);
    return values[static_cast<size_t>(depth.height / 2) * depth.width + depth.width / 2];
}

TEST_F(Targets, the_depth_texture_of_a_size_is_shared_and_holds_the_last_copy) {
    cRenderTargetLease a = ctx->acquire_render_target(320, 180);
    cRenderTargetLease b = ctx->acquire_render_target(320, 180);
    ctx->set_clear_color(0, 0, 0, 0);

    // The quad lies at z = 0: depth 0.5 in the middle of the default range.
    a.target->bind(*ctx, 1);
    ctx->use_shader("default_shader");
    ctx->draw_fullscreen_quad();
    a.target->unbind(*ctx);
    cTexture* depth = ctx->depth_texture(a.target);
    ASSERT_NE(depth, nullptr);
    EXPECT_EQ(depth->target, GLenum(GL_TEXTURE_RECTANGLE));
    EXPECT_EQ(depth->width, 320);
    EXPECT_EQ(depth->height, 180);
    EXPECT_NEAR(depth_at_centre(*depth), 0.5f, 0.001f);

    b.target->bind(*ctx, 1);  // cleared to the far plane
    b.target->unbind(*ctx);
    EXPECT_EQ(ctx->depth_texture(b.target), depth);
    EXPECT_NEAR(depth_at_centre(*depth), 1.0f, 0.001f);
    EXPECT_EQ(cached_viewport(*ctx), (std::vector<int32_t>{0, 0, 1280, 720})) << "the copy unbinds again";
    EXPECT_EQ(ctx->depth_texture(nullptr), nullptr);
}

}  // namespace
