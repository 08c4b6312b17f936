// Evaluation of sync tracks read from real ".track" files: the four interpolation kinds,
// rows before the first and after the last key, fractional rows and broken key data.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "host/sync/sync_store.h"
#include "track_file_writer.h"

namespace {

class SyncTrackValues : public ::testing::Test {
protected:
    // Writes the track's file and reads it through a fresh name in the store.
    const cSyncTrack& load(const std::vector<cTestKey>& keys) {
        std::string name = "track" + std::to_string(next_++);
        write_track(dir_, name, track_bytes(keys));
        const cSyncTrack* track = get_track(*store_, name.c_str());
        EXPECT_NE(track, nullptr);
        EXPECT_EQ(track->key_count, static_cast<int32_t>(keys.size())) << "keys of " << name;
        return *track;
    }
    // Keys at rows 0 (value 1) and 10 (value 3), the first with the given interpolation.
    const cSyncTrack& pair(int32_t interpolation) { return load({{0, 1.0f, interpolation}, {10, 3.0f, kSyncStep}}); }

    cTempDir dir_;
    std::unique_ptr<cSyncStore> store_ = create_store((dir_.path() + "/data/sync/").c_str());
    int next_ = 0;
};

}  // namespace

TEST_F(SyncTrackValues, linear_segment_and_the_ends_of_the_track) {
    const cSyncTrack& track = pair(kSyncLinear);
    EXPECT_DOUBLE_EQ(value_at(track, 5.0), 2.0);
    EXPECT_DOUBLE_EQ(value_at(track, 2.5), 1.5);
    EXPECT_DOUBLE_EQ(value_at(track, 10.0), 3.0);
    EXPECT_DOUBLE_EQ(value_at(track, -3.0), 1.0);
    EXPECT_DOUBLE_EQ(value_at(track, 1000.0), 3.0);
    EXPECT_DOUBLE_EQ(value_at(track, 0.0), 1.0);
}

TEST_F(SyncTrackValues, fractional_rows_interpolate_with_the_key_found_for_their_floor) {
    const cSyncTrack& track = pair(kSyncLinear);
    EXPECT_DOUBLE_EQ(value_at(track, 9.5), 1.0 + 2.0 * 0.95);
    EXPECT_DOUBLE_EQ(value_at(track, 9.999), 1.0 + 2.0 * 0.9999);
    // just before the first key is already "before the first key"
    EXPECT_DOUBLE_EQ(value_at(track, -0.001), 1.0);
}

TEST_F(SyncTrackValues, smooth_quadratic_and_step_segments) {
    const cSyncTrack& smooth = pair(kSyncSmooth);
    EXPECT_DOUBLE_EQ(value_at(smooth, 5.0), 2.0);
    EXPECT_DOUBLE_EQ(value_at(smooth, 2.5), 1.3125);

    const cSyncTrack& quadratic = pair(kSyncQuadratic);
    EXPECT_DOUBLE_EQ(value_at(quadratic, 5.0), 1.5);
    EXPECT_DOUBLE_EQ(value_at(quadratic, 2.5), 1.125);

    const cSyncTrack& step = pair(kSyncStep);
    EXPECT_DOUBLE_EQ(value_at(step, 9.99), 1.0);
    EXPECT_DOUBLE_EQ(value_at(step, 10.0), 3.0);
}

// t squared is the product t * t, rounded once, in every build. An unoptimised build that
// called pow for it was off in the last bit at rows like this one, so a debug player, the
// release player and the editor's page (which squares) disagreed.
TEST_F(SyncTrackValues, a_quadratic_segment_squares_t_the_same_in_every_build) {
    const cSyncTrack& track = load({{100, -3.3f, kSyncQuadratic}, {1001, 12345.678f, kSyncStep}});
    const double row = 218.0277, t = (row - 100.0) / 901.0;
    const float d = 12345.678f - -3.3f;
    EXPECT_EQ(value_at(track, row), static_cast<double>(-3.3f) + static_cast<double>(d) * (t * t));
}

TEST_F(SyncTrackValues, a_segment_follows_its_earlier_key_only) {
    const cSyncTrack& track = load({{0, 1.0f, kSyncStep}, {10, 3.0f, kSyncLinear}, {20, 5.0f, kSyncStep}});
    EXPECT_DOUBLE_EQ(value_at(track, 5.0), 1.0);
    EXPECT_DOUBLE_EQ(value_at(track, 15.0), 4.0);
    EXPECT_DOUBLE_EQ(value_at(track, 20.0), 5.0);
}

TEST_F(SyncTrackValues, one_key_holds_everywhere) {
    const cSyncTrack& track = load({{7, 0.25f, kSyncLinear}});
    for (double row : {-1e9, -1.0, 0.0, 6.5, 7.0, 7.5, 1e9}) EXPECT_DOUBLE_EQ(value_at(track, row), 0.25) << row;
}

TEST_F(SyncTrackValues, unknown_interpolations_give_zero_between_keys_only) {
    const cSyncTrack& track = load({{0, 1.0f, 7}, {10, 3.0f, -1}, {20, 5.0f, -128}, {30, 6.0f, 127}});
    EXPECT_EQ(track.keys[1].interpolation, -1);  // the byte is sign-extended
    EXPECT_EQ(track.keys[2].interpolation, -128);
    EXPECT_DOUBLE_EQ(value_at(track, 5.0), 0.0);
    EXPECT_DOUBLE_EQ(value_at(track, 15.0), 0.0);
    EXPECT_DOUBLE_EQ(value_at(track, 25.0), 0.0);
    EXPECT_DOUBLE_EQ(value_at(track, -1.0), 1.0);
    EXPECT_DOUBLE_EQ(value_at(track, 30.0), 6.0);
    EXPECT_DOUBLE_EQ(value_at(track, 99.0), 6.0);
}

TEST_F(SyncTrackValues, rows_far_outside_the_row_range_land_on_the_end_keys) {
    const cSyncTrack& track = pair(kSyncLinear);
    EXPECT_DOUBLE_EQ(value_at(track, 1e300), 3.0);
    EXPECT_DOUBLE_EQ(value_at(track, std::numeric_limits<double>::infinity()), 3.0);
    EXPECT_DOUBLE_EQ(value_at(track, -1e300), 1.0);
    EXPECT_DOUBLE_EQ(value_at(track, std::nan("")), 1.0);
}

TEST_F(SyncTrackValues, keys_at_the_extreme_rows_interpolate_without_overflow) {
    const cSyncTrack& track = load({{std::numeric_limits<int32_t>::min(), 0.25f, kSyncLinear},
                                    {std::numeric_limits<int32_t>::max(), 1.0f, kSyncStep}});
    EXPECT_NEAR(value_at(track, 0.0), 0.625, 1e-9);
    EXPECT_DOUBLE_EQ(value_at(track, 3e9), 1.0);
    // Rows below the lowest 32-bit row are still before the first key, not an extrapolation.
    for (double row : {-2147483648.5, -3e9, -1e300, -std::numeric_limits<double>::infinity()})
        EXPECT_EQ(value_at(track, row), 0.25) << row;
}

TEST_F(SyncTrackValues, values_stay_finite_between_keys_on_one_row_or_beyond_the_float_range_apart) {
    // Two keys on row 10: coming from row 5 the value heads for the first of them; from row 10
    // on the later one holds and its segment starts.
    const cSyncTrack& twins = load({{0, 1.0f, kSyncLinear},
                                    {5, 2.0f, kSyncLinear},
                                    {10, 3.0f, kSyncLinear},
                                    {10, 5.0f, kSyncLinear},
                                    {20, 7.0f, kSyncStep}});
    EXPECT_DOUBLE_EQ(value_at(twins, 7.5), 2.5);
    EXPECT_DOUBLE_EQ(value_at(twins, 10.0), 5.0);
    EXPECT_DOUBLE_EQ(value_at(twins, 10.5), 5.1);
    EXPECT_DOUBLE_EQ(value_at(twins, 15.0), 6.0);

    // -3e38 to 3e38 is beyond the float range apart: the values in between are the exact
    // midway points, 0 halfway and a quarter of the way up from the bottom at row 2.5.
    const float low = -3e38f, high = 3e38f;
    for (int32_t kind : {kSyncLinear, kSyncSmooth, kSyncQuadratic}) {
        const cSyncTrack& wide = load({{0, low, kind}, {10, high, kSyncStep}});
        EXPECT_EQ(value_at(wide, 0.0), low) << kind;
        EXPECT_EQ(value_at(wide, 10.0), high) << kind;
        for (double row : {0.5, 2.5, 5.0, 9.999}) EXPECT_TRUE(std::isfinite(value_at(wide, row))) << kind << " " << row;
    }
    const cSyncTrack& linear = load({{0, low, kSyncLinear}, {10, high, kSyncStep}});
    EXPECT_EQ(value_at(linear, 5.0), 0.0);
    EXPECT_EQ(value_at(linear, 2.5), static_cast<double>(low) / 2.0);
}

TEST(SyncTrackSearch, finds_the_exact_key_or_the_last_one_below) {
    cSyncTrack track;
    EXPECT_EQ(find_key(track, 0), -1);
    EXPECT_DOUBLE_EQ(value_at(track, 3.0), 0.0);

    track.keys.reset(new cSyncKey[4]{{0, 0, 0}, {4, 0, 0}, {8, 0, 0}, {12, 0, 0}});
    track.key_count = 4;
    EXPECT_EQ(find_key(track, -1), -1);
    EXPECT_EQ(find_key(track, 0), 0);
    EXPECT_EQ(find_key(track, 3), 0);
    EXPECT_EQ(find_key(track, 4), 1);
    EXPECT_EQ(find_key(track, 11), 2);
    EXPECT_EQ(find_key(track, 12), 3);
    EXPECT_EQ(find_key(track, 1000), 3);
}
