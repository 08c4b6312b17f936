// The graphics stores' live reloads on a real context: a program rebuilt from a changed file
// (kept on a compile or link error, uniforms it lost still settable), an image decoded again
// into the same texture record (between frames, decoded elsewhere, a large one in bands), a
// mesh loaded again into the same model; and every refusal leaves what was there in use
// without ending the process.
#include <SDL2/SDL.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <iterator>
#include <thread>

#include "gfx/gl_stage.h"
#include "gfx/models/gpu_model.h"
#include "authoring/dev/asset_reloader.h"
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

// The frame loop's side of an image reload: nothing happens where the change is noticed, the
// decode runs elsewhere, and what is too large for GL is refused in one line before decoding.
TEST_F(AssetReload, an_image_saved_while_the_show_runs_is_taken_between_frames_and_one_too_large_is_refused) {
    write_flat_image(path("live.png"), 8, 8, 32, {255, 0, 0, 255});
    cTexture* texture = ctx->load_texture("live.png");
    cAssetReloader reloader(*ctx);
    auto outcome_of_frames = [&] {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);  // a hang, not a speed
        while (std::chrono::steady_clock::now() < give_up) {
            std::vector<cReloadOutcome> outcomes = reloader.poll_images();
            if (!outcomes.empty()) return outcomes.front();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return cReloadOutcome{false, "", "no outcome"};
    };

    write_flat_image(path("live.png"), 8, 8, 32, {0, 0, 255, 255});
    EXPECT_FALSE(reloader.texture_changed("live.png").has_value());
    EXPECT_EQ(read_texels(*texture)[0].r, 255) << "nothing changes until a frame takes it";
    cCaptureStream out(STDOUT_FILENO);
    cReloadOutcome taken = outcome_of_frames();
    out.stop();
    EXPECT_TRUE(taken.ok) << taken.message;
    EXPECT_EQ(read_texels(*texture)[0].b, 255);

    // GL_MAX_TEXTURE_SIZE as GL says it, for the line that names it.
    GLint most = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &most);
    ASSERT_LT(most, 32768) << "this GL takes the image; the refusal cannot be seen here";
    write_flat_image(path("live.png"), 32768, 16, 24);
    reloader.texture_changed("live.png");
    cCaptureStream err(STDERR_FILENO);
    cReloadOutcome refused = outcome_of_frames();
    tell_console(refused);
    const std::string said = err.stop();
    EXPECT_FALSE(refused.ok);
    const std::string reason = "at 32768 x 16 it is larger than this GL's 2D textures can be (" +
                               std::to_string(most) + " x " + std::to_string(most) + ")";
    EXPECT_EQ(said, "## ERROR: \"live.png\" was not reloaded: " + reason + "; the texture keeps its pixels\n");
    EXPECT_EQ(texture->width, 8);
    EXPECT_EQ(read_texels(*texture)[0].b, 255);

    // A decode asked to stop ends without a bitmap: what lets the process end during one.
    std::ifstream in(path("live.png"), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::atomic<bool> stop{true};
    cImage cancelled = decode_image("live.png", bytes, &stop);
    EXPECT_EQ(cancelled.bitmap, nullptr);
    EXPECT_EQ(cancelled.problem, "cancelled");
}

// A reloaded image too large to go up within a frame: one band of rows per frame into another
// texture; until the last band the record keeps its texture, so no frame shows half. The one
// replaced is the storage of the next reload at the same size, which then needs no storage step.
TEST_F(AssetReload, a_large_image_goes_up_in_bands_and_takes_the_records_place_only_when_whole) {
    // 2048 x 1024 x 4 bytes = 8 MiB; bands of 1 MiB are 128 rows: 8 bands, after the storage.
    // (Half transparent, or the PNG would be written, and decoded, as 24 bits.)
    const cPixel red{255, 0, 0, 128}, blue{0, 0, 255, 128}, green{0, 255, 0, 128};
    write_flat_image(path("big.png"), 2048, 1024, 32, red);
    cTexture* texture = ctx->load_texture("big.png");
    const uint32_t first_name = texture->name;

    // Reloads the file as colour; the number of frames it took.
    auto reload = [&](const cPixel& colour, const cPixel& before) {
        write_flat_image(path("big.png"), 2048, 1024, 32, colour);
        std::string error;
        EXPECT_TRUE(ctx->textures().begin_replacing("big.png", load_image("big.png"), error)) << error;
        const uint32_t name = texture->name;
        int frames = 0;
        std::vector<cTextureManager::cReplaced> done;
        while (done.empty() && frames < 100) {
            ++frames;
            done = ctx->textures().continue_replacing(0.0);  // no time to spare: the least each frame
            if (!done.empty()) break;
            EXPECT_EQ(texture->name, name) << "frame " << frames;
            EXPECT_EQ(read_texels(*texture)[2048 * 1023].r, before.r) << "frame " << frames;
        }
        EXPECT_EQ(done.size(), 1u);
        EXPECT_TRUE(!done.empty() && done[0].ok) << (done.empty() ? "" : done[0].error);
        const std::vector<cPixel> texels = read_texels(*texture);
        EXPECT_EQ(texels[0].g, colour.g);
        EXPECT_EQ(texels[2048 * 1023].b, colour.b) << "the last row too";
        return frames;
    };
    EXPECT_EQ(reload(blue, red), 9) << "the storage, then 8 bands";
    const uint32_t second_name = texture->name;
    EXPECT_NE(second_name, first_name);
    EXPECT_EQ(reload(green, blue), 8) << "8 bands into the texture the first reload replaced";
    EXPECT_EQ(texture->name, first_name);

    // Another size: the spare does not fit and goes.
    write_flat_image(path("big.png"), 1024, 2048, 32, red);
    std::string error;
    ASSERT_TRUE(ctx->textures().begin_replacing("big.png", load_image("big.png"), error)) << error;
    auto is_texture = reinterpret_cast<GLboolean (*)(GLuint)>(SDL_GL_GetProcAddress("glIsTexture"));
    EXPECT_FALSE(is_texture(second_name));
    while (ctx->textures().continue_replacing(1.0).empty()) {
    }
    EXPECT_EQ(texture->width, 1024);
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
