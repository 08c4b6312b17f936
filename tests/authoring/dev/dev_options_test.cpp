// The player's command line, the A/V offset from the environment, and the way the development
// mode writes times: each table is written from what the user types and expects to read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/app/av_offset.h"
#include "authoring/dev/dev_format.h"
#include "authoring/dev/dev_options.h"

TEST(player_options, dev_mode_and_its_editor_port_are_taken_and_everything_else_is_refused) {
    struct cAccepted {
        std::vector<std::string> args;
        bool dev;
        int32_t port;
        bool windowed = false;
    };
    const cAccepted accepted[] = {
        {{}, false, 8917},
        {{"--dev"}, true, 8917},
        {{"--dev", "--editor-port", "9000"}, true, 9000},
        {{"--editor-port", "0", "--dev"}, true, 0},
        {{"--dev", "--editor-port=65535"}, true, 65535},
        {{"--windowed"}, false, 8917, true},
        {{"--windowed", "--dev"}, true, 8917, true},
    };
    for (const cAccepted& a : accepted) {
        cPlayerOptions options;
        std::string reason;
        ASSERT_TRUE(parse_player_options(a.args, options, reason)) << reason;
        EXPECT_EQ(options.dev, a.dev);
        EXPECT_EQ(options.dev_options.editor_port, a.port);
        EXPECT_EQ(options.windowed, a.windowed);
    }
    const std::vector<std::vector<std::string>> refused = {
        {"--Dev"},
        {"dev"},
        {"--dev", "extra"},
        {"--dev", "--dev"},
        {"--editor-port", "9000"},  // the port means nothing without the development mode
        {"--dev", "--editor-port"},
        {"--dev", "--editor-port", "65536"},
        {"--dev", "--editor-port", "-1"},
        {"--dev", "--editor-port", "80a"},
        {"--dev", "--editor-port", ""},
        {"--dev", "--editor-port=", "--dev"},
        {"--dev", "--editor-port", "1", "--editor-port", "2"},
        {"--windowed", "--windowed"},
        {"--window"},
    };
    for (const auto& args : refused) {
        cPlayerOptions options;
        std::string reason;
        EXPECT_FALSE(parse_player_options(args, options, reason)) << args.size() << " arguments, first " << args[0];
        EXPECT_FALSE(reason.empty());
    }
}

TEST(av_offset, whole_signed_milliseconds_within_two_seconds_are_taken) {
    EXPECT_EQ(parse_av_offset("0"), 0);
    EXPECT_EQ(parse_av_offset("40"), 40);
    EXPECT_EQ(parse_av_offset("-15"), -15);
    EXPECT_EQ(parse_av_offset("+5"), 5);
    EXPECT_EQ(parse_av_offset("2000"), 2000);
    EXPECT_EQ(parse_av_offset("-2000"), -2000);
    for (const char* bad : {"", "2001", "-2001", "12ms", "1e3", "1.5", " 12", "12 ", "+-5", "--5", "++5", "abc", "-",
                            "99999999999999999999"}) {
        EXPECT_FALSE(parse_av_offset(bad).has_value()) << "\"" << bad << "\"";
    }
}

TEST(dev_format, times_read_as_minutes_seconds_and_milliseconds_and_rows_as_beat_and_row) {
    EXPECT_EQ(format_music_time(0), "0:00.000");
    EXPECT_EQ(format_music_time(83456.9), "1:23.456");
    EXPECT_EQ(format_music_time(88250), "1:28.250");
    EXPECT_EQ(format_music_time(-333.4), "-0:00.333");
    // 24 rows a second, 8 to a beat: 1000 ms is row 24, beat 3 row 0; 1040 ms is still row 24.
    EXPECT_EQ(format_beat_row(1000), "3:0");
    EXPECT_EQ(format_beat_row(1040), "3:0");
    EXPECT_EQ(format_beat_row(1042), "3:1");
    EXPECT_EQ(format_beat_row(88250), "264:6");  // row 2118
    // The nearest row: 1020 ms is row 24.48, 1021 ms row 24.504.
    EXPECT_DOUBLE_EQ(round_to_row(1020), 1000.0);
    EXPECT_DOUBLE_EQ(round_to_row(1021), 25 * 1000.0 / 24);
}
