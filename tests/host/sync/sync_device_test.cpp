// The sync device: milliseconds to rows, one file read per name, exact names, the store's
// report, and the answers without a store.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/files/file_utils.h"
#include "host/sync/sync_device.h"
#include "support/capture_stream.h"
#include "track_file_writer.h"

namespace {

class SyncDeviceTimes : public ::testing::Test {
protected:
    void SetUp() override {
        cCaptureStream err(STDERR_FILENO);
        ASSERT_TRUE(device_.open_store(base()));
    }
    std::string base() const { return dir_.path() + "/data/sync/"; }
    float at(const char* name, int64_t time_ms) { return device_.get_value(name, time_ms); }

    cTempDir dir_;
    cSyncDevice device_;
};

}  // namespace

TEST_F(SyncDeviceTimes, grid_is_24_rows_per_second) {
    EXPECT_DOUBLE_EQ(device_.bpm, 180.0);
    EXPECT_DOUBLE_EQ(device_.rows_per_beat, 8.0);
    EXPECT_DOUBLE_EQ(device_.rows_per_second, 24.0);
}

TEST_F(SyncDeviceTimes, milliseconds_become_rows) {
    // value == row along the whole track, so the value shows the row that was asked for
    write_track(dir_, "row", track_bytes({{-10000, -10000.0f, kSyncLinear}, {10000, 10000.0f, kSyncStep}}));
    EXPECT_FLOAT_EQ(at("row", 0), 0.0f);
    EXPECT_FLOAT_EQ(at("row", 1000), 24.0f);
    EXPECT_FLOAT_EQ(at("row", 88250), 2118.0f);
    EXPECT_FLOAT_EQ(at("row", 1), 0.024f);
    EXPECT_FLOAT_EQ(at("row", 125), 3.0f);
    EXPECT_FLOAT_EQ(at("row", -1000), -24.0f);
}

TEST_F(SyncDeviceTimes, negative_times_read_the_first_key) {
    write_track(dir_, "kick", track_bytes({{0, 0.5f, kSyncLinear}, {24, 1.5f, kSyncStep}}));
    EXPECT_FLOAT_EQ(at("kick", -1), 0.5f);
    EXPECT_FLOAT_EQ(at("kick", -1000000), 0.5f);
    EXPECT_FLOAT_EQ(at("kick", 500), 1.0f);
    EXPECT_FLOAT_EQ(at("kick", std::numeric_limits<int64_t>::min()), 0.5f);
    EXPECT_FLOAT_EQ(at("kick", std::numeric_limits<int64_t>::max()), 1.5f);
}

TEST_F(SyncDeviceTimes, a_name_is_read_on_its_first_request_only) {
    std::string file = write_track(dir_, "kick", track_bytes({{0, 1.0f, kSyncStep}}));
    EXPECT_EQ(device_.registered_count(), 0u) << "nothing is read before it is asked for";
    EXPECT_FLOAT_EQ(at("kick", 0), 1.0f);

    write_track(dir_, "kick", track_bytes({{0, 9.0f, kSyncStep}}));
    EXPECT_FLOAT_EQ(at("kick", 0), 1.0f);
    std::filesystem::remove(file);
    EXPECT_FLOAT_EQ(at("kick", 0), 1.0f);
    EXPECT_EQ(device_.registered_count(), 1u);
    EXPECT_EQ(device_.store()->tracks.size(), 1u);

    // a name whose file appears after its first request stays empty
    EXPECT_FLOAT_EQ(at("late", 0), 0.0f);
    write_track(dir_, "late", track_bytes({{0, 4.0f, kSyncStep}}));
    EXPECT_FLOAT_EQ(at("late", 0), 0.0f);
}

TEST_F(SyncDeviceTimes, names_are_exact_and_case_sensitive) {
    write_track(dir_, "kick", track_bytes({{0, 1.0f, kSyncStep}}));
    write_track(dir_, "Kick", track_bytes({{0, 2.0f, kSyncStep}}));
    EXPECT_FLOAT_EQ(at("kick", 0), 1.0f);
    EXPECT_FLOAT_EQ(at("Kick", 0), 2.0f);
    EXPECT_FLOAT_EQ(at("kick ", 0), 0.0f);
    EXPECT_FLOAT_EQ(at("kic", 0), 0.0f);
    EXPECT_EQ(device_.registered_count(), 4u);
}

TEST_F(SyncDeviceTimes, a_name_without_a_file_reads_zero_at_every_time) {
    for (int64_t t : {-5000, 0, 1, 88250, 1000000}) EXPECT_EQ(at("no_such_track", t), 0.0f) << t;
    EXPECT_EQ(at("", 0), 0.0f);
    EXPECT_EQ(at(nullptr, 0), 0.0f);
}

TEST_F(SyncDeviceTimes, modules_and_host_share_one_track_through_isync) {
    write_track(dir_, "tunnel", track_bytes({{0, 0.75f, kSyncStep}}));
    iSync& sync = device_;
    const int64_t now = 40;
    EXPECT_FLOAT_EQ(sync.get_value("tunnel", now), 0.75f);
    EXPECT_FLOAT_EQ(device_.get_value("tunnel", now), 0.75f);
    EXPECT_EQ(device_.registered_count(), 1u);
}

TEST_F(SyncDeviceTimes, opening_the_store_again_keeps_its_tracks) {
    write_track(dir_, "kick", track_bytes({{0, 1.0f, kSyncStep}}));
    EXPECT_FLOAT_EQ(at("kick", 0), 1.0f);
    const cSyncStore* before = device_.store();
    cCaptureStream err(STDERR_FILENO);
    EXPECT_TRUE(device_.open_store("elsewhere/"));
    EXPECT_EQ(device_.store(), before);
    EXPECT_FLOAT_EQ(at("kick", 0), 1.0f);
}

TEST(SyncDeviceStore, open_store_reports_success_and_keeps_the_base_path) {
    cSyncDevice device;
    cCaptureStream err(STDERR_FILENO);
    EXPECT_TRUE(device.open_store());
    EXPECT_EQ(err.stop(), "# SYNC connected to localhost\n");
    ASSERT_NE(device.store(), nullptr);
    EXPECT_EQ(device.store()->base_path, "data/sync/");
}

TEST(SyncDeviceStore, without_a_store_every_name_reads_zero) {
    cTempDir dir;
    write_track(dir, "kick", track_bytes({{0, 1.0f, kSyncStep}}));
    std::string before = current_directory();
    ASSERT_TRUE(set_current_directory(dir.path()));  // where "data/sync/_kick.track" would be found
    cSyncDevice device;
    EXPECT_EQ(device.get_value("kick", 0), 0.0f);
    EXPECT_FALSE(device.register_track("kick"));
    EXPECT_EQ(device.registered_count(), 0u);
    EXPECT_EQ(device.store(), nullptr);
    ASSERT_TRUE(set_current_directory(before));
}
