// A burst of changed shader files on a real GL context: every program made from any of them is
// rebuilt once however many of its files changed, a failure is told and counted, and the
// burst is summed up in one line.
#include "gfx/gl_stage.h"
#include "authoring/dev/asset_reloader.h"
#include "support/capture_stream.h"

namespace {

using AssetBurst = GfxTest;

constexpr const char* pass_vert = "#version 120\nattribute vec4 position;\nvoid main() { gl_Position = position; }\n";
constexpr const char* red_frag = "#version 120\nvoid main() { gl_FragColor = vec4(1.0, 0.0, 0.0, 1.0); }\n";
constexpr const char* green_frag = "#version 120\nvoid main() { gl_FragColor = vec4(0.0, 1.0, 0.0, 1.0); }\n";
constexpr const char* broken_frag = "#version 120\nvoid main() { gl_FragColor = vec4(1.0 }\n";

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
        if (assets.busy()) {
            EXPECT_TRUE(outcomes.empty());
        }
    }
    const std::string said = out.stop();
    const std::string problems = err.stop();

    EXPECT_EQ(gl.count("glShaderSource"), 6u) << "three programs, two shaders each, once";
    EXPECT_EQ(frames, 3);
    // Besides the compiler's log of the broken file, one line.
    size_t notes = 0;
    for (size_t at = said.find("# note"); at != std::string::npos; at = said.find("# note", at + 1)) ++notes;
    EXPECT_EQ(notes, 1u) << said;
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
    cCaptureStream out2(STDOUT_FILENO);
    assets.take({{cFileChange::written, "data/shaders/a.frag"}, {cFileChange::written, "data/shaders/shared.vert"}});
    while (assets.busy()) assets.step(0.0);
    EXPECT_EQ(out2.stop(), "");
    EXPECT_EQ(gl.count("glShaderSource"), 0u);
}
