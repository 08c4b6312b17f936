// A burst of changed shader files on a real GL context: every program made from any of them is
// rebuilt once however many of its files changed, a failure is told and counted, and the
// burst is summed up in one line. A model's reload alone is told once, and in a burst of
// several files it is summed up with them.
#include "gfx/gl_stage.h"
#include "authoring/dev/asset_reloader.h"
#include "support/capture_stream.h"

namespace {

using AssetBurst = GfxTest;

constexpr const char* pass_vert = "#version 120\nattribute vec4 position;\nvoid main() { gl_Position = position; }\n";
constexpr const char* red_frag = "#version 120\nvoid main() { gl_FragColor = vec4(1.0, 0.0, 0.0, 1.0); }\n";
constexpr const char* green_frag = "#version 120\nvoid main() { gl_FragColor = vec4(0.0, 1.0, 0.0, 1.0); }\n";
constexpr const char* broken_frag = "#version 120\nvoid main() { gl_FragColor = vec4(1.0 }\n";
constexpr const char* triangle_obj = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
constexpr const char* quad_obj = "v 0 0 0\nv 4 0 0\nv 0 2 0\nv 4 2 0\nf 1 2 4 3\n";

size_t count_of(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// Runs the burst to its end, one step a frame, telling every outcome; what standard output got.
std::string told_burst(cAssetReloader& assets, const std::vector<cFileChange>& changes) {
    cCaptureStream out(STDOUT_FILENO);
    assets.take(changes);
    while (assets.busy()) {
        for (const cReloadOutcome& outcome : assets.step(0.0)) tell_console(outcome);
    }
    return out.stop();
}

}  // namespace

TEST_F(AssetBurst, each_program_is_rebuilt_once_per_burst_and_the_burst_is_told_in_one_line) {
    const cTempDir& d = cGLStage::dir();
    d.write("data/shaders/shared.vert", pass_vert);
    d.write("data/shaders/a.frag", red_frag);
    d.write("data/shaders/b.frag", red_frag);
    d.write("data/shaders/c.frag", red_frag);
    ctx->load_shader("pa", "data/shaders/shared.vert", "data/shaders/a.frag");
    ctx->load_shader("pb", "data/shaders/shared.vert", "data/shaders/b.frag");
    ctx->load_shader("pc", "data/shaders/shared.vert", "data/shaders/c.frag");
    const uint32_t old_c = ctx->shaders().find("pc")->program;
    cAssetReloader assets(*ctx);

    // The shared vertex file and two fragment files change at once (one of them broken), with
    // a file nothing is made from: three files, three programs.
    d.write("data/shaders/a.frag", green_frag);
    d.write("data/shaders/c.frag", broken_frag);
    d.write("data/shaders/unused.frag", green_frag);
    cGLRecorder gl;
    cCaptureStream out(STDOUT_FILENO);
    cCaptureStream err(STDERR_FILENO);
    assets.take({{cFileChange::written, "data/shaders/a.frag"},
                 {cFileChange::written, "data/shaders/c.frag"},
                 {cFileChange::written, "data/shaders/shared.vert"},
                 {cFileChange::written, "data/shaders/unused.frag"}});
    std::vector<cReloadOutcome> outcomes;
    int frames = 0;
    while (assets.busy() && frames < 100) {
        ++frames;
        outcomes = assets.step(0.0);  // one step a frame
        for (const cReloadOutcome& outcome : outcomes) tell_console(outcome);
        if (assets.busy()) {
            EXPECT_TRUE(outcomes.empty());
        }
    }
    const std::string said = out.stop();
    const std::string problems = err.stop();

    EXPECT_EQ(gl.count("glShaderSource"), 6u) << "three programs, two shaders each, once";
    EXPECT_EQ(frames, 3);
    // Besides the compiler's log of the broken file, one line.
    EXPECT_EQ(count_of(said, "# note"), 1u) << said;
    EXPECT_NE(said.find("# note: reloaded 3 files (2 programs rebuilt); 1 failure over 3 frames ("), std::string::npos)
        << said;
    EXPECT_NE(problems.find("## ERROR: program \"pc\" keeps its previous version"), std::string::npos) << problems;
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_FALSE(outcomes[0].ok);
    EXPECT_EQ(outcomes[0].path, "data/shaders/c.frag");
    EXPECT_EQ(outcomes[1].path, "data/shaders");
    EXPECT_EQ(outcomes[1].message, "reloaded 3 files (2 programs rebuilt); 1 failure");
    EXPECT_EQ(ctx->shaders().find("pc")->program, old_c) << "the broken one keeps its previous version";
    EXPECT_NE(ctx->shaders().find("pa")->program, 0u);

    // Written again with the bytes they were built from (touched, or copied over themselves):
    // nothing to rebuild, nothing to say.
    d.write("data/shaders/shared.vert", pass_vert);
    d.write("data/shaders/a.frag", green_frag);
    gl.clear();
    EXPECT_EQ(told_burst(assets, {{cFileChange::written, "data/shaders/a.frag"},
                                  {cFileChange::written, "data/shaders/shared.vert"}}),
              "");
    EXPECT_EQ(gl.count("glShaderSource"), 0u);

    // A model alone: its reload in one line, once. With a shader file: summed up with it.
    d.write("data/models/thing.obj", triangle_obj);
    {
        cCaptureStream quiet(STDOUT_FILENO);
        ctx->load_model("thing", "data/models/thing.obj");
    }
    d.write("data/models/thing.obj", quad_obj);
    EXPECT_EQ(told_burst(assets, {{cFileChange::written, "data/models/thing.obj"}}),
              "# note: reloaded \"data/models/thing.obj\"\n");
    EXPECT_FLOAT_EQ(ctx->model("thing")->bounds().max_x, 4.0f);
    d.write("data/models/thing.obj", triangle_obj);
    d.write("data/shaders/a.frag", red_frag);
    const std::string both = told_burst(
        assets, {{cFileChange::written, "data/models/thing.obj"}, {cFileChange::written, "data/shaders/a.frag"}});
    EXPECT_EQ(count_of(both, "# note"), 1u) << both;
    EXPECT_EQ(both.rfind("# note: reloaded 2 files (1 program rebuilt, 1 model) over ", 0), 0u) << both;
}
