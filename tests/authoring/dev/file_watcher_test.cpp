// The development mode's watcher on real folders: a change is handed out once the folder has
// been quiet (or has waited long enough), each file once with the last thing that happened to
// it, and a folder renamed away is given up and taken up again with what changed meanwhile.
// Times given to poll are made up, so nothing here sleeps; events read by a poll count as
// happened at the poll before it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "authoring/dev/file_watcher.h"
#include "support/capture_stream.h"
#include "support/temp_dir.h"

namespace {

void write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

}  // namespace

TEST(file_watcher, changes_wait_for_quiet_and_come_once_per_file_with_the_last_thing_that_happened) {
    cTempDir dir;
    std::filesystem::create_directories(dir / "w");
    write(dir / "w/old.txt", "old");
    cFileWatcher watcher(0.02, 0.5, 0.05);
    watcher.watch(dir / "w");

    write(dir / "w/a.txt", "1");
    EXPECT_TRUE(watcher.poll(0.0).empty()) << "not quiet yet";
    EXPECT_EQ(watcher.poll(1.0), (std::vector<cFileChange>{{cFileChange::written, dir / "w/a.txt"}}));
    EXPECT_TRUE(watcher.poll(2.0).empty()) << "handed out once";

    // A thousand writes to ten files, one of them removed at the end, and one written into a
    // temporary name and moved into place (as editors save): eleven changes.
    for (int i = 0; i < 1000; ++i) write(dir / ("w/f" + std::to_string(i % 10) + ".txt"), std::to_string(i));
    std::filesystem::remove(dir / "w/f3.txt");
    write(dir / "w/.saving", "new");
    std::filesystem::rename(dir / "w/.saving", dir / "w/old.txt");
    const std::vector<cFileChange> burst = watcher.poll(3.0);  // after them, quiet since 2.0
    ASSERT_EQ(burst.size(), 12u);  // f0..f9, old.txt, and the temporary name that went away
    EXPECT_EQ(burst[0], (cFileChange{cFileChange::removed, dir / "w/.saving"}));
    EXPECT_EQ(burst[4], (cFileChange{cFileChange::removed, dir / "w/f3.txt"}));
    EXPECT_EQ(burst[11], (cFileChange{cFileChange::written, dir / "w/old.txt"}));

    // Polled often, changes wait for quiet; a folder that never falls quiet still hands out its
    // changes after the longest wait.
    EXPECT_TRUE(watcher.poll(5.0).empty());
    write(dir / "w/a.txt", "2");
    EXPECT_TRUE(watcher.poll(5.01).empty());
    for (int i = 2; i < 50; ++i) {
        write(dir / "w/a.txt", std::to_string(i));
        EXPECT_TRUE(watcher.poll(5.0 + i * 0.01).empty()) << i;
    }
    write(dir / "w/a.txt", "50");
    EXPECT_EQ(watcher.poll(5.51).size(), 1u);

    // A burst that goes on from frame to frame, the frames longer than the settling time (as
    // when each frame reloads what the last one handed out): the first frame's change goes at
    // once, the rest once a frame brings nothing new, each file once.
    EXPECT_TRUE(watcher.poll(6.0).empty());
    write(dir / "w/a.txt", "51");
    EXPECT_EQ(watcher.poll(6.05).size(), 1u);
    size_t handed_out = 0;
    for (int frame = 2; frame <= 8; ++frame) {
        for (int i = 0; i < 10; ++i) write(dir / ("w/f" + std::to_string(i) + ".txt"), std::to_string(frame));
        handed_out += watcher.poll(6.0 + frame * 0.05).size();
    }
    EXPECT_EQ(handed_out, 0u);
    EXPECT_EQ(watcher.poll(6.45).size(), 10u);
}

TEST(file_watcher, a_folder_renamed_away_is_given_up_and_taken_up_again_with_what_changed_meanwhile) {
    cTempDir dir;
    std::filesystem::create_directories(dir / "w");
    write(dir / "w/keep.txt", "1");
    write(dir / "w/gone.txt", "1");
    cFileWatcher watcher(0.02, 0.5, 0.05);
    watcher.watch(dir / "w");

    cCaptureStream err(STDERR_FILENO);
    std::filesystem::rename(dir / "w", dir / "away");
    EXPECT_TRUE(watcher.poll(1.0).empty());
    EXPECT_NE(err.stop().find("\"" + dir / "w" + "\" was renamed or moved; its files are not watched"), std::string::npos);

    // What happens in the renamed folder is not a change of the watched one.
    write(dir / "away/keep.txt", "22");
    std::filesystem::remove(dir / "away/gone.txt");
    EXPECT_TRUE(watcher.poll(2.0).empty());

    cCaptureStream out(STDOUT_FILENO);
    std::filesystem::rename(dir / "away", dir / "w");
    EXPECT_TRUE(watcher.poll(3.0).empty()) << "looked for again, and compared";
    EXPECT_NE(out.stop().find("# note: watching \"" + dir / "w" + "\" again"), std::string::npos);
    EXPECT_EQ(watcher.poll(4.0), (std::vector<cFileChange>{{cFileChange::removed, dir / "w/gone.txt"},
                                                           {cFileChange::written, dir / "w/keep.txt"}}));
}
