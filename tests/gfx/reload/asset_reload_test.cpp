// The graphics stores' live reloads on a real context: a program rebuilt from a changed file
// (kept on a compile or link error, uniforms it lost still settable), an image decoded again
// into the same texture record, a mesh loaded again into the same model; and every refusal
// leaves what was there in use without ending the process.
#include <cmath>

#include "gfx/gl_stage.h"
#include "gfx/models/gpu_model.h"
#include "support/capture_stream.h"

namespace {

using AssetReload = GfxTest;

constexpr const char* pass_vert = "#version 120\nattribute vec4 position;\nvoid main() { gl_Position = position; }\n";
constexpr const char* red_frag =
    "#version 120\nuniform vec4 tint;\nuniform vec4 gain;\nvoid main() { gl_FragColor = vec4(1.0, 0.0, 0.0, 1.0) * tint * gain; }\n";
// Drops "gain" and turns green.
constexpr const char* green_frag =
    "#version 120\nuniform vec4 tint;\nvoid main() { gl_FragColor = vec4(0.0, 1.0, 0.0, 1.0) * tint; }\n";
constexpr const char* broken_frag = "#version 120\nvoid main() { gl_FragColor = vec4(1.0 }\n";

cPixel centre_of_quad(gfxContext& ctx, const std::string& program) {
    cRenderTargetLease lease = ctx.acquire_render_target(16, 16);
    lease.target->bind(ctx, 1);
    ctx.set_clear_color(0, 0, 0, 1);
    ctx.clear();
    ctx.use_shader(program);
    const float one[4] = {1, 1, 1, 1};
    ctx.set_vector(program, "tint", one);
    ctx.set_vector(program, "gain", one);  // gone from the green version: must not throw
    ctx.draw_fullscreen_quad();
    cPixel p{};
    glReadPixels(8, 8, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, &p);
    lease.target->unbind(ctx);
    return p;
}

}  // namespace

TEST_F(AssetReload, a_program_is_rebuilt_from_its_changed_file_and_kept_when_the_file_is_broken) {
    const cTempDir& d = cGLStage::dir();
    d.write("probe.vert", pass_vert);
    d.write("probe.frag", red_frag);
    ctx->load_shader("probe", "probe.vert", "probe.frag");
    ctx->load_shader("other", "probe.vert", "probe.frag");
    ASSERT_TRUE(ctx->has_shader("probe"));
    cPixel p = centre_of_quad(*ctx, "probe");
    EXPECT_EQ(p.r, 255);
    EXPECT_EQ(p.g, 0);
    const uint32_t red_program = ctx->shaders().find("probe")->program;

    // A file no program is made from changes nothing.
    EXPECT_TRUE(ctx->shaders().reload_file("unrelated.frag").reloaded.empty());

    d.write("probe.frag", broken_frag);
    cCaptureStream err(STDERR_FILENO);
    cShaderManager::cReload broken = ctx->shaders().reload_file("./probe.frag");  // another spelling of the path
    const std::string messages = err.stop();
    EXPECT_EQ(broken.kept, (std::vector<std::string>{"other", "probe"}));
    EXPECT_TRUE(broken.reloaded.empty());
    EXPECT_FALSE(broken.error.empty()) << "the compiler's log is handed back";
    EXPECT_NE(messages.find("## ERROR: compilation of probe.frag failed"), std::string::npos) << messages;
    EXPECT_NE(messages.find("## ERROR: program \"probe\" keeps its previous version"), std::string::npos) << messages;
    EXPECT_EQ(ctx->shaders().find("probe")->program, red_program);
    p = centre_of_quad(*ctx, "probe");
    EXPECT_EQ(p.r, 255) << "the previous version stays in use";

    d.write("probe.frag", green_frag);
    cCaptureStream warnings(STDERR_FILENO);
    cShaderManager::cReload fixed = ctx->shaders().reload_file("probe.frag");
    const std::string lost = warnings.stop();
    EXPECT_EQ(fixed.reloaded, (std::vector<std::string>{"other", "probe"}));
    EXPECT_TRUE(fixed.kept.empty());
    EXPECT_NE(ctx->shaders().find("probe")->program, red_program);
    GLint deleted = GL_FALSE;
    glGetProgramiv(red_program, GL_DELETE_STATUS, &deleted);  // still current: freed once it is not
    EXPECT_EQ(deleted, GL_TRUE) << "the replaced program is deleted";
    EXPECT_NE(lost.find("program \"probe\" has no uniform \"gain\" any more"), std::string::npos) << lost;
    p = centre_of_quad(*ctx, "probe");
    EXPECT_EQ(p.r, 0);
    EXPECT_EQ(p.g, 255);
    EXPECT_EQ(ctx->shaders().find("probe")->vectors.at("gain").location, -1);
    EXPECT_THROW(ctx->set_vector("probe", "never_there", std::array<float, 4>{}.data()), std::out_of_range)
        << "names the program never had still fail as always";
}

TEST_F(AssetReload, an_image_is_decoded_again_into_the_same_record_and_refused_ones_keep_their_pixels) {
    write_flat_image(path("swap.png"), 8, 8, 32, {255, 0, 0, 255});
    cTexture* texture = ctx->load_texture("swap.png");
    ASSERT_EQ(texture->target, GLenum(GL_TEXTURE_2D));
    const uint32_t name = texture->name;

    std::string error;
    write_flat_image(path("swap.png"), 16, 4, 24, {0, 0, 255, 255});
    EXPECT_EQ(ctx->textures().reload_file("swap.png", error), 1) << error;
    EXPECT_EQ(ctx->load_texture("swap.png"), texture) << "the same record";
    EXPECT_EQ(texture->name, name) << "the same GL texture";
    EXPECT_EQ(texture->width, 16);
    EXPECT_EQ(texture->height, 4);
    std::vector<cPixel> texels = read_texels(*texture);
    EXPECT_EQ(texels[0].b, 255);
    EXPECT_EQ(texels[0].r, 0);

    // A size that is not a power of two would make it a rectangle texture, which the programs
    // sampling it as 2D cannot read: refused. So are files that do not decode, and 8-bit ones.
    write_flat_image(path("swap.png"), 10, 6, 24, {0, 255, 0, 255});
    EXPECT_EQ(ctx->textures().reload_file("swap.png", error), 0);
    EXPECT_NE(error.find("rectangle"), std::string::npos) << error;
    cGLStage::dir().write("swap.png", "not an image");
    EXPECT_EQ(ctx->textures().reload_file("swap.png", error), 0);
    write_flat_image(path("swap.png"), 8, 8, 8);
    EXPECT_EQ(ctx->textures().reload_file("swap.png", error), 0);
    EXPECT_NE(error.find("24 or 32"), std::string::npos) << error;
    EXPECT_EQ(texture->width, 16) << "the refused files changed nothing";
    texels = read_texels(*texture);
    EXPECT_EQ(texels[0].b, 255);
}

TEST_F(AssetReload, a_mesh_is_loaded_again_into_the_same_model_and_a_broken_file_keeps_the_old_one) {
    const cTempDir& d = cGLStage::dir();
    d.write("thing.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    cCaptureStream quiet(STDERR_FILENO);
    ctx->load_model("thing", "thing.obj");
    iModel* model = ctx->model("thing");
    ASSERT_NE(model, nullptr);
    EXPECT_FLOAT_EQ(model->bounds().max_x, 1.0f);

    std::string error;
    d.write("thing.obj", "v 0 0 0\nv 4 0 0\nv 0 2 0\nv 4 2 0\nf 1 2 4 3\n");
    EXPECT_EQ(ctx->models().reload_file("thing.obj", error), 1) << error;
    EXPECT_EQ(ctx->model("thing"), model) << "the same object";
    EXPECT_FLOAT_EQ(model->bounds().max_x, 4.0f);
    EXPECT_EQ(static_cast<cModel*>(model)->mesh.indices.size(), 6u) << "the quad's two triangles";

    // An empty file and one the loader ends the process for (a face of two corners in a file
    // without normals) are refusals here, not the end of the show.
    d.write("thing.obj", "");
    EXPECT_EQ(ctx->models().reload_file("thing.obj", error), 0);
    d.write("thing.obj", "v 0 0 0\nv 1 0 0\nf 1 2\n");
    EXPECT_EQ(ctx->models().reload_file("thing.obj", error), 0);
    quiet.stop();
    EXPECT_FLOAT_EQ(model->bounds().max_x, 4.0f);
    EXPECT_EQ(static_cast<cModel*>(model)->mesh.indices.size(), 6u);
}
