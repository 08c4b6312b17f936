// Models on a real GL context: the model manager's loading and its messages, uploads that keep
// drawing after the CPU copies are gone, one indexed draw without materials and one draw per
// range with them, and the pixels those draws leave in a leased target.
#include <cmath>

#include "gfx/gl_stage.h"
#include "gfx/models/gpu_model.h"
#include "gfx/models/model_manager.h"
#include "mesh_files/obj/mesh_config.h"
#include "support/capture_stream.h"

namespace {

using ModelOnContext = GfxTest;

// Two quads side by side in clip space, z = 0: the left half and the right half.
std::string halves_file(bool with_material) {
    return std::string(with_material ? "usemtl paint\n" : "") +
           "v -1 -1 0\nv 0 -1 0\nv 0 1 0\nv -1 1 0\nv 1 -1 0\nv 1 1 0\n"
           "vn 0 0 1\n"
           "g left\nf 1//1 2//1 3//1 4//1\ng right\nf 2//1 5//1 6//1 3//1\n";
}

cPixel read_pixel(int x, int y) {
    cPixel p{};
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, &p);
    return p;
}

bool is_colour(const cPixel& p, int r, int g, int b) {
    return std::abs(p.r - r) <= 1 && std::abs(p.g - g) <= 1 && std::abs(p.b - b) <= 1;
}

// Draws into a cleared 64 x 48 target with the default program in red and reports whether
// the left and the right half came out red.
struct cHalves {
    bool left = false, right = false;
};

template <typename F>
cHalves draw_halves(gfxContext& ctx, F draw) {
    cRenderTargetLease target = ctx.acquire_render_target(64, 48);
    target.target->bind(ctx, 1);
    ctx.state()->set_blending(false);
    ctx.use_shader("default_shader");
    const float red[4] = {1, 0, 0, 1};
    ctx.set_vector("default_shader", "colour", red);
    draw();
    cHalves seen{is_colour(read_pixel(16, 24), 255, 0, 0), is_colour(read_pixel(48, 24), 255, 0, 0)};
    target.target->unbind(ctx);
    return seen;
}

}  // namespace

TEST_F(ModelOnContext, the_manager_loads_once_and_keeps_names_taken) {
    cModelManager models;
    const std::string path = cGLStage::dir().write("models/halves.obj", halves_file(false));
    cCaptureStream err(STDERR_FILENO);
    models.load_model("halves", path);
    EXPECT_EQ(err.text(), "-\ncObjLoader::load_file parsing " + path + " ... done reading obj.\n-\nuploading " + path +
                              "... done\n");
    iModel* halves = models.model("halves");
    ASSERT_NE(halves, nullptr);

    models.load_model("halves", cGLStage::dir() / "models/other.obj");
    EXPECT_EQ(models.model("halves"), halves);
    EXPECT_EQ(models.model("later"), nullptr);
    models.load_model("later", path);
    EXPECT_EQ(models.model("later"), nullptr);
    const std::string png = cGLStage::dir().write("models/picture.png", "");
    models.load_model("picture", png);
    EXPECT_EQ(models.model("picture"), nullptr);
    const std::string broken = cGLStage::dir().write("models/broken.obj", "v 0 0 0\nf 1 2 3\n");
    models.load_model("broken", broken);
    EXPECT_EQ(models.model("broken"), nullptr);
    EXPECT_EQ(err.stop(), "-\ncObjLoader::load_file parsing " + path + " ... done reading obj.\n-\nuploading " + path +
                              "... done\n"
                              "# already inserted model halves\n"
                              "# already inserted model later\n"
                              "-\ncObjLoader::load_file parsing " + broken + " ... done reading obj.\n-\n"
                              "## ERROR in \"" + broken + "\" line 2: position 2 does not exist (the file has 1); "
                              "the file is not loaded\n");
}

TEST_F(ModelOnContext, a_model_without_materials_is_one_draw_and_keeps_its_bounds_after_upload) {
    const std::string path = cGLStage::dir().write("models/plain.obj", halves_file(false));
    cModel* model = nullptr;
    {
        cCaptureStream err(STDERR_FILENO);
        model = load_model_file(path);
    }
    ASSERT_NE(model, nullptr);
    const cBoundingBox before = model->bounds();
    model->upload(true);
    EXPECT_EQ(model->mesh.positions, std::vector<float>{0.0f});
    EXPECT_EQ(model->mesh.indices.size(), 12u);
    const cBoundingBox after = model->bounds();
    EXPECT_EQ(std::vector<float>({after.min_x, after.min_y, after.max_x, after.max_y}),
              std::vector<float>({before.min_x, before.min_y, before.max_x, before.max_y}));
    EXPECT_EQ(std::vector<float>({after.min_x, after.min_y, after.min_z, after.max_x, after.max_y, after.max_z}),
              std::vector<float>({-1, -1, 0, 1, 1, 0}));
    EXPECT_EQ(model->group_count(), 2);

    cGLRecorder gl;
    cHalves seen = draw_halves(*ctx, [&] { model->draw(*ctx); });
    EXPECT_TRUE(seen.left && seen.right);
    const auto draws = gl.of("glDrawElements");
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0].ints, (std::vector<int64_t>{GL_TRIANGLES, 12, GL_UNSIGNED_INT}));
    EXPECT_EQ(draws[0].pointers[0], nullptr);
    // Attribute 0 with three floats, attribute 1 for the normals, nothing on 2.
    const auto pointers = gl.of("glVertexAttribPointer");
    ASSERT_EQ(pointers.size(), 2u);
    EXPECT_EQ(pointers[0].ints, (std::vector<int64_t>{0, 3, GL_FLOAT, GL_FALSE, 0}));
    EXPECT_EQ(pointers[1].ints, (std::vector<int64_t>{1, 3, GL_FLOAT, GL_FALSE, 0}));
    // Everything bound for the draw is unbound again.
    EXPECT_EQ(gl_int(GL_ARRAY_BUFFER_BINDING), 0);
    EXPECT_EQ(gl_int(GL_ELEMENT_ARRAY_BUFFER_BINDING), 0);
    EXPECT_EQ(gl.count("glDisableVertexAttribArray"), 2u);
    delete model;
}

TEST_F(ModelOnContext, a_model_with_materials_draws_range_by_range) {
    const std::string path = cGLStage::dir().write("models/painted.obj", halves_file(true));
    cModel* model = nullptr;
    {
        cCaptureStream err(STDERR_FILENO);
        model = load_model_file(path);
    }
    ASSERT_NE(model, nullptr);
    ASSERT_EQ(model->mesh.flags & kMeshHasMaterials, kMeshHasMaterials);
    model->upload(true);

    cGLRecorder gl;
    cHalves whole = draw_halves(*ctx, [&] { model->draw(*ctx); });
    EXPECT_TRUE(whole.left && whole.right);
    auto draws = gl.of("glDrawElements");
    ASSERT_EQ(draws.size(), 2u);
    EXPECT_EQ(draws[0].ints[1], 6);
    EXPECT_EQ(draws[0].pointers[0], nullptr);
    EXPECT_EQ(draws[1].ints[1], 6);
    EXPECT_EQ(draws[1].pointers[0], reinterpret_cast<const void*>(6 * sizeof(uint32_t)));

    // Only the right group; a group that does not exist draws nothing.
    gl.clear();
    const int32_t groups[3] = {1, 7, -1};
    cHalves right = draw_halves(*ctx, [&] { model->draw_groups(*ctx, 3, groups); });
    EXPECT_FALSE(right.left);
    EXPECT_TRUE(right.right);
    EXPECT_EQ(gl.count("glDrawElements"), 1u);

    // draw_group needs the buffers bound by the caller.
    cHalves left = draw_halves(*ctx, [&] {
        model->bind_buffers();
        model->draw_group(*ctx, 0);
        model->unbind_buffers();
    });
    EXPECT_TRUE(left.left);
    EXPECT_FALSE(left.right);
    delete model;
}
