// The track store and its ".track" reader: file paths, decoding, one read per name, exact
// names, and files that lie about their contents (bad counts, short files, bad key order).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

#include "host/sync/sync_config.h"
#include "host/sync/sync_store.h"
#include "track_file_writer.h"

namespace {

// File callbacks that watch the reader: every open is counted and its path and mode kept.
int g_opens = 0;
std::string g_last_path;
std::string g_last_mode;

FILE* counting_open(const char* path, const char* mode) {
    ++g_opens;
    g_last_path = path;
    g_last_mode = mode;
    return std::fopen(path, mode);
}

class SyncStoreFiles : public ::testing::Test {
protected:
    void SetUp() override {
        g_opens = 0;
        g_last_path.clear();
        g_last_mode.clear();
        store_->open = counting_open;
    }
    std::string base() const { return dir_.path() + "/data/sync/"; }
    // Writes raw bytes as the file of a new track name and reads that track.
    const cSyncTrack& read_bytes(const std::string& bytes) {
        std::string name = "raw" + std::to_string(next_++);
        write_track(dir_, name, bytes);
        return *get_track(*store_, name.c_str());
    }
    // Evaluates a track over a range of rows; under the sanitizers this proves that no
    // evaluation reads outside the keys.
    static void sweep(const cSyncTrack& track) {
        for (double row = -40.0; row <= 40.0; row += 0.25) {
            double value = value_at(track, row);
            (void)value;
        }
    }

    cTempDir dir_;
    std::unique_ptr<cSyncStore> store_ = create_store(base().c_str());
    int next_ = 0;
};

}  // namespace

TEST_F(SyncStoreFiles, store_keeps_its_base_path_as_given_and_starts_empty) {
    std::unique_ptr<cSyncStore> store = create_store("data/sync/");
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(store->base_path, "data/sync/");
    EXPECT_TRUE(store->tracks.empty());
    EXPECT_NE(store->open, nullptr);
    EXPECT_NE(store->read, nullptr);
    EXPECT_NE(store->close, nullptr);
}

TEST_F(SyncStoreFiles, reads_little_endian_keys_from_underscore_name_dot_track) {
    write_track(dir_, "scene_karaoke", track_bytes({{-5, -2.5f, kSyncSmooth}, {300000, 1e20f, -1}}));
    const cSyncTrack* track = get_track(*store_, "scene_karaoke");
    EXPECT_EQ(g_last_path, base() + "_scene_karaoke.track");
    EXPECT_EQ(g_last_mode, "rb");
    ASSERT_EQ(track->key_count, 2);
    EXPECT_EQ(track->name, "scene_karaoke");
    EXPECT_EQ(track->keys[0].row, -5);
    EXPECT_EQ(track->keys[0].value, -2.5f);
    EXPECT_EQ(track->keys[0].interpolation, kSyncSmooth);
    EXPECT_EQ(track->keys[1].row, 300000);
    EXPECT_EQ(track->keys[1].value, 1e20f);
    EXPECT_EQ(track->keys[1].interpolation, -1);
}

TEST_F(SyncStoreFiles, a_name_is_read_once_and_always_gives_the_same_track) {
    write_track(dir_, "kick", track_bytes({{0, 1.0f, kSyncStep}}));
    cSyncTrack* first = get_track(*store_, "kick");
    cSyncTrack* missing = get_track(*store_, "no_such_track");
    EXPECT_EQ(g_opens, 2);
    EXPECT_EQ(get_track(*store_, "kick"), first);
    EXPECT_EQ(get_track(*store_, "no_such_track"), missing);
    EXPECT_EQ(g_opens, 2) << "a known name, with or without a file, must not be read again";
    EXPECT_EQ(missing->key_count, 0);
    EXPECT_EQ(missing->keys, nullptr);
    EXPECT_DOUBLE_EQ(value_at(*missing, 12.0), 0.0);
    EXPECT_EQ(find_track(*store_, "kick"), 0);
    EXPECT_EQ(find_track(*store_, "no_such_track"), 1);
    EXPECT_EQ(find_track(*store_, "snare"), -1);
}

TEST_F(SyncStoreFiles, names_differing_in_case_are_different_tracks_and_files) {
    write_track(dir_, "kick", track_bytes({{0, 1.0f, kSyncStep}}));
    write_track(dir_, "Kick", track_bytes({{0, 2.0f, kSyncStep}}));
    cSyncTrack* lower = get_track(*store_, "kick");
    cSyncTrack* upper = get_track(*store_, "Kick");
    EXPECT_NE(lower, upper);
    EXPECT_DOUBLE_EQ(value_at(*lower, 0.0), 1.0);
    EXPECT_DOUBLE_EQ(value_at(*upper, 0.0), 2.0);
    EXPECT_EQ(find_track(*store_, "KICK"), -1);
    EXPECT_EQ(find_track(*store_, "kic"), -1);
}

TEST_F(SyncStoreFiles, counts_that_lie_keep_only_the_whole_keys_in_the_file) {
    std::vector<cTestKey> two{{0, 1.0f, kSyncLinear}, {10, 3.0f, kSyncStep}};
    EXPECT_EQ(read_bytes(track_bytes(two, -1)).key_count, 0) << "negative count";
    EXPECT_EQ(read_bytes(track_bytes(two, std::numeric_limits<int32_t>::min())).key_count, 0);
    EXPECT_EQ(read_bytes(track_bytes(two, 0)).key_count, 0) << "zero count";

    const cSyncTrack& huge = read_bytes(track_bytes(two, 0x7fffffff));
    ASSERT_EQ(huge.key_count, 2) << "a huge count must not allocate beyond the file";
    EXPECT_DOUBLE_EQ(value_at(huge, 5.0), 2.0);

    const cSyncTrack& too_many = read_bytes(track_bytes(two, 5));
    ASSERT_EQ(too_many.key_count, 2);
    EXPECT_DOUBLE_EQ(value_at(too_many, 10.0), 3.0);

    // more keys in the file than the count says: the count wins
    EXPECT_EQ(read_bytes(track_bytes({{0, 1.0f, 0}, {1, 2.0f, 0}, {2, 3.0f, 0}}, 2)).key_count, 2);
}

TEST_F(SyncStoreFiles, short_files_keep_the_keys_read_before_the_cut) {
    std::string three = track_bytes({{0, 1.0f, kSyncLinear}, {10, 3.0f, kSyncLinear}, {20, 7.0f, kSyncStep}});
    EXPECT_EQ(read_bytes("").key_count, 0) << "zero-length file";
    EXPECT_EQ(read_bytes(three.substr(0, 3)).key_count, 0) << "cut inside the count";
    EXPECT_EQ(read_bytes(three.substr(0, 4)).key_count, 0) << "count only";
    EXPECT_EQ(read_bytes(three.substr(0, 4 + 8)).key_count, 0) << "cut inside the first key";

    const cSyncTrack& cut = read_bytes(three.substr(0, 4 + 9 + 9 + 5));
    ASSERT_EQ(cut.key_count, 2) << "cut inside the third key";
    EXPECT_DOUBLE_EQ(value_at(cut, 5.0), 2.0);
    EXPECT_DOUBLE_EQ(value_at(cut, 15.0), 3.0);
}

TEST_F(SyncStoreFiles, keys_out_of_order_are_kept_as_stored_and_evaluate_safely) {
    const cSyncTrack& decreasing = read_bytes(track_bytes({{10, 3.0f, kSyncLinear}, {0, 1.0f, kSyncLinear}, {5, 2.0f, 1}}));
    ASSERT_EQ(decreasing.key_count, 3);
    EXPECT_EQ(decreasing.keys[0].row, 10);
    EXPECT_EQ(decreasing.keys[1].row, 0);
    sweep(decreasing);

    const cSyncTrack& equal = read_bytes(track_bytes({{5, 1.0f, kSyncLinear}, {5, 2.0f, kSyncSmooth}, {5, 3.0f, kSyncLinear}}));
    ASSERT_EQ(equal.key_count, 3);
    sweep(equal);
    // before and after every key the end values still hold
    EXPECT_DOUBLE_EQ(value_at(equal, 4.0), 1.0);
    EXPECT_DOUBLE_EQ(value_at(equal, 6.0), 3.0);
}

TEST_F(SyncStoreFiles, paths_beyond_the_path_buffer_name_no_file) {
    // The longest path that fits: 259 characters and the terminator.
    std::size_t room = kSyncTrackPathCapacity - 1 - base().size() - std::strlen("_.track");
    std::string fits(room, 'a');
    std::string too_long(room + 1, 'b');
    write_track(dir_, fits, track_bytes({{0, 1.0f, kSyncStep}}));
    write_track(dir_, too_long, track_bytes({{0, 1.0f, kSyncStep}}));

    EXPECT_EQ(get_track(*store_, fits.c_str())->key_count, 1);
    EXPECT_EQ(g_opens, 1);
    const cSyncTrack* dropped = get_track(*store_, too_long.c_str());
    EXPECT_EQ(dropped->key_count, 0);
    EXPECT_EQ(dropped->name, too_long) << "the track itself keeps its whole name";
    EXPECT_EQ(g_opens, 1) << "a path that does not fit is not even opened";

    std::string very_long(5000, 'c');
    EXPECT_EQ(get_track(*store_, very_long.c_str())->key_count, 0);
}

TEST_F(SyncStoreFiles, base_path_beyond_the_path_buffer_finds_no_file) {
    std::unique_ptr<cSyncStore> store = create_store((base() + std::string(400, '/')).c_str());
    store->open = counting_open;
    write_track(dir_, "kick", track_bytes({{0, 1.0f, kSyncStep}}));
    EXPECT_EQ(get_track(*store, "kick")->key_count, 0);
    EXPECT_EQ(g_opens, 0);
}
