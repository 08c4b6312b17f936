// The graphics context on a real context: what init does and in which order, the draw protocol
// and its attributes, the full-screen quad's corners, indices and texture coordinates, screen
// sized leases, pixels drawn through it into leased targets, and the report of its destruction.
#include <cmath>
#include <stdexcept>

#include "gfx/gl_stage.h"
#include "support/capture_stream.h"

namespace {

using Context = GfxTest;

const float triangle[12] = {-1, -1, 0, 1, 1, -1, 0, 1, 0, 1, 0, 1};

// What one glDrawElements saw: the indices and the arrays of the attributes pointed at before.
struct cQuadDraw {
    std::vector<uint32_t> indices;
    std::vector<float> positions, uv0, uv1;
    int draws = 0;
};

// Copies the arrays while the draw runs (the coordinates live on the drawing call's stack).
void observe_quad(cGLRecorder& gl, cQuadDraw& seen) {
    gl.observe([&seen](const cGLCall& call) {
        if (call.name != "glDrawElements") return;
        ++seen.draws;
        auto* indices = static_cast<const uint32_t*>(call.pointers[0]);
        seen.indices.assign(indices, indices + call.ints[1]);
        for (const cGLCall& earlier : gl_record::calls()) {
            if (earlier.name != "glVertexAttribPointer") continue;
            auto* data = static_cast<const float*>(earlier.pointers[0]);
            const int64_t attribute = earlier.ints[0], components = earlier.ints[1];
            std::vector<float> values(data, data + 4 * components);
            if (attribute == 0) seen.positions = values;
            if (attribute == 2) seen.uv0 = values;
            if (attribute == 3) seen.uv1 = values;
        }
    });
}

bool attribute_enabled(GLuint index) {
    GLint enabled = 0;
    glGetVertexAttribiv(index, GL_VERTEX_ATTRIB_ARRAY_ENABLED, &enabled);
    return enabled != 0;
}

// RGBA bytes of one pixel of the bound framebuffer.
cPixel read_pixel(int x, int y) {
    cPixel p{};
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, &p);
    return p;
}

void expect_near(const cPixel& p, int r, int g, int b, int a, const char* what) {
    EXPECT_LE(std::abs(p.r - r), 1) << what << " red " << int(p.r);
    EXPECT_LE(std::abs(p.g - g), 1) << what << " green " << int(p.g);
    EXPECT_LE(std::abs(p.b - b), 1) << what << " blue " << int(p.b);
    EXPECT_LE(std::abs(p.a - a), 1) << what << " alpha " << int(p.a);
}

TEST(ContextStartUp, init_binds_the_window_and_runs_its_steps_in_order) {
    gfxContext ctx;
    EXPECT_EQ(std::vector<int32_t>(ctx.viewport(), ctx.viewport() + 4), (std::vector<int32_t>{-1, -1, -1, -1}));
    EXPECT_EQ(ctx.window(), nullptr);

    cGLRecorder gl;
    cCaptureStream out(STDOUT_FILENO);
    ctx.init(&cGLStage::window());
    const std::string said = out.stop();

    EXPECT_EQ(std::vector<int32_t>(ctx.viewport(), ctx.viewport() + 4), (std::vector<int32_t>{0, 0, 1280, 720}));
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(std::vector<GLint>(viewport, viewport + 4), (std::vector<GLint>{0, 0, 1280, 720}));
    EXPECT_TRUE(ctx.has_shader("default_shader"));
    EXPECT_NE(said.find("# note: compiled data/shaders/default.vert data/shaders/default.frag\n"), std::string::npos);
    EXPECT_EQ(said.find("performance-warning"), std::string::npos) << "warm-up targets are no run-time allocations";
    EXPECT_EQ(ctx.pool().free_count(), 9u);

    // Start-up state, viewport, clear colour, clear, then the warm-up's targets. (Only base entry
    // points can be watched here: init reloads the extension entries.)
    auto first = [&](const std::string& name, std::function<bool(const cGLCall&)> match) {
        const auto& calls = gl.calls();
        for (size_t i = 0; i < calls.size(); ++i)
            if (calls[i].name == name && match(calls[i])) return static_cast<long>(i);
        return -1L;
    };
    auto any = [](const cGLCall&) { return true; };
    const long state = first("glEnable", [](const cGLCall& c) { return c.ints[0] == GL_LINE_SMOOTH; });
    const long view = first("glViewport", any);
    const long colour = first("glClearColor", [](const cGLCall& c) { return c.floats[3] == 0.0; });
    const long cleared = first("glClear", any);
    const long warm = first("glTexImage2D", [](const cGLCall& c) { return c.ints[0] == GL_TEXTURE_RECTANGLE; });
    EXPECT_TRUE(state >= 0 && state < view && view < colour && colour < cleared && cleared < warm)
        << state << " " << view << " " << colour << " " << cleared << " " << warm;
    EXPECT_EQ(gl.of("glViewport")[0].ints, (std::vector<int64_t>{0, 0, 1280, 720}));
    EXPECT_EQ(gl.of("glClear")[0].ints[0], GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

TEST_F(Context, draws_point_attribute_zero_apply_the_state_draw_and_disable) {
    ctx->state()->set_blending(false);  // a change the draw must send first
    cGLRecorder gl;
    ctx->draw_triangles(triangle, 3);
    const std::vector<std::string> expected = {"glVertexAttribPointer", "glEnableVertexAttribArray", "glDisable",
                                               "glDrawArrays", "glDisableVertexAttribArray"};
    ASSERT_EQ(gl.names(), expected);
    const cGLCall& pointer = gl.calls()[0];
    EXPECT_EQ(pointer.ints, (std::vector<int64_t>{0, 4, GL_FLOAT, GL_FALSE, 0}));
    EXPECT_EQ(pointer.pointers[0], triangle);
    EXPECT_EQ(gl.calls()[3].ints, (std::vector<int64_t>{GL_TRIANGLES, 0, 3}));

    gl.clear();
    ctx->draw_lines(triangle, 3);
    ctx->draw_points(triangle, 2);
    const uint32_t indices[3] = {0, 1, 2};
    ctx->draw_indexed(indices, triangle, 3);
    const auto arrays = gl.of("glDrawArrays");
    ASSERT_EQ(arrays.size(), 2u);
    EXPECT_EQ(arrays[0].ints, (std::vector<int64_t>{GL_LINES, 0, 6})) << "two vertices per line";
    EXPECT_EQ(arrays[1].ints, (std::vector<int64_t>{GL_POINTS, 0, 2}));
    const auto elements = gl.of("glDrawElements");
    ASSERT_EQ(elements.size(), 1u);
    EXPECT_EQ(elements[0].ints, (std::vector<int64_t>{GL_TRIANGLES, 3, GL_UNSIGNED_INT}));
    EXPECT_EQ(elements[0].pointers[0], indices);
    EXPECT_FALSE(attribute_enabled(0));
}

TEST_F(Context, the_fullscreen_quad_is_two_counter_clockwise_triangles_with_unit_coordinates) {
    cGLRecorder gl;
    cQuadDraw seen;
    observe_quad(gl, seen);
    ctx->draw_fullscreen_quad();
    ASSERT_EQ(seen.draws, 1);
    EXPECT_EQ(seen.indices, (std::vector<uint32_t>{0, 1, 2, 2, 3, 0}));
    EXPECT_EQ(seen.positions, (std::vector<float>{-1, -1, 0, 1, 1, -1, 0, 1, 1, 1, 0, 1, -1, 1, 0, 1}));
    EXPECT_EQ(seen.uv0, (std::vector<float>{0, 0, 1, 0, 1, 1, 0, 1}));
    EXPECT_TRUE(seen.uv1.empty());
    for (GLuint a : {0u, 2u, 3u}) EXPECT_FALSE(attribute_enabled(a)) << "attribute " << a;

    // Rectangle textures are addressed in texels.
    cRenderTargetLease lease = ctx->acquire_render_target(640, 360);
    seen = {};
    gl.clear();
    ctx->draw_fullscreen_quad_tex(lease.target->texture());
    EXPECT_EQ(seen.uv0, (std::vector<float>{0, 0, 640, 0, 640, 360, 0, 360}));

    // No texture: nothing to span, nothing drawn.
    seen = {};
    ctx->draw_fullscreen_quad_tex(nullptr);
    EXPECT_EQ(seen.draws, 0);
}

TEST_F(Context, the_two_coordinate_quad_sends_both_sets_and_leaves_every_attribute_off) {
    cGLRecorder gl;
    cQuadDraw seen;
    observe_quad(gl, seen);
    ctx->draw_fullscreen_quad_uv2(1280, 720, 640, 360);
    ASSERT_EQ(seen.draws, 1);
    EXPECT_EQ(seen.uv0, (std::vector<float>{0, 0, 1280, 0, 1280, 720, 0, 720}));
    EXPECT_EQ(seen.uv1, (std::vector<float>{0, 0, 640, 0, 640, 360, 0, 360}));
    // Outermost first: attribute 3, then 2, then 0 are pointed; disabled the other way round.
    std::vector<int64_t> enabled, disabled;
    for (const cGLCall& c : gl.calls()) {
        if (c.name == "glEnableVertexAttribArray") enabled.push_back(c.ints[0]);
        if (c.name == "glDisableVertexAttribArray") disabled.push_back(c.ints[0]);
    }
    EXPECT_EQ(enabled, (std::vector<int64_t>{3, 2, 0}));
    EXPECT_EQ(disabled, (std::vector<int64_t>{0, 2, 3}));
    for (GLuint a : {0u, 2u, 3u}) EXPECT_FALSE(attribute_enabled(a)) << "attribute " << a;
}

TEST_F(Context, screen_sized_leases_divide_the_render_size_in_whole_pixels) {
    cCaptureStream out(STDOUT_FILENO);
    {
        cRenderTargetLease half = ctx->acquire_screen_render_target(2);
        EXPECT_EQ(half.target->texture()->width, 640);
        EXPECT_EQ(half.target->texture()->height, 360);
        EXPECT_EQ(half.owner, ctx.get());
    }
    for (int i = 0; i < 2; ++i) {
        cRenderTargetLease third = ctx->acquire_screen_render_target(3);
        EXPECT_EQ(third.target->texture()->width, 426);
        EXPECT_EQ(third.target->texture()->height, 240);
    }
    {
        // A divisor below 1 cannot divide; it leases the full size.
        cRenderTargetLease whole = ctx->acquire_screen_render_target(0);
        EXPECT_EQ(whole.target->texture()->width, 1280);
    }
    EXPECT_EQ(out.stop(), "# performance-warning: allocated rendertarget runtime: 426x240\n");
}

TEST_F(Context, a_quad_drawn_into_a_leased_target_leaves_the_expected_colour) {
    cGLStage::dir().write("copy.vert",
                          "#version 120\nattribute vec4 position;\nattribute vec2 uv;\nvarying vec2 t;\n"
                          "void main() { t = uv; gl_Position = position; }\n");
    cGLStage::dir().write("copy.frag",
                          "#version 120\n#extension GL_ARB_texture_rectangle : enable\n"
                          "uniform sampler2DRect source;\nvarying vec2 t;\n"
                          "void main() { gl_FragColor = texture2DRect(source, t); }\n");
    ctx->load_shader("copy", "copy.vert", "copy.frag");
    ASSERT_TRUE(ctx->has_shader("copy"));

    cRenderTargetLease first = ctx->acquire_render_target(64, 48);
    first.target->bind(*ctx, 1);
    ctx->use_shader("default_shader");
    const float colour[4] = {0.25f, 0.5f, 0.75f, 1.0f};
    ctx->set_vector("default_shader", "colour", colour);
    ctx->draw_fullscreen_quad();
    expect_near(read_pixel(0, 0), 64, 128, 191, 255, "lower left");
    expect_near(read_pixel(63, 47), 64, 128, 191, 255, "upper right");
    first.target->unbind(*ctx);

    // A second pass reads the first through its rectangle texture, texel for texel.
    cRenderTargetLease second = ctx->acquire_render_target(64, 48);
    second.target->bind(*ctx, 1);
    ctx->state()->set_blending(false);
    ctx->use_shader("copy");
    ctx->set_texture("copy", "source", first.target->texture());
    ctx->draw_fullscreen_quad_tex(first.target->texture());
    expect_near(read_pixel(31, 20), 64, 128, 191, 255, "copied");
    second.target->unbind(*ctx);
    EXPECT_EQ(gl_int(GL_FRAMEBUFFER_BINDING), 0);
}

TEST_F(Context, a_lease_left_by_an_exception_goes_back_to_the_pool) {
    const uint32_t free_before = ctx->pool().free_count();
    try {
        cRenderTargetLease lease = ctx->acquire_render_target(1280, 720);
        EXPECT_EQ(ctx->pool().outstanding(), 1);
        throw std::runtime_error("module failed mid-pass");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(ctx->pool().outstanding(), 0);
    EXPECT_EQ(ctx->pool().free_count(), free_before);
}

TEST_F(Context, destroying_the_context_reports_the_pool) {
    cCaptureStream out(STDOUT_FILENO), err(STDERR_FILENO);
    ctx.reset();
    EXPECT_EQ(out.stop(),
              "# rrt-manager: number of tmp-rt allocated: 9\n"
              "# rtt-manager: maximum concurrently allocated RTs: 9\n");
    EXPECT_EQ(err.stop(), "");
}

TEST_F(Context, destroying_the_context_with_a_lease_out_reports_it_first) {
    cRenderTargetLease kept = ctx->acquire_render_target(320, 180);
    iRenderTarget* target = kept.target;
    {
        cCaptureStream out(STDOUT_FILENO), err(STDERR_FILENO);
        ctx.reset();
        EXPECT_EQ(err.stop(), "## ERROR, rendertargetmanager: rendertarget still bound while exiting...\n");
        EXPECT_EQ(out.stop(),
                  "# rrt-manager: number of tmp-rt allocated: 8\n"
                  "# rtt-manager: maximum concurrently allocated RTs: 9\n");
    }
    // The leased target was not destroyed with the pool; its owner is gone, so the test lets go.
    kept.owner = nullptr;
    kept.target = nullptr;
    EXPECT_NE(target->texture()->name, 0u);
    delete target;
}

TEST_F(Context, models_are_loaded_and_found_through_the_context) {
    EXPECT_EQ(ctx->model("nothing_loaded"), nullptr);
    cGLStage::dir().write("tri.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nf 1//1 2//1 3//1\n");
    ctx->load_model("tri", "tri.obj");
    iModel* tri = ctx->model("tri");
    ASSERT_NE(tri, nullptr);
    EXPECT_EQ(tri->bounds().max_x, 1.0f);
    ctx->load_model("picture", "picture.png");
    EXPECT_EQ(ctx->model("picture"), nullptr);
}

}  // namespace
