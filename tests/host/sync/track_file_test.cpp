#include "host/sync/track_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>

#include "support/temp_dir.h"

// The process's umask calls, counted and passed on to the system.
int g_umask_calls = 0;
extern "C" mode_t umask(mode_t mask) {
    ++g_umask_calls;
    return static_cast<mode_t>(::syscall(SYS_umask, mask));
}

namespace {

}  // namespace

TEST(TrackFile, encodes_count_then_row_value_and_interpolation_byte_little_endian) {
    std::string bytes = encode_track({{1, 1.0f, kSyncLinear}, {-2, -2.5f, kSyncQuadratic}});
    const unsigned char expected[] = {
        2, 0, 0, 0,                                    // count
        1, 0, 0, 0, 0x00, 0x00, 0x80, 0x3F, 1,         // row 1, 1.0f, linear
        0xFE, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x20, 0xC0, 3,  // row -2, -2.5f, quadratic
    };
    ASSERT_EQ(bytes.size(), sizeof expected);
    EXPECT_EQ(bytes, std::string(reinterpret_cast<const char*>(expected), sizeof expected));
    EXPECT_EQ(encode_track({}), std::string("\0\0\0\0", 4));
}

TEST(TrackFile, decodes_what_it_encodes_and_sign_extends_the_interpolation) {
    std::vector<cSyncKey> keys;
    std::string error;
    std::string bytes = encode_track({{0, 0.5f, kSyncSmooth}, {24, 3.0f, -1}});
    ASSERT_TRUE(decode_track(bytes, keys, error)) << error;
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].row, 0);
    EXPECT_EQ(keys[0].value, 0.5f);
    EXPECT_EQ(keys[0].interpolation, kSyncSmooth);
    EXPECT_EQ(keys[1].row, 24);
    EXPECT_EQ(keys[1].interpolation, -1);  // byte 0xFF, as the show reads it
}

TEST(TrackFile, refuses_bytes_that_do_not_match_their_key_count) {
    std::vector<cSyncKey> keys;
    std::string error;
    std::string good = encode_track({{0, 1.0f, kSyncStep}});
    EXPECT_FALSE(decode_track(good.substr(0, good.size() - 1), keys, error));
    EXPECT_NE(error.find("needs 13 bytes, but it holds 12"), std::string::npos) << error;
    EXPECT_FALSE(decode_track(good + "x", keys, error));
    EXPECT_FALSE(decode_track("ab", keys, error));
    EXPECT_FALSE(decode_track(std::string("\xFF\xFF\xFF\xFF", 4), keys, error));
    EXPECT_NE(error.find("negative"), std::string::npos) << error;
    // A huge count is refused by length, not by trying to allocate it.
    EXPECT_FALSE(decode_track(std::string("\xFF\xFF\xFF\x7F", 4), keys, error));
}

TEST(TrackFile, file_names_and_track_names_map_both_ways) {
    EXPECT_EQ(track_file_name("kick"), "_kick.track");
    EXPECT_EQ(track_name_of_file("data/sync/_kick.track"), "kick");
    EXPECT_EQ(track_name_of_file("_scene_karaoke.track"), "scene_karaoke");
    EXPECT_EQ(track_name_of_file("/tmp/odd.track"), "odd");
    EXPECT_EQ(track_name_of_file("plain"), "plain");
}

TEST(TrackFile, writes_every_file_and_leaves_identical_ones_untouched) {
    cTempDir dir;
    std::string out = dir / "sync";
    cWriteOutcome first = write_track_files(out, {{"_a.track", "AAAA"}, {"_b.track", "BBBB"}});
    ASSERT_TRUE(first.ok) << first.error;
    EXPECT_EQ(first.written, 2);
    EXPECT_EQ(slurp(out + "/_a.track"), "AAAA");
    auto stamp = std::filesystem::last_write_time(out + "/_a.track");

    cWriteOutcome second = write_track_files(out, {{"_a.track", "AAAA"}, {"_b.track", "bbbb"}});
    ASSERT_TRUE(second.ok) << second.error;
    EXPECT_EQ(second.written, 1);
    EXPECT_EQ(second.unchanged, 1);
    EXPECT_EQ(slurp(out + "/_b.track"), "bbbb");
    EXPECT_EQ(std::filesystem::last_write_time(out + "/_a.track"), stamp);
    // No temporary file is left behind.
    EXPECT_EQ(file_names_in(out), (std::vector<std::string>{"_a.track", "_b.track"}));
    // Files are readable like any other new file, not private like a temporary one.
    auto perms = std::filesystem::status(out + "/_b.track").permissions();
    EXPECT_NE(perms & std::filesystem::perms::owner_read, std::filesystem::perms::none);
}

TEST(TrackFile, a_target_in_the_way_stops_the_write_before_any_file_changes) {
    cTempDir dir;
    dir.write("sync/_a.track", "old a");
    std::filesystem::create_directories(dir / "sync/_b.track");  // a directory where a file should go
    cWriteOutcome outcome = write_track_files(dir / "sync", {{"_a.track", "new a"}, {"_b.track", "new b"}});
    EXPECT_FALSE(outcome.ok);
    EXPECT_NE(outcome.error.find("_b.track\" is in the way"), std::string::npos) << outcome.error;
    EXPECT_EQ(slurp(dir / "sync/_a.track"), "old a");
    EXPECT_EQ(file_names_in(dir / "sync"), (std::vector<std::string>{"_a.track", "_b.track"}));
}

TEST(TrackFile, an_output_directory_that_is_a_file_is_refused) {
    cTempDir dir;
    dir.write("not_a_dir", "x");
    cWriteOutcome outcome = write_track_files(dir / "not_a_dir", {{"_a.track", "a"}});
    EXPECT_FALSE(outcome.ok);
    EXPECT_NE(outcome.error.find("cannot create the directory"), std::string::npos) << outcome.error;
    EXPECT_EQ(slurp(dir / "not_a_dir"), "x");
}

TEST(TrackFile, the_writer_leaves_the_umask_alone_and_gives_the_mode_to_each_file) {
    // The player creates files on its main thread (module cache copies, logs) while the editor
    // writes track files on one of its own: a writer that set the umask to 0 for a moment would
    // give those files its modes. Every call of umask is counted (the spy below).
    cTempDir dir;
    dir.write("sync/_kept.track", "old");
    std::filesystem::permissions(dir / "sync/_kept.track", std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    const mode_t previous = ::umask(027);
    g_umask_calls = 0;
    cWriteOutcome outcome = write_track_files(dir / "sync", {{"_new.track", "new"}, {"_kept.track", "changed"}});
    const int calls = g_umask_calls;
    ::umask(previous);
    ASSERT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(calls, 0);
    using std::filesystem::perms;
    EXPECT_EQ(std::filesystem::status(dir / "sync/_new.track").permissions(),
              perms::owner_read | perms::owner_write | perms::group_read);
    EXPECT_EQ(std::filesystem::status(dir / "sync/_kept.track").permissions(), perms::owner_read | perms::owner_write);
}
