// Edits of the track source text: every expected text is written out by hand, so a change that
// moves, loses or rewrites a line the edit did not touch shows as a difference.
#include "authoring/editor/source_document.h"

#include <gtest/gtest.h>

#include "editor_test_source.h"

namespace {

cSyncKey key(int32_t row, float value, int32_t kind) { return {row, value, kind}; }

// The text after the edits, or "refused: reason".
std::string edited(const std::string& text, const std::vector<cKeyEdit>& edits) {
    cParsedSource parsed = parse_track_source(text);
    if (!parsed.ok()) return "the source itself has a problem: " + parsed.problems[0].message;
    cTextEdit result = edit_keys(text, parsed, edits);
    return result.ok ? result.text : "refused: " + result.error;
}

}  // namespace

TEST(SourceDocument, a_key_that_keeps_its_place_keeps_its_line_and_comment) {
    // Value and row change, but the key stays between 0:0 and 2:0.
    EXPECT_EQ(edited(kSource, {{"kick", 8, key(10, 0.75f, kSyncLinear)}}),
              "# the test show\n"
              "\n"
              "track kick   # drums\n"
              "  # -- intro, 0:0 --\n"
              "  0:0      0          step\n"
              "  1:2      0.75       linear   # first hit\n"
              "  2:0      0.5        smooth\n"
              "  # -- verse, 4:0 --\n"
              "  4:0      0          step\n"
              "\n"
              "track word_t\n"
              "  0:0      0          linear\n"
              "  8:0      1          step\n");
    // 2:0 to 3:6: still before the verse marker (4:0), so it stays above it.
    std::string text = edited(kSource, {{"kick", 16, key(30, 0.5f, kSyncSmooth)}});
    EXPECT_NE(text.find("  3:6      0.5        smooth\n  # -- verse, 4:0 --\n"), std::string::npos) << text;
}

TEST(SourceDocument, keys_that_pass_others_or_markers_move_to_their_place) {
    // 2:0 past the verse marker and past 4:0: it goes after 4:0, its old line goes away.
    EXPECT_EQ(edited(kSource, {{"kick", 16, key(36, 0.5f, kSyncSmooth)}}),
              "# the test show\n"
              "\n"
              "track kick   # drums\n"
              "  # -- intro, 0:0 --\n"
              "  0:0      0          step\n"
              "  1:0      1          linear   # first hit\n"
              "  # -- verse, 4:0 --\n"
              "  4:0      0          step\n"
              "  4:4      0.5        smooth\n"
              "\n"
              "track word_t\n"
              "  0:0      0          linear\n"
              "  8:0      1          step\n");
    // 1:0 (with its comment) past 2:0, but not past the marker; 4:0 removed; a new key at 4:2
    // goes below the verse marker; word_t gets a key before its first.
    EXPECT_EQ(edited(kSource, {{"kick", 8, key(20, 1.0f, kSyncLinear)},
                               {"kick", 32, std::nullopt},
                               {"kick", std::nullopt, key(34, 2.0f, kSyncStep)},
                               {"word_t", 0, key(4, 0.0f, kSyncLinear)}}),
              "# the test show\n"
              "\n"
              "track kick   # drums\n"
              "  # -- intro, 0:0 --\n"
              "  0:0      0          step\n"
              "  2:0      0.5        smooth\n"
              "  2:4      1          linear   # first hit\n"
              "  # -- verse, 4:0 --\n"
              "  4:2      2          step\n"
              "\n"
              "track word_t\n"
              "  0:4      0          linear\n"
              "  8:0      1          step\n");
}

TEST(SourceDocument, new_keys_go_after_the_key_before_them_or_the_marker_of_their_section) {
    std::string text = edited(kSource, {{"kick", std::nullopt, key(31, 0.25f, kSyncLinear)},
                                        {"kick", std::nullopt, key(40, 0.25f, kSyncLinear)},
                                        {"word_t", std::nullopt, key(-8, 3.0f, kSyncStep)}});
    EXPECT_EQ(text,
              "# the test show\n"
              "\n"
              "track kick   # drums\n"
              "  # -- intro, 0:0 --\n"
              "  0:0      0          step\n"
              "  1:0      1          linear   # first hit\n"
              "  2:0      0.5        smooth\n"
              "  3:7      0.25       linear\n"
              "  # -- verse, 4:0 --\n"
              "  4:0      0          step\n"
              "  5:0      0.25       linear\n"
              "\n"
              "track word_t\n"
              "  -1:0     3          step\n"
              "  0:0      0          linear\n"
              "  8:0      1          step\n");
    // A track without keys gets them right after its header, in row order.
    EXPECT_EQ(edited("track a\n# about b\ntrack b\n", {{"b", std::nullopt, key(9, 1.0f, kSyncStep)},
                                                      {"b", std::nullopt, key(1, 0.0f, kSyncStep)}}),
              "track a\n# about b\ntrack b\n  0:1      0          step\n  1:1      1          step\n");
}

TEST(SourceDocument, line_ends_byte_order_mark_and_a_missing_last_line_end_are_kept) {
    std::string crlf = "\xEF\xBB\xBFtrack a\r\n  0:0 1 step\r\n  9:0 2 step   # end\r\n";
    EXPECT_EQ(edited(crlf, {{"a", std::nullopt, key(8, 5.0f, kSyncLinear)}}),
              "\xEF\xBB\xBFtrack a\r\n  0:0 1 step\r\n  1:0      5          linear\r\n  9:0 2 step   # end\r\n");
    EXPECT_EQ(edited("track a\n  0:0 1 step", {{"a", std::nullopt, key(8, 2.0f, kSyncStep)}}),
              "track a\n  0:0 1 step\n  1:0      2          step\n");
    EXPECT_EQ(edited("track a\n  0:0 1 step\n  1:0 2 step", {{"a", 8, std::nullopt}}), "track a\n  0:0 1 step\n");
}

TEST(SourceDocument, names_the_source_lacks_are_refused) {
    EXPECT_EQ(edited(kSource, {{"snare", 0, std::nullopt}}), "refused: no track 'snare'");
    EXPECT_EQ(edited(kSource, {{"kick", 9, std::nullopt}}), "refused: track 'kick' has no key at row 9 (1:1)");
    EXPECT_EQ(edited(kSource, {{"kick", 8, std::nullopt}, {"kick", 8, key(9, 1, 0)}}),
              "refused: the key at row 8 of track 'kick' is named twice in one edit");
}

TEST(SourceDocument, tracks_are_renamed_on_their_header_and_added_at_the_end) {
    cParsedSource parsed = parse_track_source(kSource);
    cTextEdit renamed = rename_track(kSource, parsed, "kick", "kick_2");
    ASSERT_TRUE(renamed.ok) << renamed.error;
    EXPECT_NE(renamed.text.find("\n\ntrack kick_2   # drums\n  # -- intro"), std::string::npos) << renamed.text;
    EXPECT_EQ(renamed.text.size(), std::string(kSource).size() + 2);
    // A name that would bring a line or a comment of its own into the source is refused.
    for (const char* bad : {"a\n  0:0 1 step", "a b", "a#", ""}) {
        EXPECT_FALSE(rename_track(kSource, parsed, "kick", bad).ok) << bad;
        EXPECT_FALSE(add_track(kSource, bad).ok) << bad;
    }
    EXPECT_EQ(add_track("track a\n", "glow").text, "track a\n\ntrack glow\n");
    EXPECT_EQ(add_track("track a\n\n", "glow").text, "track a\n\ntrack glow\n");
    EXPECT_EQ(add_track("track a", "glow").text, "track a\n\ntrack glow\n");
}

TEST(SourceDocument, a_track_block_takes_its_comments_and_keeps_one_blank_line_between_blocks) {
    // CRLF line ends, no line end at the very end; a comment paragraph describes "glow" (a blank
    // line before it), one under kick's keys is kick's own; the file's own comment is nobody's.
    const std::string text =
        "# the show\r\n\r\ntrack kick\r\n  0:0 1 step\r\n  # kick's tail\r\n\r\n# glow: the halo\r\n# (two lines)\r\n"
        "track glow\r\n  0:0 2 step\r\n\r\ntrack word_t\r\n  0:0 3 step";
    cParsedSource parsed = parse_track_source(text);
    ASSERT_TRUE(parsed.ok());
    auto check = [&](cTextEdit result, const std::string& want) {
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(result.text, want);
        EXPECT_TRUE(parse_track_source(result.text).ok());
    };
    check(delete_track(text, parsed, "glow"),
          "# the show\r\n\r\ntrack kick\r\n  0:0 1 step\r\n  # kick's tail\r\n\r\ntrack word_t\r\n  0:0 3 step");
    check(delete_track(text, parsed, "word_t"),
          "# the show\r\n\r\ntrack kick\r\n  0:0 1 step\r\n  # kick's tail\r\n\r\n# glow: the halo\r\n# (two lines)\r\n"
          "track glow\r\n  0:0 2 step\r\n");
    check(delete_track(text, parsed, "kick"),
          "# the show\r\n\r\n# glow: the halo\r\n# (two lines)\r\ntrack glow\r\n  0:0 2 step\r\n\r\ntrack word_t\r\n  0:0 3 step");
    // The last block to the front (under the file's comment), the first to the end.
    check(move_track(text, parsed, "word_t", "kick"),
          "# the show\r\n\r\ntrack word_t\r\n  0:0 3 step\r\n\r\ntrack kick\r\n  0:0 1 step\r\n  # kick's tail\r\n\r\n"
          "# glow: the halo\r\n# (two lines)\r\ntrack glow\r\n  0:0 2 step\r\n");
    check(move_track(text, parsed, "kick", ""),
          "# the show\r\n\r\n# glow: the halo\r\n# (two lines)\r\ntrack glow\r\n  0:0 2 step\r\n\r\ntrack word_t\r\n  0:0 3 step\r\n"
          "\r\ntrack kick\r\n  0:0 1 step\r\n  # kick's tail\r\n");
    // Where it already is: the text as it was.
    check(move_track(text, parsed, "glow", "word_t"), text);
    EXPECT_FALSE(move_track(text, parsed, "glow", "glow").ok);
    EXPECT_EQ(move_track(text, parsed, "glow", "snare").error, "no track 'snare'");
    EXPECT_EQ(delete_track(text, parsed, "snare").error, "no track 'snare'");
}
