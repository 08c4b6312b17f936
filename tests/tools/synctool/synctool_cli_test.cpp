// synctool as people run it: a real process on real files in a temporary directory.
#include <FreeImage.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>

#include "support/run_process.h"
#include "support/temp_dir.h"
#include "tools/synctool/track_plot.h"
#include "host/sync/track_source.h"

namespace {

const std::string kTool = std::string(DEMO_TOOLS_DIR) + "/synctool";

cProcessResult synctool(const std::vector<std::string>& args, const std::string& cwd = "") {
    std::vector<std::string> argv = {kTool};
    argv.insert(argv.end(), args.begin(), args.end());
    cProcessOptions options;
    options.cwd = cwd;
    return run_process(argv, options);
}

// Every file of a directory with its bytes, so a test can tell whether anything changed.
std::map<std::string, std::string> snapshot(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        files[entry.path().filename().string()] = slurp(entry.path().string());
    }
    return files;
}

bool is_one_line(const std::string& text) {
    return !text.empty() && text.back() == '\n' && text.find('\n') == text.size() - 1;
}

const char* kGoodSource =
    "# a small show\n"
    "track kick\n"
    "  0:0      1          linear   # first beat\n"
    "  0:3      0.25       linear\n"
    "  0:7      0          step\n"
    "\n"
    "track word_t\n"
    "  # -- verse --\n"
    "  -1:0     0          smooth\n"
    "  4:0      1          smooth\n"
    "  5:4      2.5        quadratic\n"
    "  100:0    -0.125     step\n"
    "track empty\n";

// Keys at rows 0 (value 1) and 24 (value 3), that is 0 ms and 1000 ms, one track per kind.
const char* kRuleSource =
    "track stp\n  0:0 1 step\n  3:0 3 step\n"
    "track lin\n  0:0 1 linear\n  3:0 3 linear\n"
    "track smo\n  0:0 1 smooth\n  3:0 3 smooth\n"
    "track qua\n  0:0 1 quadratic\n  3:0 3 quadratic\n"
    "track one\n  7:5 4.5 linear\n";

float eval_value(const std::string& dir, const std::string& name, int64_t ms) {
    cProcessResult r = synctool({"eval", name, std::to_string(ms), "--dir", dir});
    EXPECT_EQ(r.status, 0) << r.err;
    return std::stof(r.out);
}

}  // namespace

TEST(SynctoolCompile, compile_then_dump_gives_back_each_track_of_the_source) {
    cTempDir dir;
    std::string source = dir.write("sync/show.tracks", kGoodSource);
    cProcessResult r = synctool({"compile", source});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("# compiled 3 tracks, 7 keys"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
    for (const char* name : {"kick", "word_t", "empty"}) {
        cProcessResult dump = synctool({"dump", dir / ("sync/_" + std::string(name) + ".track")});
        ASSERT_EQ(dump.status, 0) << dump.err;
        EXPECT_EQ(dump.out, canonical_track_lines(kGoodSource, name)) << name;
    }
    EXPECT_EQ(slurp(dir / "sync/_empty.track"), std::string(4, '\0'));
}

TEST(SynctoolCompile, other_spellings_compile_to_the_bytes_of_their_canonical_dump) {
    cTempDir dir;
    std::string loose = dir.write("a/show.tracks", "track t\n\tr0 +1.50 linear\n 1:4  .25e1  smooth\n r20 -0 step\n");
    ASSERT_EQ(synctool({"compile", loose}).status, 0);
    cProcessResult dump = synctool({"dump", dir / "a/_t.track"});
    ASSERT_EQ(dump.status, 0);
    EXPECT_EQ(dump.out, "track t\n  0:0      1.5        linear\n  1:4      2.5        smooth\n  2:4      -0         step\n");
    std::string canonical = dir.write("b/show.tracks", dump.out);
    ASSERT_EQ(synctool({"compile", canonical}).status, 0);
    EXPECT_EQ(slurp(dir / "a/_t.track"), slurp(dir / "b/_t.track"));
}

TEST(SynctoolCompile, bad_sources_are_refused_and_leave_every_track_file_byte_identical) {
    cTempDir dir;
    std::string source = dir.write("sync/show.tracks", kGoodSource);
    ASSERT_EQ(synctool({"compile", source}).status, 0);
    dir.write("sync/_other.track", "kept as it is");
    auto before = snapshot(dir / "sync");

    struct cCase {
        const char* text;
        const char* where;  // "line:column" that the message must name
    };
    const cCase cases[] = {
        {"track kick\n  0:0 1\n", "2:9"},                                   // malformed: no interpolation
        {"track kick\n  0:0 1 linear extra\n", "2:16"},                     // malformed: extra token
        {"  0:0 1 step\ntrack kick\n", "1:3"},                              // key before any track
        {"track kick\n  0:0 1 lerp\n", "2:9"},                              // unknown interpolation
        {"track kick\n  1:0 1 step\n  0:0 2 step\n", "3:3"},                // keys out of order
        {"track kick\n  1:0 1 step\n  r8 2 step\n", "3:3"},                 // two keys on one row
        {"track kick\n  0:0 abc step\n", "2:7"},                            // not a number
        {"track kick\n  0:0 nan step\n", "2:7"},
        {"track kick\n  0:0 inf step\n", "2:7"},
        {"track kick\n  0:0 1e40 step\n", "2:7"},
        {"track kick\n  0:9 1 step\n", "2:3"},                              // row outside the beat
        {"track kick\n  0:0 1 step\ntrack kick\n", "3:7"},                  // track defined twice
        // Good changes to the first tracks, one bad line at the very end: still nothing written.
        {"track kick\n  0:0 9 step\ntrack word_t\n  0:0 9 step\ntrack empty\n  0:0 1 steep\n", "6:9"},
    };
    for (const cCase& c : cases) {
        dir.write("sync/show.tracks", c.text);
        cProcessResult r = synctool({"compile", source});
        EXPECT_EQ(r.status, 1) << c.text;
        EXPECT_NE(r.err.find(source + ":" + c.where + ": "), std::string::npos) << c.text << "\n" << r.err;
        EXPECT_NE(r.err.find("no track file was written"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
        auto after = snapshot(dir / "sync");
        after.erase("show.tracks");
        auto expected = before;
        expected.erase("show.tracks");
        EXPECT_EQ(after, expected) << c.text;
    }
}

TEST(SynctoolCompile, default_paths_are_the_show_source_and_its_folder) {
    cTempDir dir;
    dir.write("data/sync/show.tracks", "track scene_karaoke\n  0:0 1 step\n");
    cProcessResult r = synctool({"compile"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(dir / "data/sync/_scene_karaoke.track").size(), 13u);
}

TEST(SynctoolCompile, an_explicit_output_folder_is_created_and_stray_track_files_are_named) {
    cTempDir dir;
    std::string source = dir.write("src/show.tracks", "track a\n  0:0 1 step\n");
    dir.write("out/_old.track", "old");
    cProcessResult r = synctool({"compile", source, dir / "out"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("\"" + dir / "out/_old.track" + "\" has no track in"), std::string::npos) << r.err;
    EXPECT_EQ(slurp(dir / "out/_old.track"), "old");  // named, never deleted
    EXPECT_TRUE(std::filesystem::exists(dir / "out/_a.track"));
    r = synctool({"compile", source, dir / "new/deeper"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::filesystem::exists(dir / "new/deeper/_a.track"));
}

TEST(SynctoolCompile, a_missing_source_is_an_error_not_an_empty_show) {
    cTempDir dir;
    cProcessResult r = synctool({"compile", dir / "none.tracks"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("## ERROR: cannot read the track source \"" + dir / "none.tracks" + "\""), std::string::npos);
    EXPECT_EQ(snapshot(dir.path()).size(), 0u);
}

TEST(SynctoolEval, values_follow_the_interpolation_rules_at_and_between_keys) {
    cTempDir dir;
    std::string source = dir.write("s/show.tracks", kRuleSource);
    ASSERT_EQ(synctool({"compile", source}).status, 0);
    std::string sync = dir / "s";
    // 24 rows per second: t = ms / 1000 between the keys at 0 and 1000 ms.
    auto expected = [](const std::string& kind, double t) {
        if (t <= 0) return 1.0;
        if (t >= 1) return 3.0;
        if (kind == "stp") return 1.0;
        if (kind == "lin") return 1.0 + 2.0 * t;
        if (kind == "smo") return 1.0 + 2.0 * (3.0 - 2.0 * t) * t * t;
        return 1.0 + 2.0 * t * t;
    };
    for (const std::string kind : {"stp", "lin", "smo", "qua"}) {
        for (int64_t ms : {-500, 0, 10, 125, 250, 500, 999, 1000, 5000}) {
            float got = eval_value(sync, kind, ms);
            EXPECT_FLOAT_EQ(got, static_cast<float>(expected(kind, ms / 1000.0))) << kind << " at " << ms << " ms";
        }
    }
    EXPECT_FLOAT_EQ(eval_value(sync, "lin", 500), 2.0f);
    EXPECT_FLOAT_EQ(eval_value(sync, "smo", 250), 1.3125f);
    EXPECT_FLOAT_EQ(eval_value(sync, "qua", 500), 1.5f);
    for (int64_t ms : {-100000, 0, 2395, 2396, 99999}) EXPECT_EQ(eval_value(sync, "one", ms), 4.5f);
}

TEST(SynctoolEval, a_track_without_file_reads_zero_with_a_warning) {
    cTempDir dir;
    cProcessResult r = synctool({"eval", "ghost", "100", "--dir", dir.path()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "0\n");
    EXPECT_NE(r.err.find("# warning: no track file \"" + dir / "_ghost.track" + "\""), std::string::npos) << r.err;
}

TEST(SynctoolEval, reads_the_show_folder_by_default) {
    cTempDir dir;
    dir.write("data/sync/show.tracks", "track kick\n  0:0 0.75 step\n");
    ASSERT_EQ(synctool({"compile"}, dir.path()).status, 0);
    cProcessResult r = synctool({"eval", "kick", "0"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "0.75\n");
    EXPECT_EQ(r.err, "");
}

TEST(SynctoolUsage, usage_errors_are_one_line_and_status_two) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"compile", "a", "b", "c"},
        {"compile", "--fast"},
        {"dump"},
        {"dump", "a", "b"},
        {"eval", "kick"},
        {"eval", "kick", "12.5"},
        {"eval", "kick", "abc"},
        {"eval", "kick", "100", "--dir"},
        {"eval", "kick", "100", "--speed", "2"},
        {"plot", "kick"},
        {"plot", "--out", "x.png"},
        {"plot", "--out", "x.png", "--from", "100", "--to", "100", "kick"},
        {"plot", "--out", "x.png", "--from", "soon", "kick"},
        {"plot", "--out"},
    };
    for (const auto& args : cases) {
        cProcessResult r = synctool(args);
        std::string shown;
        for (const auto& a : args) shown += a + " ";
        EXPECT_EQ(r.status, 2) << shown;
        EXPECT_TRUE(is_one_line(r.err)) << shown << "\n" << r.err;
        EXPECT_NE(r.err.find("usage: synctool"), std::string::npos) << shown;
        EXPECT_EQ(r.out, "") << shown;
    }
    cProcessResult help = synctool({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("synctool compile"), std::string::npos);
}

TEST(SynctoolDump, refuses_what_is_not_a_track_file) {
    cTempDir dir;
    std::string truncated = dir.write("_t.track", std::string("\x02\0\0\0\0\0\0\0\0\0\x80\x3F\x01", 13));
    cProcessResult r = synctool({"dump", truncated});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("is not a track file: its key count 2 needs 22 bytes, but it holds 13"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.out, "");
    r = synctool({"dump", dir / "_missing.track"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("## ERROR: cannot read"), std::string::npos);
}

TEST(SynctoolDump, flags_keys_that_the_source_cannot_express) {
    cTempDir dir;
    // Row 5 then row 2 (out of order), the second key with interpolation byte 7.
    std::string bytes = std::string("\x02\0\0\0", 4) + std::string("\x05\0\0\0\0\0\x80\x3F\x01", 9) +
                        std::string("\x02\0\0\0\0\0\0\x40\x07", 9);
    std::string path = dir.write("_odd.track", bytes);
    cProcessResult r = synctool({"dump", path});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "track odd\n  0:5      1          linear\n  0:2      2          code7\n");
    EXPECT_NE(r.err.find("interpolation code 7"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("does not come after"), std::string::npos) << r.err;
}

TEST(SynctoolPlot, draws_each_track_in_its_lane_where_its_values_are) {
    cTempDir dir;
    std::string source = dir.write("s/show.tracks", "track up\n  0:0 0 step\n  4:0 1 step\ntrack down\n  0:0 5 linear\n  8:0 -5 step\n");
    ASSERT_EQ(synctool({"compile", source}).status, 0);
    std::string png = dir / "plot.png";
    cProcessResult r = synctool({"plot", "--out", png, "--from", "0", "--to", "2666", "--dir", dir / "s", "up", "down"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("# wrote \"" + png + "\""), std::string::npos);

    FIBITMAP* image = FreeImage_Load(FIF_PNG, png.c_str(), 0);
    ASSERT_NE(image, nullptr);
    cPlotLayout layout = plot_layout(2);
    EXPECT_EQ(static_cast<int>(FreeImage_GetWidth(image)), layout.width);
    EXPECT_EQ(static_cast<int>(FreeImage_GetHeight(image)), layout.height);
    EXPECT_TRUE(FreeImage_GetBPP(image) == 24 || FreeImage_GetBPP(image) == 32);
    auto pixel = [&](int x, int y) {
        RGBQUAD q{};
        FreeImage_GetPixelColor(image, x, layout.height - 1 - y, &q);
        return cRgb{q.rgbRed, q.rgbGreen, q.rgbBlue};
    };
    const cPlotLane& up = layout.lanes[0];
    const cPlotLane& down = layout.lanes[1];
    int early = plot_column(layout, 0, 2666, 600), late = plot_column(layout, 0, 2666, 2100);
    // "up" is 0 (its lane's lowest row) before 1333 ms and 1 (its highest row) after.
    EXPECT_EQ(pixel(early, up.curve_bottom), up.colour);
    EXPECT_NE(pixel(early, up.curve_top), up.colour);
    EXPECT_EQ(pixel(late, up.curve_top), up.colour);
    EXPECT_NE(pixel(late, up.curve_bottom), up.colour);
    // "down" falls from 5 to almost -5 over the range: at the top on the left, crossing the
    // middle of its lane half-way.
    auto drawn_near = [&](int x, int y, cRgb colour) {
        for (int dy = -3; dy <= 3; ++dy) {
            if (pixel(x, y + dy) == colour) return true;
        }
        return false;
    };
    int middle = (down.curve_top + down.curve_bottom) / 2, half = plot_column(layout, 0, 2666, 1333);
    EXPECT_TRUE(drawn_near(plot_column(layout, 0, 2666, 30), down.curve_top, down.colour));
    EXPECT_TRUE(drawn_near(half, middle, down.colour));
    EXPECT_NE(pixel(half, down.curve_top), down.colour);
    FreeImage_Unload(image);
}

TEST(SynctoolPlot, an_unwritable_output_is_an_error) {
    cTempDir dir;
    cProcessResult r = synctool({"plot", "--out", dir / "no/such/dir/p.png", "--dir", dir.path(), "kick"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("## ERROR: cannot write"), std::string::npos) << r.err;
}
