#include "host/sync/track_source.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "host/sync/track_text.h"

namespace {

// The one problem a source is expected to have, as "line:column: message".
std::string only_problem(std::string_view text) {
    cParsedSource parsed = parse_track_source(text);
    if (parsed.problems.size() != 1) return "expected one problem, got " + std::to_string(parsed.problems.size());
    const cSourceProblem& p = parsed.problems[0];
    return std::to_string(p.line) + ":" + std::to_string(p.column) + ": " + p.message;
}

uint32_t bits_of(float v) {
    uint32_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

}  // namespace

TEST(TrackSource, reads_tracks_keys_comments_and_both_position_forms) {
    const char* text =
        "# heading comment\n"
        "\n"
        "track kick   # trailing comment\n"
        "  0:0   1      linear\n"
        "\t1:4\t0.25\tsmooth\r\n"
        "  r20   -3     quadratic  # row 20\n"
        "track word_t\n"
        "  -1:4  2      step\n"
        "  r-2   +2.5   step\n";
    cParsedSource parsed = parse_track_source(text);
    ASSERT_TRUE(parsed.ok()) << parsed.problems[0].message;
    ASSERT_EQ(parsed.tracks.size(), 2u);
    const cSourceTrack& kick = parsed.tracks[0];
    EXPECT_EQ(kick.name, "kick");
    EXPECT_EQ(kick.line, 3);
    ASSERT_EQ(kick.keys.size(), 3u);
    EXPECT_EQ(kick.keys[0].row, 0);
    EXPECT_EQ(kick.keys[0].interpolation, kSyncLinear);
    EXPECT_EQ(kick.keys[1].row, 12);
    EXPECT_EQ(kick.keys[1].value, 0.25f);
    EXPECT_EQ(kick.keys[1].interpolation, kSyncSmooth);
    EXPECT_EQ(kick.keys[2].row, 20);
    EXPECT_EQ(kick.keys[2].value, -3.0f);
    EXPECT_EQ(kick.keys[2].interpolation, kSyncQuadratic);
    const cSourceTrack& word = parsed.tracks[1];
    ASSERT_EQ(word.keys.size(), 2u);
    EXPECT_EQ(word.keys[0].row, -4);
    EXPECT_EQ(word.keys[1].row, -2);
    EXPECT_EQ(word.keys[1].value, 2.5f);
    EXPECT_EQ(word.keys[1].interpolation, kSyncStep);
}

TEST(TrackSource, a_track_without_keys_is_allowed_but_a_source_without_tracks_is_not) {
    cParsedSource parsed = parse_track_source("track empty\n");
    ASSERT_TRUE(parsed.ok());
    EXPECT_TRUE(parsed.tracks[0].keys.empty());
    EXPECT_NE(only_problem("# only a comment\n\n").find("defines no track"), std::string::npos);
    EXPECT_NE(only_problem("").find("defines no track"), std::string::npos);
}

TEST(TrackSource, malformed_lines_are_reported_with_line_and_column) {
    EXPECT_EQ(only_problem("track a\n  0:0  1\n"),
              "2:10: missing an interpolation (a key is POSITION VALUE INTERPOLATION)");
    EXPECT_EQ(only_problem("track a\n  0:0\n"),
              "2:7: missing a value and an interpolation (a key is POSITION VALUE INTERPOLATION)");
    EXPECT_EQ(only_problem("track a\n  0:0 1 step extra\n"), "2:14: unexpected 'extra' after the interpolation");
    EXPECT_EQ(only_problem("  0:0 1 step\ntrack a\n"), "1:3: key before the first 'track NAME' line");
    EXPECT_EQ(only_problem("track\n"), "1:7: 'track' needs a name");
    EXPECT_EQ(only_problem("track a b\n"), "1:9: unexpected 'b' after the track name");
    EXPECT_NE(only_problem("track a/b\n").find("1:7: track name 'a/b' may hold only"), std::string::npos);
    EXPECT_EQ(only_problem("track a\n0:0 1 step\ntrack a\n"), "3:7: track 'a' is already defined at line 1");
}

TEST(TrackSource, bad_positions_values_and_interpolations_are_refused) {
    EXPECT_EQ(only_problem("track a\n  0:0 1 lin\n"),
              "2:9: unknown interpolation 'lin' (use step, linear, smooth or quadratic)");
    EXPECT_EQ(only_problem("track a\n  0:0 1 Linear\n"),
              "2:9: unknown interpolation 'Linear' (use step, linear, smooth or quadratic)");
    EXPECT_EQ(only_problem("track a\n  0:0 one step\n"), "2:7: 'one' is not a number");
    EXPECT_EQ(only_problem("track a\n  0:0 1.5x step\n"), "2:7: '1.5x' is not a number");
    EXPECT_EQ(only_problem("track a\n  0:0 nan step\n"), "2:7: 'nan' is not a finite number");
    EXPECT_EQ(only_problem("track a\n  0:0 -inf step\n"), "2:7: '-inf' is not a finite number");
    EXPECT_EQ(only_problem("track a\n  0:0 1e39 step\n"), "2:7: '1e39' is outside the range of a 32-bit float");
    EXPECT_EQ(only_problem("track a\n  0:8 1 step\n"), "2:3: row 8 of a beat must be 0 to 7 in '0:8'");
    EXPECT_NE(only_problem("track a\n  12 1 step\n").find("2:3: '12' is not a position"), std::string::npos);
    EXPECT_NE(only_problem("track a\n  1:-1 1 step\n").find("2:3: '1:-1' is not a position"), std::string::npos);
    EXPECT_NE(only_problem("track a\n  r1.5 1 step\n").find("2:3: 'r1.5' is not a row"), std::string::npos);
    EXPECT_NE(only_problem("track a\n  300000000:0 1 step\n").find("outside the 32-bit row range"), std::string::npos);
}

TEST(TrackSource, keys_must_go_forward_one_per_row) {
    EXPECT_EQ(only_problem("track a\n  1:0 1 step\n  r8 2 step\n"),
              "3:3: two keys on row 8 (1:0); the other is at line 2");
    EXPECT_EQ(only_problem("track a\n  1:0 1 step\n  0:7 2 step\n"),
              "3:3: key at row 7 (0:7) comes after a later one at row 8 (line 2); keys must go forward in time");
    // Order is per track: the next track starts afresh.
    EXPECT_TRUE(parse_track_source("track a\n  1:0 1 step\ntrack b\n  0:0 1 step\n").ok());
}

TEST(TrackSource, every_problem_of_a_source_is_reported_at_once) {
    cParsedSource parsed = parse_track_source("track a\n  0:0 x step\n  1:0 1 jump\n  1:9 1 step\n");
    ASSERT_EQ(parsed.problems.size(), 3u);
    EXPECT_EQ(parsed.problems[0].line, 2);
    EXPECT_EQ(parsed.problems[1].line, 3);
    EXPECT_EQ(parsed.problems[2].line, 4);
}

TEST(TrackText, positions_read_back_from_their_canonical_form) {
    for (int32_t row : {0, 7, 8, 100, -1, -4, -8, -9, std::numeric_limits<int32_t>::max(),
                        std::numeric_limits<int32_t>::min()}) {
        std::string text = format_position(row);
        cTokenError error;
        std::optional<int32_t> back = parse_position(text, error);
        ASSERT_TRUE(back.has_value()) << text << ": " << error.text;
        EXPECT_EQ(*back, row) << text;
    }
    EXPECT_EQ(format_position(100), "12:4");
    EXPECT_EQ(format_position(-4), "-1:4");
}

TEST(TrackText, values_read_back_bit_for_bit_from_their_shortest_form) {
    EXPECT_EQ(format_value(1.0f), "1");
    EXPECT_EQ(format_value(0.35f), "0.35");
    EXPECT_EQ(format_value(-0.0f), "-0");
    EXPECT_EQ(format_value(720.0f), "720");
    std::mt19937 rng(7);
    std::vector<float> values = {0.1f, 1e-7f, 3.0e38f, -1.17549435e-38f, 1.4e-45f, 123456.78f};
    for (int i = 0; i < 2000; ++i) {
        uint32_t b = rng();
        float v;
        std::memcpy(&v, &b, sizeof v);
        if (std::isfinite(v)) values.push_back(v);
    }
    for (float v : values) {
        std::string text = format_value(v);
        EXPECT_EQ(text.find('e'), std::string::npos) << text;
        cTokenError error;
        std::optional<float> back = parse_value(text, error);
        ASSERT_TRUE(back.has_value()) << text << ": " << error.text;
        EXPECT_EQ(bits_of(*back), bits_of(v)) << text;
    }
}

TEST(TrackText, dump_lines_are_the_canonical_source_lines) {
    std::vector<cSyncKey> keys = {{0, 1.0f, kSyncLinear}, {100, 0.25f, kSyncStep}, {-4, -12.5f, kSyncQuadratic},
                                  {8, 123456.78f, kSyncSmooth}, {9, 2.0f, 7}};
    std::string text = format_track("kick", keys);
    EXPECT_EQ(text,
              "track kick\n"
              "  0:0      1          linear\n"
              "  12:4     0.25       step\n"
              "  -1:4     -12.5      quadratic\n"
              "  1:0      123456.78  smooth\n"
              "  1:1      2          code7\n");
    // The unnamed code is there to be noticed: the parser refuses it.
    EXPECT_FALSE(parse_track_source(text).ok());
    // Keys in order and with named interpolations parse back to themselves, and the
    // canonical lines of a dump are the dump itself.
    keys = {{-4, -12.5f, kSyncQuadratic}, {0, 1.0f, kSyncLinear}, {8, 123456.78f, kSyncSmooth}, {100, 0.25f, kSyncStep}};
    text = format_track("kick", keys);
    cParsedSource parsed = parse_track_source(text);
    ASSERT_TRUE(parsed.ok());
    ASSERT_EQ(parsed.tracks[0].keys.size(), keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(parsed.tracks[0].keys[i].row, keys[i].row);
        EXPECT_EQ(bits_of(parsed.tracks[0].keys[i].value), bits_of(keys[i].value));
        EXPECT_EQ(parsed.tracks[0].keys[i].interpolation, keys[i].interpolation);
    }
    EXPECT_EQ(canonical_track_lines(text, "kick"), text);
}

TEST(TrackText, canonical_lines_of_one_track_drop_comments_and_other_tracks) {
    const char* text =
        "# top\n"
        "track a\n"
        "  0:0      1          step   # note\n"
        "track b   # b's header\n"
        "  # -- a section --\n"
        "  0:0      2          linear\t \n"
        "\n"
        "track c\n"
        "  0:0      3          step\n";
    EXPECT_EQ(canonical_track_lines(text, "b"), "track b\n  0:0      2          linear\n");
    EXPECT_EQ(canonical_track_lines(text, "missing"), "");
}

TEST(TrackText, track_names_are_safe_file_name_parts) {
    EXPECT_TRUE(is_valid_track_name("scene_karaoke"));
    EXPECT_TRUE(is_valid_track_name("word0its"));
    EXPECT_TRUE(is_valid_track_name("A-b_9"));
    EXPECT_FALSE(is_valid_track_name(""));
    EXPECT_FALSE(is_valid_track_name("../x"));
    EXPECT_FALSE(is_valid_track_name("a.b"));
    EXPECT_FALSE(is_valid_track_name(std::string(129, 'a')));
}
