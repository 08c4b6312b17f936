// The shipped show from a fresh build: demoplayer with the versewall module and the real data,
// under Xvfb with SDL's dummy audio, left alone until the music passes the end of the show.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "support/run_process.h"
#include "support/temp_dir.h"

namespace {

// Every track the scene reads, and the one that switches it on.
const char* const kShowTracks[] = {
    "scene_karaoke", "kick",     "numwords",     "textrot",    "umptchi",      "textits",  "word0its",
    "word1its",      "word2its", "word3its",     "word4its",   "word_t",       "circle_hofs", "tunnel",
    "tunnel_twist",  "tunnel_ofs", "draw_duck",  "duck_rot",   "duck_trans",   "duck_trans_y"};

}  // namespace

TEST(FullShow, plays_to_the_end_by_itself_with_every_track_and_no_problem_reported) {
    namespace fs = std::filesystem;
    // A show directory of its own, so the build's show/bin keeps a user's last logs.
    cTempDir show;
    fs::create_directories(show / "bin/dll_cache");
    fs::copy_file(std::string(DEMO_SHOW_DIR) + "/bin/demoplayer", show / "bin/demoplayer");
    fs::copy_file(std::string(DEMO_SHOW_DIR) + "/bin/render_versewall.so", show / "bin/render_versewall.so");
    fs::create_directory_symlink(std::string(DEMO_SOURCE_DIR) + "/data", show / "data");
    for (const char* track : kShowTracks)
        EXPECT_TRUE(fs::exists(show / ("data/sync/_" + std::string(track) + ".track"))) << track;

    cProcessOptions options;
    options.cwd = show / "bin";
    options.timeout_seconds = 400;
    auto started = std::chrono::steady_clock::now();
    cProcessResult run = run_process({"./demoplayer"}, options);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    const std::string out = slurp(show / "bin/stdout.txt");
    const std::string err = slurp(show / "bin/stderr.txt");
    ASSERT_FALSE(run.timed_out) << err;
    EXPECT_TRUE(run.exited) << "signal " << run.signal << "\n" << err;
    EXPECT_EQ(run.status, 0) << err;
    // It ended by itself: the music had to play past 88.25 s.
    EXPECT_GT(seconds, 88.25);

    EXPECT_TRUE(std::regex_search(out, std::regex(R"(# bass streaming file "[^"]*/data/muzak/recut\.mp3" )"
                                                  R"(\[size: [0-9]+ bytes\]# \[length: 1m[0-9]+s\]\n)")))
        << out;
    EXPECT_EQ(err.find("## ERROR"), std::string::npos) << err;
    EXPECT_EQ(err.find("# WARNING"), std::string::npos) << err;
    EXPECT_EQ(out.find("## ERROR"), std::string::npos) << out;
    EXPECT_EQ(out.find("performance-warning"), std::string::npos) << out;
    EXPECT_EQ(err.find("not initialized"), std::string::npos) << err;
}
