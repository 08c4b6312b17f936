// demoplayer --dev as a person at work uses it, under Xvfb with keys from xdotool and SDL's
// dummy audio: the probe module logs the time and a track value it sees each frame and fills
// the window with the program "probe", so what the keys, the edited files and the rebuilt
// library change is read from its log and off the screen. Also the refused command lines, a
// malformed A/V offset in the release player, a module that crashes the player, the ending
// signals, and a terminal on standard input that nobody answers.
#include <gtest/gtest.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <regex>
#include <sstream>
#include <thread>

#include "support/screen_and_wait.h"
#include "support/audio_test_media.h"
#include "support/run_process.h"
#include "support/running_player.h"
#include "support/show_layout.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kPlugins = DEMO_TEST_PLUGIN_DIR;

// ---- the probe's log ----

struct cRender {
    int version = 0;
    int32_t time = 0;
    double value = 0;
};

struct cProbeLog {
    std::vector<std::string> lines;
    std::vector<cRender> renders;
};

cProbeLog read_probe(const std::string& path) {
    cProbeLog log;
    std::istringstream in(slurp(path));
    std::string line;
    while (std::getline(in, line)) {
        log.lines.push_back(line);
        int version = 0, time = 0;
        double value = 0;
        if (std::sscanf(line.c_str(), "v%d render %d %lf", &version, &time, &value) == 3) {
            log.renders.push_back({version, time, value});
        }
    }
    return log;
}

// ---- waiting on the player ----

// Waits until the log has stopped growing for a moment (a paused show draws only on changes).
// The moment is long enough for a frame on a machine busy with other tests.
void wait_for_quiet(const std::string& log) {
    size_t size = read_probe(log).lines.size();
    auto quiet_since = std::chrono::steady_clock::now();
    const auto deadline = quiet_since + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(25ms);
        const size_t now = read_probe(log).lines.size();
        if (now != size) {
            size = now;
            quiet_since = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - quiet_since > 600ms) {
            return;
        }
    }
}

void key(const std::string& name) {
    cProcessResult r = run_process({"/usr/bin/env", "xdotool", "key", name});
    ASSERT_TRUE(r.exited && r.status == 0) << r.err;
}

// Presses a key in a paused show and returns the renders it caused, once drawing stopped.
std::vector<cRender> renders_after(const std::string& log, const std::string& name) {
    const size_t before = read_probe(log).renders.size();
    key(name);
    wait_until([&] { return read_probe(log).renders.size() > before; }, 10s);
    wait_for_quiet(log);
    const std::vector<cRender> all = read_probe(log).renders;
    return std::vector<cRender>(all.begin() + static_cast<std::ptrdiff_t>(std::min(before, all.size())), all.end());
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// ---- the screen ----

bool near(const cColour& c, int r, int g, int b) {
    return std::abs(c.r - r) <= 8 && std::abs(c.g - g) <= 8 && std::abs(c.b - b) <= 8;
}

// ---- shows ----

constexpr const char* kProbeVert = "#version 330\nlayout(location = 0) in vec4 position;\nvoid main() { gl_Position = position; }\n";
std::string probe_frag(const char* colour) {
    return std::string("#version 330\nout vec4 c;\nvoid main() { c = vec4(") + colour + "); }\n";
}

// The probe module switched on for the whole show, with seconds of music.
void make_show(cShowLayout& show, double seconds) {
    show.add_module(kPlugins + "/render_probe.so");
    show.write("data/muzak/recut.mp3",
               wav_bytes(22050, 1, sine_samples(22050, 1, static_cast<uint64_t>(seconds * 22050), 220.0, 0.2)));
    show.write("data/sync/_scene_probe.track", track_file_bytes({{0, 1.0f, 0}}));
}

std::string tracks_source(const std::string& value) {
    return "# the probe's tracks\ntrack scene_probe\n  0:0 1 step\ntrack probe_value\n  0:0 " + value + " step\n";
}

// Starts the player and pauses it once the probe has drawn; returns the time it stands at.
int32_t start_paused(cRunningPlayer& player, const cShowLayout& show) {
    const std::string log = show / "probe.log";
    EXPECT_TRUE(wait_until([&] {
        auto r = read_probe(log).renders;
        return !r.empty() && r.back().time >= 300;
    }, 60s)) << slurp(show / "bin/stderr.txt");
    key("space");
    wait_for_quiet(log);
    EXPECT_TRUE(player.running());
    return read_probe(log).renders.back().time;
}

}  // namespace

TEST(DevMode, arguments_other_than_dev_and_its_port_get_the_usage_line_and_status_2) {
    cShowLayout show;
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--bogus"}, {"--dev", "--editor-port", "70000"}, {"--editor-port", "9000"}, {"--dev", "--dev"}}) {
        std::vector<std::string> argv{show.player()};
        argv.insert(argv.end(), args.begin(), args.end());
        cProcessOptions options;
        options.cwd = show.bin();
        cProcessResult r = run_process(argv, options);
        EXPECT_TRUE(r.exited);
        EXPECT_EQ(r.status, 2) << args[0];
        EXPECT_TRUE(contains(r.err, "usage: demoplayer [--dev [--editor-port N]]")) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line: " << r.err;
        EXPECT_FALSE(fs::exists(show / "bin/stdout.txt")) << "nothing was started";
    }
}

TEST(DevMode, a_malformed_offset_is_reported_and_ignored_by_the_release_player) {
    cShowLayout show;
    make_show(show, 10.0);
    cRunningPlayer player(show, {}, {"DEMO_AV_OFFSET_MS=12ms"});
    const std::string log = show / "probe.log";
    ASSERT_TRUE(wait_until([&] { return read_probe(log).renders.size() > 3; }, 60s)) << slurp(show / "bin/stderr.txt");
    key("Escape");
    int status = -1;
    ASSERT_TRUE(player.wait_for_exit(20s, status));
    EXPECT_EQ(status, 0);
    const std::string err = slurp(show / "bin/stderr.txt");
    EXPECT_TRUE(contains(err, "# WARNING: DEMO_AV_OFFSET_MS=\"12ms\" is not a whole number of milliseconds")) << err;
    EXPECT_GE(read_probe(log).renders.front().time, 0) << "no offset was applied";
    EXPECT_EQ(player.terminal_out(), "") << "the release player writes nothing to the terminal";
}

TEST(DevMode, keys_seek_pause_loop_and_offset_the_time_the_module_sees) {
    cShowLayout show;
    make_show(show, 30.0);
    cRunningPlayer player(show, {"--dev"}, {"DEMO_AV_OFFSET_MS=10"});
    const std::string log = show / "probe.log";
    const int32_t t0 = start_paused(player, show);

    // Paused, nothing moves.
    std::this_thread::sleep_for(400ms);
    for (const cRender& r : read_probe(log).renders) EXPECT_LE(r.time, t0);
    EXPECT_EQ(read_probe(log).renders.back().time, t0);

    // A beat is 333.33 ms: each seek lands on the whole millisecond of the exact time, after the
    // frame one step before it.
    std::vector<cRender> seen = renders_after(log, "Right");
    ASSERT_EQ(seen.size(), 2u) << "the frame before, then the frame";
    EXPECT_GE(seen.back().time - t0, 333);
    EXPECT_LE(seen.back().time - t0, 334);
    EXPECT_GT(seen.back().time - seen.front().time, 0);
    EXPECT_LE(seen.back().time - seen.front().time, 100);
    EXPECT_NEAR(renders_after(log, "shift+Right").back().time - t0, 5 * 1000.0 / 3, 1.0);
    EXPECT_NEAR(renders_after(log, "Next").back().time - t0, 37 * 1000.0 / 3, 1.0);  // Page Down: eight bars
    EXPECT_NEAR(renders_after(log, "Prior").back().time - t0, 5 * 1000.0 / 3, 1.0);
    EXPECT_NEAR(renders_after(log, "shift+Left").back().time - t0, 1000.0 / 3, 1.0);
    EXPECT_EQ(renders_after(log, "Left").back().time, t0) << "back where it was, exactly";

    // The offset moves the picture's time and nothing else.
    EXPECT_EQ(renders_after(log, "period").back().time, t0 - 5);
    renders_after(log, "comma");
    EXPECT_EQ(renders_after(log, "comma").back().time, t0 + 5);
    const std::string out_so_far = slurp(show / "bin/stdout.txt");
    EXPECT_TRUE(contains(out_so_far, "# note: A/V offset +10 ms (DEMO_AV_OFFSET_MS)")) << out_so_far;

    // Resume: the time goes on from there.
    key("space");
    ASSERT_TRUE(wait_until([&] { return read_probe(log).renders.back().time > t0 + 600; }));

    // A loop of about a second wraps, sound and picture together.
    key("bracketleft");
    std::this_thread::sleep_for(1100ms);
    key("bracketright");
    std::smatch m;
    std::string out;
    ASSERT_TRUE(wait_until([&] {
        out = slurp(show / "bin/stdout.txt");
        return std::regex_search(out, m, std::regex("# note: loop (\\d+):(\\d\\d)\\.(\\d{3}) - (\\d+):(\\d\\d)\\.(\\d{3})\n"));
    })) << out;
    const int32_t loop_start = std::stoi(m[1]) * 60000 + std::stoi(m[2]) * 1000 + std::stoi(m[3]);
    const int32_t loop_end = std::stoi(m[4]) * 60000 + std::stoi(m[5]) * 1000 + std::stoi(m[6]);
    EXPECT_GT(loop_end - loop_start, 800);
    EXPECT_LT(loop_end - loop_start, 2500);
    // Watched until it has wrapped twice (a busy machine may take its time).
    const size_t first = read_probe(log).renders.size();
    std::vector<cRender> looped;
    int wraps = 0;
    wait_until([&] {
        looped = read_probe(log).renders;
        looped.erase(looped.begin(), looped.begin() + static_cast<std::ptrdiff_t>(std::min(first, looped.size())));
        wraps = 0;
        for (size_t i = 1; i < looped.size(); ++i) wraps += looped[i].time < looped[i - 1].time;
        return wraps >= 2;
    }, 15s);
    EXPECT_GE(wraps, 2);
    for (size_t i = 1; i < looped.size(); ++i) {
        EXPECT_LE(looped[i].time, loop_end) << "past the loop's end";
        if (looped[i].time < looped[i - 1].time) {
            EXPECT_LT(looped[i].time, loop_start + 300) << "a wrap lands near the loop's start";
        }
    }
    key("backslash");
    ASSERT_TRUE(wait_until([&] { return read_probe(log).renders.back().time > loop_end + 300; }));

    // Held down, Page Down seeks every repeat; past the end the show pauses there: where the
    // music ends, which the picture, 5 ms behind it, reaches at 29.995 s.
    run_process({"/usr/bin/env", "xdotool", "keydown", "Next"});
    std::this_thread::sleep_for(1500ms);
    run_process({"/usr/bin/env", "xdotool", "keyup", "Next"});
    ASSERT_TRUE(wait_until([&] { return contains(slurp(show / "bin/stdout.txt"), "# note: the end of the show (0:29.995): paused"); }));
    wait_for_quiet(log);
    EXPECT_EQ(read_probe(log).renders.back().time, 30000 - 5) << "the music's end, seen through the offset of 5 ms";
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(player.running()) << "the show does not end by itself";
    EXPECT_EQ(renders_after(log, "Home").back().time, 0);
    EXPECT_EQ(renders_after(log, "Left").back().time, 0);
    const std::string out_end = slurp(show / "bin/stdout.txt");
    EXPECT_TRUE(contains(out_end, "is past the end of the show; going to 0:29.995")) << out_end;
    EXPECT_TRUE(contains(out_end, "# note: seek to -0:00.333 is before the start of the show; going to 0:00.000"))
        << out_end;

    key("Escape");
    int status = -1;
    ASSERT_TRUE(player.wait_for_exit(20s, status));
    EXPECT_EQ(status, 0);
    const std::string err = slurp(show / "bin/stderr.txt");
    EXPECT_FALSE(contains(err, "## ERROR")) << err;
    // Every console line reached the terminal too, to the end.
    EXPECT_EQ(player.terminal_out(), slurp(show / "bin/stdout.txt"));
    EXPECT_EQ(player.terminal_err(), err);
}

TEST(DevMode, tracks_and_shaders_reload_at_the_same_music_time_and_bad_edits_keep_what_works) {
    cShowLayout show;
    make_show(show, 30.0);
    show.write("data/sync/show.tracks", tracks_source("1.5"));
    show.write("data/sync/_probe_value.track", track_file_bytes({{0, 1.5f, 0}}));
    show.write("data/shaders/probe.vert", kProbeVert);
    show.write("data/shaders/probe.frag", probe_frag("1.0, 0.0, 0.0, 1.0"));
    cRunningPlayer player(show, {"--dev"});
    const std::string log = show / "probe.log";
    const std::string err_file = show / "bin/stderr.txt";
    const int32_t t = start_paused(player, show);
    EXPECT_EQ(read_probe(log).renders.back().value, 1.5);

    auto value_becomes = [&](double value) {
        return wait_until([&] { return read_probe(log).renders.back().value == value; }, 10s);
    };
    // Every frame since first was drawn at t, after its frame one step before.
    auto all_at_t_since = [&](size_t first) {
        const std::vector<cRender> r = read_probe(log).renders;
        for (size_t i = first; i < r.size(); ++i) {
            if (r[i].time != t && !(r[i].time < t && r[i].time >= t - 100)) return false;
        }
        return r.back().time == t;
    };

    // ---- the track source ----
    size_t first = read_probe(log).renders.size();
    show.write("data/sync/show.tracks", tracks_source("2.5"));
    ASSERT_TRUE(value_becomes(2.5)) << slurp(err_file);
    EXPECT_TRUE(all_at_t_since(first)) << "a reload never moves the music";

    // A broken edit names its line and keeps every value.
    show.write("data/sync/show.tracks", tracks_source("3.5") + "  1:0 4 lineer\n");
    ASSERT_TRUE(wait_until([&] { return contains(slurp(err_file), "## ERROR: data/sync/show.tracks:6:"); })) << slurp(err_file);
    wait_for_quiet(log);
    EXPECT_EQ(read_probe(log).renders.back().value, 2.5);
    EXPECT_EQ(read_probe(log).renders.back().time, t);

    // A track file written by another tool; cut short, it is not taken.
    show.write("data/sync/_probe_value.track", track_file_bytes({{0, 4.0f, 0}}));
    ASSERT_TRUE(value_becomes(4.0)) << slurp(err_file);
    show.write("data/sync/_probe_value.track", track_file_bytes({{0, 9.0f, 0}, {8, 9.0f, 0}}).substr(0, 15));
    ASSERT_TRUE(wait_until([&] { return contains(slurp(err_file), "track \"probe_value\" keeps its keys"); }));
    wait_for_quiet(log);
    EXPECT_EQ(read_probe(log).renders.back().value, 4.0);

    // ---- the shader ----
    ASSERT_TRUE(wait_until([&] { return near(screen_pixel(640, 400), 255, 0, 0); }, 5s)) << "the probe's red";
    show.write("data/shaders/probe.frag", "#version 330\nout vec4 c;\nvoid main() { c = vec4(0.0, 1.0 }\n");
    ASSERT_TRUE(wait_until([&] { return contains(slurp(err_file), "keeps its previous version"); })) << slurp(err_file);
    EXPECT_TRUE(contains(slurp(err_file), "## ERROR: compilation of data/shaders/probe.frag failed"));
    wait_for_quiet(log);
    EXPECT_TRUE(near(screen_pixel(640, 400), 255, 0, 0)) << "the previous program stays in use";
    EXPECT_TRUE(player.running());
    show.write("data/shaders/probe.frag", probe_frag("0.0, 1.0, 0.0, 1.0"));
    ASSERT_TRUE(wait_until([&] { return near(screen_pixel(640, 400), 0, 255, 0); }, 10s)) << slurp(err_file);

    // The read-out's box darkens the picture behind it; F1 takes it away.
    const cColour boxed = screen_pixel(12, 12);
    EXPECT_LT(boxed.g, 160) << "green under the read-out's box";
    key("F1");
    EXPECT_TRUE(wait_until([&] { return near(screen_pixel(12, 12), 0, 255, 0); }, 5s));

    // ---- bad input ----
    // The shader folder renamed away and back.
    fs::rename(show / "data/shaders", show / "data/shaders_away");
    ASSERT_TRUE(wait_until([&] { return contains(slurp(err_file), "\"data/shaders\" was renamed or moved"); }));
    fs::rename(show / "data/shaders_away", show / "data/shaders");
    ASSERT_TRUE(wait_until([&] { return contains(slurp(show / "bin/stdout.txt"), "# note: watching \"data/shaders\" again"); }));

    // The source emptied, then removed: reported, every value kept, the file left alone.
    show.write("data/sync/show.tracks", "");
    ASSERT_TRUE(wait_until([&] { return contains(slurp(err_file), "data/sync/show.tracks:1:1: no 'track NAME' line"); }))
        << slurp(err_file);
    fs::remove(show / "data/sync/show.tracks");
    ASSERT_TRUE(wait_until([&] { return contains(slurp(err_file), "\"data/sync/show.tracks\" was removed; every track keeps its keys"); }));
    wait_for_quiet(log);
    EXPECT_EQ(read_probe(log).renders.back().value, 4.0);
    EXPECT_FALSE(fs::exists(show / "data/sync/show.tracks")) << "the player never writes the source";

    // A thousand saves at once are taken as a few reloads, the last one winning.
    for (int i = 0; i <= 1000; ++i) show.write("data/sync/show.tracks", tracks_source(i == 1000 ? "5" : "6"));
    ASSERT_TRUE(value_becomes(5.0)) << slurp(err_file);
    const std::string out = slurp(show / "bin/stdout.txt");
    size_t reloads = 0;
    for (size_t at = out.find("# note: reloaded \"data/sync/show.tracks\""); at != std::string::npos;
         at = out.find("# note: reloaded \"data/sync/show.tracks\"", at + 1)) {
        ++reloads;
    }
    EXPECT_LT(reloads, 100u);
    EXPECT_EQ(slurp(show / "data/sync/show.tracks"), tracks_source("5"));
    EXPECT_EQ(read_probe(log).renders.back().time, t) << "still where it was paused";

    key("Escape");
    int status = -1;
    ASSERT_TRUE(player.wait_for_exit(20s, status));
    EXPECT_EQ(status, 0);
}

TEST(DevMode, a_rebuilt_module_replaces_the_running_one_and_a_broken_one_leaves_it_running) {
    cShowLayout show;
    make_show(show, 30.0);
    // The trap module's loading crashes wherever it is loaded with this in the environment.
    cRunningPlayer player(show, {"--dev"}, {"DEMO_TEST_LOAD_TRAP=crash"});
    const std::string log = show / "probe.log";
    const std::string err_file = show / "bin/stderr.txt";
    const std::string library = show / "bin/render_probe.so";
    start_paused(player, show);

    const std::string refusal = "## ERROR: the rebuilt \"bin/render_probe.so\" was not taken";
    auto refusals = [&] {
        const std::string err = slurp(err_file);
        size_t count = 0;
        for (size_t at = err.find(refusal); at != std::string::npos; at = err.find(refusal, at + 1)) ++count;
        return count;
    };
    // False once the player is gone: the test stops there.
    auto refused = [&](const std::function<void()>& write, const std::string& what) {
        const size_t before = refusals();
        write();
        EXPECT_TRUE(wait_until([&] { return refusals() > before || !player.running(); })) << what << "\n"
                                                                                              << slurp(err_file);
        EXPECT_TRUE(player.running()) << what << "\n" << slurp(err_file);
        EXPECT_EQ(read_probe(log).renders.back().version, 1) << what;
        return player.running();
    };
    // Another library written over the running one in place, without truncating it (as some
    // copy tools do), up to several points: a library whose loading may crash; each is refused.
    const std::string other = slurp(kPlugins + "/render_null_scene.so");
    for (const size_t cut : {other.size() / 10, other.size() / 4, other.size() / 2, other.size() * 7 / 10,
                             other.size() * 3 / 4, other.size() * 9 / 10, other.size()}) {
        ASSERT_TRUE(refused([&] {
            const int fd = ::open(library.c_str(), O_WRONLY | O_CLOEXEC);
            EXPECT_TRUE(fd >= 0 && ::write(fd, other.data(), cut) == static_cast<ssize_t>(cut));
            ::close(fd);
        }, "written in place up to " + std::to_string(cut)));
    }

    auto refused_with = [&](const std::string& source, const std::string& reason) {
        const size_t renders = read_probe(log).renders.size();
        fs::copy_file(source, library, fs::copy_options::overwrite_existing);
        EXPECT_TRUE(wait_until([&] { return contains(slurp(err_file), reason) || !player.running(); }))
            << reason << "\n" << slurp(err_file);
        // The report is drawn: by the module that was running.
        EXPECT_TRUE(wait_until([&] { return read_probe(log).renders.size() > renders; }));
        EXPECT_EQ(read_probe(log).renders.back().version, 1) << reason;
    };
    refused_with(kPlugins + "/render_garbage.so", "was not taken: it cannot be loaded");
    refused_with(kPlugins + "/render_no_create.so", "was not taken: it lacks the export CreateScene");
    refused_with(kPlugins + "/render_null_scene.so", "was not taken: its CreateScene returned no scene");
    refused_with(kPlugins + "/render_load_trap.so", "was not taken: loading it crashed a trial process (SIGSEGV)");
    ASSERT_TRUE(player.running());
    // Cut at several points, as a copy cut off would leave it.
    const std::string v2 = slurp(kPlugins + "/render_probe_v2.so");
    for (const size_t cut : {size_t{100}, v2.size() / 3, v2.size() / 2, v2.size() * 2 / 3, v2.size() - 1}) {
        ASSERT_TRUE(
            refused([&] { show.write("bin/render_probe.so", v2.substr(0, cut)); }, "cut at " + std::to_string(cut)));
    }

    show.write("bin/render_probe.so", v2);
    ASSERT_TRUE(wait_until([&] { return contains(slurp(show / "bin/stdout.txt"), "# note: switched to the rebuilt \"bin/render_probe.so\""); }))
        << slurp(err_file);
    ASSERT_TRUE(wait_until([&] { return read_probe(log).renders.back().version == 2; }));
    // The new one was made and started before the old one went.
    const std::vector<std::string> lines = read_probe(log).lines;
    auto at = [&](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) - lines.begin();
    };
    EXPECT_LT(at("v2 create"), at("v2 init"));
    EXPECT_LT(at("v2 init"), at("v1 delete"));
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "v1 delete"), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "v2 create"), 1) << "the refused libraries made no probe";
    std::vector<std::string> cached;
    for (const auto& entry : fs::directory_iterator(show / "bin/dll_cache")) cached.push_back(entry.path().filename());
    EXPECT_EQ(cached.size(), 1u) << "only the library in use stays in the cache";

    key("Escape");
    int status = -1;
    ASSERT_TRUE(player.wait_for_exit(20s, status));
    EXPECT_EQ(status, 0);
}

TEST(DevMode, a_crash_keeps_every_line_written_before_it_in_the_logs_and_on_the_terminal) {
    cShowLayout show;
    show.add_module(kPlugins + "/render_crasher.so");
    show.write("data/muzak/recut.mp3", wav_bytes(22050, 1, sine_samples(22050, 1, 10 * 22050, 220.0, 0.2)));
    show.write("data/sync/_scene_crasher.track", track_file_bytes({{0, 1.0f, 0}}));
    cRunningPlayer player(show, {"--dev", "--editor-port", "0"});
    int status = -1;
    ASSERT_TRUE(player.wait_for_exit(60s, status)) << slurp(show / "bin/stderr.txt");
    EXPECT_EQ(status, 128 + SIGSEGV);
    const std::string err = slurp(show / "bin/stderr.txt");
    const std::string out = slurp(show / "bin/stdout.txt");
    EXPECT_TRUE(contains(err, "# crasher: the last line on standard error\n"
                              "## ERROR: the player crashed (SIGSEGV); the show ends\n")) << err;
    EXPECT_TRUE(contains(out, "# crasher: the last line on standard output\n")) << out;
    EXPECT_EQ(player.terminal_err(), err);
    EXPECT_EQ(player.terminal_out(), out);
}

TEST(DevMode, nothing_waits_on_the_terminal_the_logs_are_private_and_signals_end_it_with_their_status) {
    for (const int number : {SIGTERM, SIGINT}) {
        const std::string name = number == SIGTERM ? "SIGTERM" : "SIGINT";
        cShowLayout show;
        make_show(show, 30.0);
        show.write("data/shaders/probe.vert", kProbeVert);
        show.write("data/shaders/probe.frag", probe_frag("1.0, 0.0, 0.0, 1.0"));
        // Logs of an earlier run, readable by everyone: the new ones hold the editor's token.
        for (const char* file : {"bin/stdout.txt", "bin/stderr.txt"}) {
            show.write(file, "an earlier run\n");
            ::chmod((show / file).c_str(), 0644);
        }
        cRunningPlayer player(show, {"--dev"}, {}, /*stdin_terminal=*/true);
        const std::string log = show / "probe.log";
        const std::string err_file = show / "bin/stderr.txt";
        ASSERT_TRUE(wait_until([&] { return read_probe(log).renders.size() > 3; }, 60s)) << slurp(err_file);
        for (const char* file : {"bin/stdout.txt", "bin/stderr.txt"}) {
            struct stat info {};
            ASSERT_EQ(::stat((show / file).c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 0777, 0600u) << file;
        }

        if (number == SIGTERM) {
            // The partner of a saved shader is a directory: named with the reason, and the show
            // goes on although standard input is a terminal.
            fs::remove(show / "data/shaders/probe.vert");
            fs::create_directory(show / "data/shaders/probe.vert");
            show.write("data/shaders/probe.frag", probe_frag("0.0, 1.0, 0.0, 1.0"));
            const std::string named = "## ERROR: \"data/shaders/probe.vert\" cannot be read: it is a directory";
            ASSERT_TRUE(wait_until([&] { return contains(slurp(err_file), named); })) << slurp(err_file);
            const size_t renders = read_probe(log).renders.size();
            EXPECT_TRUE(wait_until([&] { return read_probe(log).renders.size() > renders + 3; })) << "it plays on";
        }

        player.signal(number);
        int status = -1;
        ASSERT_TRUE(player.wait_for_exit(20s, status)) << name;
        EXPECT_EQ(status, 128 + number) << name;
        const std::string out = slurp(show / "bin/stdout.txt");
        const std::string line =
            number == SIGTERM ? "# note: SIGTERM (asked to end): the show ends with status 143\n"
                              : "# note: SIGINT (interrupted from the terminal): the show ends with status 130\n";
        EXPECT_TRUE(contains(out, line)) << out;
        EXPECT_EQ(player.terminal_out(), out) << "every line on the terminal too, to the end";
    }
}
