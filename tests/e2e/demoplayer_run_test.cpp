// demoplayer as a user runs it: started from a show directory's bin/ under Xvfb, with SDL's
// dummy audio, the recording test module and a track that switches it on for stretches.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "support/audio_test_media.h"
#include "support/run_process.h"
#include "support/running_player.h"
#include "support/show_layout.h"

namespace {

using namespace std::chrono_literals;

void press(const std::string& key) {
    cProcessResult r = run_process({"/usr/bin/env", "xdotool", "key", key});
    ASSERT_TRUE(r.exited && r.status == 0) << r.err;
}

struct cRecorderLog {
    std::vector<std::string> calls;  // the call names in order
    std::vector<int32_t> render_times;
};

cRecorderLog read_log(const std::string& path) {
    cRecorderLog log;
    std::istringstream in(slurp(path));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string call;
        words >> call;
        log.calls.push_back(call);
        if (call == "render") {
            int32_t t = 0;
            words >> t;
            log.render_times.push_back(t);
        }
    }
    return log;
}

// Waits until the recorder has logged a render at or after the given music time.
bool wait_for_render_at(const std::string& log, int32_t time_ms, std::chrono::seconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        auto times = read_log(log).render_times;
        if (!times.empty() && times.back() >= time_ms) return true;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

// A show with the recorder module, seconds of music, and the module's gating track.
void make_show(cShowLayout& show, double music_seconds, const std::vector<cTrackKey>& gate) {
    show.add_module(std::string(DEMO_TEST_PLUGIN_DIR) + "/render_recorder.so");
    show.write("data/muzak/recut.mp3",
               wav_bytes(44100, 2, sine_samples(44100, 2, static_cast<uint64_t>(music_seconds * 44100), 220.0, 0.2)));
    show.write("data/sync/_scene_recorder.track", track_file_bytes(gate));
}

}  // namespace

TEST(DemoplayerRun, renders_a_module_only_while_its_track_is_above_zero_and_ends_on_escape) {
    cShowLayout show;
    // Rows are 1/24 s. On from 1 s to 2 s, off (negative) from 2.5 s, a tiny positive value
    // from 3 s to 3.5 s, off afterwards.
    make_show(show, 8.0,
              {{0, 0.0f, 0}, {24, 1.0f, 0}, {48, 0.0f, 0}, {60, -1.0f, 0}, {72, 0.0001f, 0}, {84, 0.0f, 0}});
    cRunningPlayer player(show, {});
    const std::string log = show / "recorder.log";
    ASSERT_TRUE(wait_for_render_at(log, 3000, 60s)) << slurp(show / "bin/stderr.txt");
    std::this_thread::sleep_for(1500ms);  // past the last stretch: nothing more may render
    ASSERT_TRUE(player.running());
    press("Escape");
    int status = -1;
    ASSERT_TRUE(player.wait_for_exit(20s, status));
    EXPECT_EQ(status, 0);

    const std::string out = slurp(show / "bin/stdout.txt");
    const std::string err = slurp(show / "bin/stderr.txt");
    EXPECT_EQ(out.rfind("cwd: " + std::filesystem::canonical(show.root()).string() + "\n", 0), 0u) << out;
    EXPECT_NE(out.find("# bass streaming file"), std::string::npos) << out;
    EXPECT_EQ(err.find("## ERROR"), std::string::npos) << err;

    cRecorderLog calls = read_log(log);
    ASSERT_GE(calls.calls.size(), 3u);
    EXPECT_EQ(calls.calls[0], "create");
    EXPECT_EQ(calls.calls[1], "init");
    EXPECT_EQ(std::count(calls.calls.begin(), calls.calls.end(), "init"), 1);
    EXPECT_EQ(std::count(calls.calls.begin(), calls.calls.end(), "delete"), 0) << "scenes are never deleted";

    // The host reads the time for the gate just before render reads it again, so a render may
    // report a time a frame's fraction past a switch-off; never earlier than a switch-on.
    constexpr int32_t slack_ms = 30;
    int32_t previous = -1;
    int in_first = 0, in_second = 0;
    for (int32_t t : calls.render_times) {
        EXPECT_GE(t, previous) << "time went backwards";
        previous = t;
        bool first = t >= 1000 && t < 2000 + slack_ms;
        bool second = t >= 3000 && t < 3500 + slack_ms;
        EXPECT_TRUE(first || second) << "rendered at " << t << " ms";
        in_first += first;
        in_second += second;
    }
    EXPECT_GT(in_first, 5);
    EXPECT_GT(in_second, 2);
}

TEST(DemoplayerRun, space_changes_nothing_and_q_or_capital_q_end_the_show) {
    for (const char* quit_key : {"q", "Q"}) {
        cShowLayout show;
        make_show(show, 30.0, {{0, 1.0f, 0}});
        cRunningPlayer player(show, {});
        const std::string log = show / "recorder.log";
        ASSERT_TRUE(wait_for_render_at(log, 500, 60s)) << slurp(show / "bin/stderr.txt");
        for (int i = 0; i < 5; ++i) press("space");
        size_t before = read_log(log).render_times.size();
        std::this_thread::sleep_for(1s);
        EXPECT_TRUE(player.running()) << "Space must not end the show";
        EXPECT_GT(read_log(log).render_times.size(), before) << "Space must not stop rendering";
        press(quit_key);
        int status = -1;
        ASSERT_TRUE(player.wait_for_exit(20s, status)) << quit_key;
        EXPECT_EQ(status, 0) << quit_key;
    }
}

TEST(DemoplayerRun, a_show_without_modules_reports_it_and_keeps_running) {
    cShowLayout show;
    show.write("data/muzak/recut.mp3", wav_bytes(44100, 2, sine_samples(44100, 2, 44100 * 5, 220.0, 0.2)));
    cRunningPlayer player(show, {});
    std::this_thread::sleep_for(3s);
    EXPECT_TRUE(player.running());
    press("Escape");
    int status = -1;
    ASSERT_TRUE(player.wait_for_exit(20s, status));
    EXPECT_EQ(status, 0);
    const std::string err = slurp(show / "bin/stderr.txt");
    EXPECT_NE(err.find("# warning: didn't find any dlls in \""), std::string::npos) << err;
    EXPECT_NE(err.find("# cwd: "), std::string::npos) << err;
}
