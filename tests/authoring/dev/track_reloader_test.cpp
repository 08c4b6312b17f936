// Live track reloads on a real sync device and real files: a source replaces every track it
// names at once, a source with an error or without a track changes nothing and says where,
// tracks it does not name keep their keys, and a ".track" file is taken only when it is whole.
// What the console is told is each outcome's lines, written as the development loop writes them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include "host/sync/track_file_writer.h"
#include "authoring/dev/track_reloader.h"
#include "host/sync/sync_device.h"
#include "support/capture_stream.h"
#include "support/temp_dir.h"

namespace {

class TrackReload : public ::testing::Test {
protected:
    void SetUp() override {
        dir.write("_kick.track", track_bytes({{0, 1.0f, 0}, {24, 3.0f, 0}}));
        cCaptureStream quiet(STDERR_FILENO);
        ASSERT_TRUE(sync.open_store(dir.path() + "/"));
    }
    float at(const char* name, int64_t ms) { return sync.get_value(name, ms); }

    cTempDir dir;
    cSyncDevice sync;
    cTrackReloader reloader{sync};
};

}  // namespace

TEST_F(TrackReload, a_source_replaces_the_tracks_it_names_and_a_bad_one_changes_nothing) {
    EXPECT_EQ(at("kick", 1000), 3.0f);
    cCaptureStream out(STDOUT_FILENO);
    cReloadOutcome outcome = reloader.apply_source(
        "track kick\n  0:0 2 step\n  3:0 5 step\ntrack fresh\n  0:0 7 linear\n  1:0 8 step\n", "show.tracks");
    tell_console(outcome);
    EXPECT_NE(out.stop().find("# note: reloaded \"show.tracks\": 2 tracks, 4 keys\n"), std::string::npos);
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(at("kick", 0), 2.0f);
    EXPECT_EQ(at("kick", 1000), 5.0f);  // row 24 is beat 3
    EXPECT_FLOAT_EQ(at("fresh", 250), 7.75f) << "row 6 of the way from row 0 to row 8, linear";

    // A problem on line 4: nothing changes, and the line is named, in one line (as a source
    // cut short by its writer has one problem, at its end); the source's escape byte is shown,
    // not sent to the terminal.
    cCaptureStream err(STDERR_FILENO);
    outcome = reloader.apply_source("track kick\n  0:0 9 step\ntrack fresh\n  0:0 1 lin\x1b[2Jeer\n", "show.tracks");
    tell_console(outcome);
    const std::string errors = err.stop();
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.message.rfind("line 4:", 0), 0u) << outcome.message;
    EXPECT_EQ(errors.rfind("## ERROR: show.tracks:4:", 0), 0u) << errors;
    EXPECT_NE(errors.find("lin\\x1b[2Jeer"), std::string::npos) << errors;
    EXPECT_EQ(errors.find('\x1b'), std::string::npos);
    EXPECT_EQ(outcome.message.find('\x1b'), std::string::npos);
    EXPECT_TRUE(errors.ends_with("; every track keeps its keys\n")) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    EXPECT_EQ(at("kick", 0), 2.0f) << "not even the good track of the bad source was taken";

    // Emptied, or nothing but comments: a source that defines no track is refused too.
    cCaptureStream err2(STDERR_FILENO);
    EXPECT_FALSE(reloader.apply_source("", "show.tracks").ok);
    EXPECT_FALSE(reloader.apply_source("# only a comment\n\n", "show.tracks").ok);
    err2.stop();
    EXPECT_EQ(at("kick", 0), 2.0f);

    // A track the source leaves out keeps its keys.
    cCaptureStream out2(STDOUT_FILENO);
    EXPECT_TRUE(reloader.apply_source("track fresh\n  0:0 4 step\n", "show.tracks").ok);
    out2.stop();
    EXPECT_EQ(at("kick", 0), 2.0f);
    EXPECT_EQ(at("fresh", 0), 4.0f);

    // A tool's preview holds, silently, until the next source names the track; a preview
    // without keys reads 0, as a track without a file does.
    cCaptureStream quiet_out(STDOUT_FILENO), quiet_err(STDERR_FILENO);
    std::vector<cDevTrackKeys> preview = {{"kick", {{0, 6.0f, kSyncStep}}}, {"fresh", {}}};
    reloader.preview(preview);
    EXPECT_EQ(quiet_out.stop() + quiet_err.stop(), "");
    EXPECT_EQ(at("kick", 1000), 6.0f);
    EXPECT_EQ(at("fresh", 0), 0.0f);
    cCaptureStream out3(STDOUT_FILENO);
    EXPECT_TRUE(reloader.apply_source("track fresh\n  0:0 4 step\n", "show.tracks").ok);
    out3.stop();
    EXPECT_EQ(at("fresh", 0), 4.0f);
    EXPECT_EQ(at("kick", 1000), 6.0f) << "a source that does not name the track leaves the preview";
}

TEST_F(TrackReload, a_track_file_is_read_again_only_when_it_is_whole) {
    EXPECT_EQ(at("kick", 0), 1.0f);
    const std::string path = dir / "_kick.track";
    cCaptureStream err(STDERR_FILENO);
    dir.write("_kick.track", track_bytes({{0, 6.0f, 0}, {24, 7.0f, 0}}).substr(0, 4 + 9 + 4));  // cut short
    const cReloadOutcome cut = reloader.reload_track_file(path);
    tell_console(cut);
    EXPECT_FALSE(cut.ok);
    EXPECT_NE(err.stop().find("track \"kick\" keeps its keys"), std::string::npos);
    EXPECT_EQ(at("kick", 0), 1.0f);

    cCaptureStream out(STDOUT_FILENO);
    dir.write("_kick.track", track_bytes({{0, 6.0f, 0}, {24, 7.0f, 0}}));
    EXPECT_TRUE(reloader.reload_track_file(path).ok);
    out.stop();
    EXPECT_EQ(at("kick", 0), 6.0f);
    EXPECT_EQ(at("kick", 1000), 7.0f);

    // The same keys written again (the editor saves what the show already has): nothing to say.
    cCaptureStream same(STDOUT_FILENO);
    dir.write("_kick.track", track_bytes({{0, 6.0f, 0}, {24, 7.0f, 0}}));
    const cReloadOutcome again = reloader.reload_track_file(path);
    tell_console(again);
    EXPECT_EQ(same.stop(), "");
    EXPECT_TRUE(again.ok && again.message.empty()) << again.message;

    // A track nobody asked for yet is left to its first use.
    dir.write("_later.track", track_bytes({{0, 2.0f, 0}}));
    const cReloadOutcome later = reloader.reload_track_file(dir / "_later.track");
    EXPECT_TRUE(later.ok);
    EXPECT_TRUE(later.message.empty());
    EXPECT_EQ(sync.registered_track("later"), nullptr);
}

// The live path. A source written in two pieces, closed between them, is read only once it
// has stayed the same for the stable time, so its first half is never in effect; it is read
// and parsed by the worker and swapped in by a later poll. A save of the text in effect says
// nothing, unless a track file has changed a track since. Times given to poll are made up;
// only the worker is waited for.
TEST_F(TrackReload, a_source_is_taken_whole_once_settled_and_a_save_of_the_text_in_effect_says_nothing) {
    const std::string source = dir / "show.tracks";
    cTrackReloader live{sync, source, 0.05};
    auto updates_at = [&](double now) {
        for (int i = 0; i < 5000; ++i) {
            std::vector<cTrackUpdate> updates = live.poll(now);
            for (const cTrackUpdate& update : updates) tell_console(update.outcome);
            if (!updates.empty() || !live.busy()) return updates;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return std::vector<cTrackUpdate>{};
    };
    cCaptureStream out(STDOUT_FILENO);
    const std::string first = "track kick\n  0:0 2 step\n";
    const std::string second = "  3:0 5 step\ntrack fresh\n  0:0 7 step\n";
    dir.write("show.tracks", first);
    live.source_written(0.0);
    EXPECT_TRUE(updates_at(0.02).empty()) << "not settled yet";
    std::ofstream(source, std::ios::binary | std::ios::app) << second;  // the second piece, not yet handed out
    EXPECT_TRUE(updates_at(0.06).empty()) << "it changed since: waits on";
    EXPECT_EQ(at("kick", 1000), 3.0f);
    std::vector<cTrackUpdate> updates = updates_at(0.12);
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_TRUE(updates[0].outcome.ok && updates[0].source_in_effect);
    EXPECT_EQ(updates[0].source_text, first + second);
    EXPECT_EQ(at("kick", 0), 2.0f);
    EXPECT_EQ(at("kick", 1000), 5.0f);
    EXPECT_EQ(at("fresh", 0), 7.0f);
    EXPECT_EQ(out.stop(), "# note: reloaded \"" + source + "\": 2 tracks, 3 keys\n");

    // Saved again as it is: in effect, and nothing to say.
    cCaptureStream quiet(STDOUT_FILENO);
    dir.write("show.tracks", first + second);
    live.source_written(1.0);
    updates = updates_at(1.1);
    EXPECT_EQ(quiet.stop(), "");
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_TRUE(updates[0].outcome.ok && updates[0].outcome.message.empty() && updates[0].source_in_effect);

    // A track file changes "kick"; the same source saved once more gives it its keys back.
    cCaptureStream out2(STDOUT_FILENO);
    dir.write("_kick.track", track_bytes({{0, 9.0f, 0}}));
    live.track_files_written({dir / "_kick.track"});
    updates = updates_at(2.0);
    EXPECT_EQ(at("kick", 1000), 9.0f);
    dir.write("show.tracks", first + second);
    live.source_written(3.0);
    updates = updates_at(3.1);
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_FALSE(updates[0].outcome.message.empty());
    EXPECT_EQ(at("kick", 1000), 5.0f);
    out2.stop();
}
