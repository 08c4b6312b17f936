// A scene written outside this tree, as its author makes it: the kit installed by a plain
// `cmake --install` into a prefix of its own, a new scene made from the template under a name
// of the author's, built on its own with plain CMake against that prefix, and played: the
// release player draws its pass (the template's picture, lit by its sync track) and a running
// `demoplayer --dev` takes it when the scene's build puts it into the show (never over a file
// changed there). Pixels are read off an Xvfb screen drawn by Mesa's llvmpipe.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "support/screen_and_wait.h"
#include "support/audio_test_media.h"
#include "release/release_support.h"
#include "support/run_process.h"
#include "support/running_player.h"
#include "support/show_layout.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kCMake = DEMO_CMAKE_COMMAND;

std::string text(const cColour& c) {
    return "(" + std::to_string(c.r) + ", " + std::to_string(c.g) + ", " + std::to_string(c.b) + ")";
}

bool near(const cColour& c, const cColour& expected) {
    return std::abs(c.r - expected.r) <= 3 && std::abs(c.g - expected.g) <= 3 && std::abs(c.b - expected.b) <= 3;
}

// The template's picture is four flat quarters (top left, top right, bottom left, bottom right)
// of these colours; its fragment stage multiplies a texel by 0.4 + 0.6 x pulse and zooms by
// 1 - 0.1 x pulse about the centre, which keeps each quarter's centre inside its quarter.
// With the pulse track at 0.5: 0.7 x each channel, rounded by hand.
struct cQuarter {
    int x, y;
    cColour colour;
};
const cQuarter kTopLeft{320, 180, {162, 65, 3}};       // 232, 93, 4
const cQuarter kTopRight{960, 180, {29, 106, 150}};    // 41, 151, 214
const cQuarter kBottomLeft{320, 540, {171, 146, 44}};  // 244, 208, 63
const cQuarter kBottomRight{960, 540, {88, 42, 106}};  // 125, 60, 152

cProcessResult run(const std::vector<std::string>& argv, const std::string& cwd = "") {
    cProcessOptions options;
    options.cwd = cwd;
    options.timeout_seconds = 300;
    return run_process(argv, options);
}

// Seconds of quiet music for a show of the test's own.
void add_music(cShowLayout& show, double seconds) {
    show.write("data/muzak/recut.mp3",
               wav_bytes(22050, 1, sine_samples(22050, 1, static_cast<uint64_t>(seconds * 22050), 220.0, 0.1)));
}

// The scene's share of a show, as its build left it (build/show/data), into a show; its pulse
// held at 0.5 so that the picture is known.
void add_scene_data(cShowLayout& show, const std::string& built) {
    for (const auto& entry : fs::recursive_directory_iterator(built + "/data")) {
        if (!entry.is_regular_file()) continue;
        show.write("data/" + fs::relative(entry.path(), built + "/data").string(), slurp(entry.path()));
    }
    show.write("data/sync/_glow_pulse.track", track_file_bytes({{0, 0.5f, 0}}));
}

class SceneKit : public ::testing::Test {
protected:
    // The kit in a prefix, the scene "glow" made from its template and built against it.
    static void SetUpTestSuite() {
        work_ = std::make_unique<cTempDir>();
        installed_ = run({kCMake, "--install", DEMO_BINARY_DIR, "--prefix", *work_ / "kit"});
        made_ = run({*work_ / "kit/bin/demoplayer-new-scene", "glow", *work_ / "scenes/glow"}, work_->path());
        configured_ = run({kCMake, "-S", *work_ / "scenes/glow", "-B", *work_ / "scenes/glow/build",
                           "-DCMAKE_PREFIX_PATH=" + *work_ / "kit"});
        built_ = run({kCMake, "--build", *work_ / "scenes/glow/build"});
    }
    static void TearDownTestSuite() { work_.reset(); }

    void SetUp() override {
        ASSERT_EQ(installed_.status, 0) << installed_.out << installed_.err;
        ASSERT_EQ(made_.status, 0) << made_.out << made_.err;
        ASSERT_EQ(configured_.status, 0) << configured_.out << configured_.err;
        ASSERT_EQ(built_.status, 0) << built_.out << built_.err;
    }

    static std::string path(const std::string& relative) { return *work_ / relative; }

    static std::unique_ptr<cTempDir> work_;
    static cProcessResult installed_, made_, configured_, built_;
};

std::unique_ptr<cTempDir> SceneKit::work_;
cProcessResult SceneKit::installed_, SceneKit::made_, SceneKit::configured_, SceneKit::built_;

}  // namespace

TEST_F(SceneKit, a_scene_made_from_the_template_builds_alone_against_the_installed_kit_and_the_player_draws_it) {
    // A plain install is the kit alone: no player, no show.
    EXPECT_TRUE(fs::exists(path("kit/include/demoplayer/contract/igfx_context.h")));
    EXPECT_TRUE(fs::exists(path("kit/lib/cmake/demoplayer/demoplayerConfig.cmake")));
    EXPECT_FALSE(fs::exists(path("kit/bin/demoplayer")));
    EXPECT_FALSE(fs::exists(path("kit/data")));

    // The template's names became the author's, in file names and in the code.
    EXPECT_TRUE(fs::exists(path("scenes/glow/glow.cpp")));
    EXPECT_TRUE(fs::exists(path("scenes/glow/data/shaders/glow.frag")));
    EXPECT_TRUE(slurp(path("scenes/glow/glow.cpp")).find("\"glow_pulse\"") != std::string::npos);
    // A second time, the folder is there: refused, and what the author has is kept.
    fs::path cpp = path("scenes/glow/glow.cpp");
    const std::string code = slurp(cpp);
    cProcessResult again = run({path("kit/bin/demoplayer-new-scene"), "glow", path("scenes/glow")});
    EXPECT_EQ(again.status, 2);
    EXPECT_EQ(again.err, "## ERROR: new_scene: \"" + path("scenes/glow") + "\" is there already; nothing was written\n");
    EXPECT_EQ(slurp(cpp), code);

    // The module: named for the player, with only the contract's two entry points leaving it.
    const std::string built = path("scenes/glow/build/show");
    const std::string module = built + "/bin/render_glow.so";
    cProcessResult exported = run({"/usr/bin/env", "nm", "-D", "--defined-only", module});
    ASSERT_EQ(exported.status, 0) << exported.err;
    std::vector<std::string> symbols;
    std::istringstream lines(exported.out);
    for (std::string address, kind, name; lines >> address >> kind >> name;) symbols.push_back(name);
    EXPECT_EQ(symbols, (std::vector<std::string>{"CreateScene", "DeleteScene"})) << exported.out;
    // Its tracks compiled by the kit's track compiler.
    EXPECT_TRUE(fs::exists(built + "/data/sync/_glow.track"));
    EXPECT_TRUE(fs::exists(built + "/data/sync/_glow_pulse.track"));

    cShowLayout show;
    add_music(show, 30.0);
    add_scene_data(show, built);
    show.add_module(module);
    cRunningPlayer player(show, {});
    EXPECT_TRUE(wait_until([&] { return near(screen_pixel(kTopLeft.x, kTopLeft.y), kTopLeft.colour); }, 60s))
        << text(screen_pixel(kTopLeft.x, kTopLeft.y)) << slurp(show / "bin/stderr.txt");
    for (const cQuarter& q : {kTopLeft, kTopRight, kBottomLeft, kBottomRight})
        EXPECT_TRUE(near(screen_pixel(q.x, q.y), q.colour)) << q.x << "," << q.y << ": " << text(screen_pixel(q.x, q.y));
    ASSERT_TRUE(player.running());
    run({"/usr/bin/env", "xdotool", "key", "Escape"});
    int status = -1;
    ASSERT_TRUE(player.wait_for_exit(20s, status));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(slurp(show / "bin/stderr.txt").find("## ERROR"), std::string::npos) << slurp(show / "bin/stderr.txt");
}

TEST_F(SceneKit, a_scene_built_into_a_running_development_mode_is_loaded_and_drawn_and_never_overwrites_the_shows_changes) {
    cShowLayout show;
    add_music(show, 60.0);
    cRunningPlayer player(show, {"--dev", "--editor-port", "0"});
    ASSERT_TRUE(wait_until([&] { return slurp(show / "bin/stdout.txt").find("cwd: ") != std::string::npos; }, 60s));
    std::this_thread::sleep_for(2s);
    ASSERT_TRUE(player.running()) << player.terminal_err();
    // The read-out covers the top left corner: the bottom quarters are read.
    EXPECT_FALSE(near(screen_pixel(kBottomLeft.x, kBottomLeft.y), kBottomLeft.colour)) << "nothing is drawn yet";

    // The author holds the pulse at 0.5 and builds with the show named: the build puts the data,
    // then the library, into the running show.
    const std::string folder = path("scenes/glow");
    fs::remove(folder + "/data/sync/glow.tracks");
    std::ofstream(folder + "/data/sync/glow.tracks") << "track glow\n  0:0  1    step\ntrack glow_pulse\n  0:0  0.5  step\n";
    cProcessResult configured = run({kCMake, "-S", folder, "-B", folder + "/build", "-DDEMOPLAYER_SHOW_DIR=" + show.root()});
    ASSERT_EQ(configured.status, 0) << configured.out << configured.err;
    cProcessResult built = run({kCMake, "--build", folder + "/build"});
    ASSERT_EQ(built.status, 0) << built.out << built.err;
    EXPECT_TRUE(fs::exists(show / "bin/render_glow.so"));

    EXPECT_TRUE(wait_until([&] { return near(screen_pixel(kBottomLeft.x, kBottomLeft.y), kBottomLeft.colour); }, 60s))
        << text(screen_pixel(kBottomLeft.x, kBottomLeft.y)) << player.terminal_err();
    EXPECT_TRUE(near(screen_pixel(kBottomRight.x, kBottomRight.y), kBottomRight.colour))
        << text(screen_pixel(kBottomRight.x, kBottomRight.y));
    ASSERT_TRUE(player.running()) << player.terminal_err();
    run({"/usr/bin/env", "xdotool", "key", "Escape"});
    int status = -1;
    ASSERT_TRUE(player.wait_for_exit(20s, status));
    EXPECT_EQ(status, 0) << player.terminal_err();

    // A file changed in the show since the build put it there is the author's: the next build
    // puts nothing, says why and fails.
    const std::string edited = slurp(show / "data/shaders/glow.frag") + "// tried in the show\n";
    show.write("data/shaders/glow.frag", edited);
    std::ofstream(folder + "/data/shaders/glow.frag", std::ios::app) << "// changed in the scene\n";
    std::ofstream(folder + "/data/sync/glow.tracks", std::ios::app) << "  1:0  0.25 step\n";
    const std::string tracks_before = slurp(show / "data/sync/_glow_pulse.track");
    cProcessResult refused = run({kCMake, "--build", folder + "/build"});
    EXPECT_NE(refused.status, 0);
    const std::string said = refused.out + refused.err;  // cmake wraps a message's lines
    EXPECT_NE(said.find("nothing was put into the show:"), std::string::npos) << said;
    EXPECT_NE(said.find("\"" + show / "data/shaders/glow.frag\""), std::string::npos) << said;
    EXPECT_EQ(slurp(show / "data/shaders/glow.frag"), edited);
    EXPECT_EQ(slurp(show / "data/sync/_glow_pulse.track"), tracks_before) << "all or nothing";
}
