// The capture tool's pieces without a window: the command line and its refusals, the frame
// schedule and names, the steps before a capture's first frame, the progress text, the
// encoder's command line, the temporary names, the clean-up of held files, the music clock
// over the show's real music, and the picture comparison the golden test relies on.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "capture_test_support.h"
#include "host/audio/audio_api.h"
#include "base/files/file_utils.h"
#include "host/sound/sound_module_bass.h"
#include "support/temp_dir.h"
#include "tools/democapture/capture_options.h"
#include "tools/democapture/capture_paths.h"
#include "tools/democapture/capture_session.h"
#include "tools/democapture/music_clock.h"
#include "tools/democapture/partial_files.h"
#include "tools/democapture/progress_bar.h"
#include "tools/democapture/video_encoder.h"

namespace {

cParsedOptions parse(std::vector<std::string> args) { return parse_capture_options(args); }

TEST(CaptureOptions, defaults_cover_the_whole_show_at_sixty_frames_per_second) {
    const cParsedOptions p = parse({"--out", "frames"});
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(p.options.from_ms, 0);
    EXPECT_EQ(p.options.to_ms, 88250);
    EXPECT_EQ(p.options.fps, 60);
    EXPECT_EQ(p.options.show_dir, "");
    EXPECT_EQ(frame_count(p.options.from_ms, p.options.to_ms, p.options.fps), 5295);
}

TEST(CaptureOptions, both_value_forms_and_every_option_are_read) {
    const cParsedOptions p =
        parse({"--show=/s", "--from", "1000", "--to=2000", "--fps", "24", "--video", "v.mp4", "--stats"});
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(p.options.show_dir, "/s");
    EXPECT_EQ(p.options.from_ms, 1000);
    EXPECT_EQ(p.options.to_ms, 2000);
    EXPECT_EQ(p.options.fps, 24);
    EXPECT_EQ(p.options.video_file, "v.mp4");
    EXPECT_TRUE(p.options.stats);

    const cParsedOptions at = parse({"--out", "d", "--at", "5000,0,88250"});
    ASSERT_EQ(at.error, "");
    EXPECT_EQ(at.options.at_ms, (std::vector<int64_t>{5000, 0, 88250}));
    EXPECT_TRUE(parse({"--help"}).options.help);
}

TEST(CaptureOptions, frame_rates_from_one_to_240_are_taken_and_nothing_else) {
    EXPECT_EQ(parse({"--out", "d", "--fps", "1"}).error, "");
    EXPECT_EQ(parse({"--out", "d", "--fps", "240"}).error, "");
    for (const char* fps : {"0", "241", "1000", "-1", "60.5", "sixty", "", "99999999999999999999"}) {
        EXPECT_NE(parse({"--out", "d", "--fps", fps}).error, "") << "--fps " << fps;
    }
}

TEST(CaptureOptions, unusable_command_lines_are_refused_with_one_line) {
    const std::vector<std::vector<std::string>> bad = {
        {"--out", "d", "--from", "2000", "--to", "1000"},  // from after to
        {"--out", "d", "--from", "1000", "--to", "1000"},  // nothing to render
        {"--out", "d", "--from", "-5"},
        {"--out", "d", "--to", "12.5"},
        {"--out", "d", "--frobnicate"},
        {"--out", "d", "stray"},
        {"--out"},                                          // no value
        {"--out", ""},
        {},                                                 // no output
        {"--out", "d", "--video", "v.mp4"},
        {"--video", "v.mp4", "--at", "1000"},
        {"--out", "d", "--at", "1000", "--from", "0"},
        {"--out", "d", "--at", "1000,,2000"},
        {"--out", "d", "--at", "1000,"},
        {"--out", "d", "--stats=yes"},
    };
    for (const auto& args : bad) {
        std::string joined;
        for (const auto& a : args) joined += " " + a;
        const cParsedOptions p = parse(args);
        EXPECT_NE(p.error, "") << "accepted:" << joined;
        EXPECT_EQ(p.error.find('\n'), std::string::npos) << joined;
    }
}

TEST(FrameSchedule, count_rounds_up_and_times_step_by_a_frame) {
    EXPECT_EQ(frame_count(0, 1000, 60), 60);
    EXPECT_EQ(frame_count(20000, 20090, 60), 6);  // 5.4 frames: the sixth starts inside the range
    EXPECT_EQ(frame_count(0, 1500, 1), 2);
    EXPECT_EQ(frame_count(0, 1, 240), 1);
    EXPECT_EQ(frame_count(5, 5, 60), 0);
    EXPECT_DOUBLE_EQ(frame_time_ms(0, 3, 60), 50.0);
    EXPECT_DOUBLE_EQ(frame_time_ms(1000, 1, 60), 1000.0 + 1000.0 / 60.0);
    EXPECT_DOUBLE_EQ(frame_time_ms(20000, 5294, 60), 20000.0 + 5294.0 * 1000.0 / 60.0);
}

TEST(FrameSchedule, names_sort_in_time_order) {
    EXPECT_EQ(range_frame_name(0), "frame_000000.png");
    EXPECT_EQ(range_frame_name(5294), "frame_005294.png");
    EXPECT_EQ(range_frame_name(1234567), "frame_1234567.png");
    EXPECT_EQ(single_frame_name(10833), "at_010833ms.png");
    EXPECT_EQ(single_frame_name(0), "at_000000ms.png");
}

TEST(FrameSchedule, every_first_frame_follows_the_frame_one_step_before_it_as_in_the_show) {
    // A range from 0 starts like the show: nothing before the first frame.
    auto steps = range_steps(0, 100, 60);
    ASSERT_EQ(steps.size(), 6u);
    EXPECT_EQ(steps.front().file_name, "frame_000000.png");

    steps = range_steps(20000, 20100, 60);
    ASSERT_EQ(steps.size(), 7u);
    EXPECT_EQ(steps[0].file_name, "");
    EXPECT_DOUBLE_EQ(steps[0].time_ms, 20000.0 - 1000.0 / 60.0);
    EXPECT_EQ(steps[1].file_name, "frame_000000.png");
    EXPECT_DOUBLE_EQ(steps[1].time_ms, 20000.0);
    EXPECT_EQ(steps[6].file_name, "frame_000005.png");

    steps = single_steps({10833, 5, 20000}, 30);
    ASSERT_EQ(steps.size(), 5u);
    EXPECT_DOUBLE_EQ(steps[0].time_ms, 10833.0 - 1000.0 / 30.0);
    EXPECT_EQ(steps[0].file_name, "");
    EXPECT_EQ(steps[1].file_name, "at_010833ms.png");
    EXPECT_EQ(steps[2].file_name, "at_000005ms.png");  // less than a step from 0: nothing before it
    EXPECT_EQ(steps[3].file_name, "");
    EXPECT_EQ(steps[4].file_name, "at_020000ms.png");
}

TEST(ProgressBar, text_shows_frame_percent_rate_and_time_left) {
    const std::string half = progress_text(50, 100, 2.0);
    EXPECT_NE(half.find("frame 50/100"), std::string::npos) << half;
    EXPECT_NE(half.find("50.0%"), std::string::npos) << half;
    EXPECT_NE(half.find("25.0 fps"), std::string::npos) << half;
    EXPECT_NE(half.find("0:02 left"), std::string::npos) << half;
    EXPECT_NE(progress_text(0, 100, 0.0).find("--:-- left"), std::string::npos);
    EXPECT_NE(progress_text(100, 100, 4.0).find("0:00 left"), std::string::npos);
    EXPECT_NE(progress_text(1, 5296, 1.0).find("1:28:15 left"), std::string::npos);
    EXPECT_EQ(progress_text(3, 7, 1.0).find('\n'), std::string::npos);
}

TEST(VideoEncoder, command_cuts_the_music_to_the_range_and_writes_h264_in_yuv420p) {
    cVideoSettings s;
    s.output = "/tmp/x/.v.partial-1.mp4";
    s.width = 1280;
    s.height = 720;
    s.fps = 30;
    s.music = "/show/data/muzak/recut.mp3";
    s.music_from_ms = 20005;
    s.music_length_ms = 1500;
    const auto cmd = encoder_command(s);
    auto after = [&cmd](const std::string& flag, size_t from = 0) -> std::string {
        for (size_t i = from; i + 1 < cmd.size(); ++i)
            if (cmd[i] == flag) return cmd[i + 1];
        return "(missing)";
    };
    EXPECT_EQ(cmd.front(), "ffmpeg");
    EXPECT_EQ(cmd.back(), s.output);
    EXPECT_EQ(after("-video_size"), "1280x720");
    EXPECT_EQ(after("-framerate"), "30");
    EXPECT_EQ(after("-pixel_format"), "bgr24");  // the order the frames are read back in
    EXPECT_EQ(after("-ss"), "20.005");
    EXPECT_EQ(after("-t"), "1.500");
    EXPECT_EQ(after("-c:v"), "libx264");
    EXPECT_EQ(after("-pix_fmt"), "yuv420p");
    EXPECT_EQ(after("-f", 10), "mp4");  // the temporary name's extension must not decide the format
    EXPECT_NE(std::find(cmd.begin(), cmd.end(), "1:a:0"), cmd.end());

    s.music.clear();
    const auto silent = encoder_command(s);
    EXPECT_EQ(std::find(silent.begin(), silent.end(), "1:a:0"), silent.end());
    EXPECT_EQ(std::find(silent.begin(), silent.end(), "-ss"), silent.end());
}

TEST(OutputFiles, temporary_names_sit_next_to_the_target_hidden_and_distinct) {
    const std::string partial = partial_name_for("/out/dir/show.mp4");
    EXPECT_EQ(std::filesystem::path(partial).parent_path(), "/out/dir");
    EXPECT_EQ(std::filesystem::path(partial).filename().string().front(), '.');
    EXPECT_EQ(std::filesystem::path(partial).extension(), ".mp4");
    EXPECT_NE(partial, "/out/dir/show.mp4");
    EXPECT_NE(partial_name_for("/out/a.png"), partial_name_for("/out/b.png"));
}

TEST(OutputFiles, abandoning_removes_held_files_and_spares_released_ones) {
    cTempDir dir;
    const std::string held = dir.write("held.mp4", "half a video");
    const std::string done = dir.write("done.png", "a whole picture");
    const int held_slot = partial_files::hold(held);
    const int done_slot = partial_files::hold(done);
    ASSERT_GE(held_slot, 0);
    ASSERT_GE(done_slot, 0);
    partial_files::release(done_slot);
    partial_files::abandon_all();
    EXPECT_FALSE(std::filesystem::exists(held));
    EXPECT_TRUE(std::filesystem::exists(done));
    // Abandoning again touches nothing: the slot was given up.
    dir.write("held.mp4", "a new file of the same name");
    partial_files::abandon_all();
    EXPECT_TRUE(std::filesystem::exists(held));
}

TEST(OutputFiles, output_places_are_checked_before_anything_is_written) {
    cTempDir dir;
    std::string error;
    EXPECT_TRUE(prepare_out_directory(dir / "new/deeper", error)) << error;
    EXPECT_TRUE(std::filesystem::is_directory(dir / "new/deeper"));
    EXPECT_TRUE(files_in(dir / "new/deeper").empty()) << "the write probe was left behind";

    const std::string file = dir.write("plain.txt", "x");
    EXPECT_FALSE(prepare_out_directory(file, error));
    EXPECT_FALSE(prepare_out_directory(file + "/sub", error));

    std::string partial;
    EXPECT_FALSE(prepare_video_target(dir / "missing/v.mp4", partial, error));
    EXPECT_FALSE(prepare_video_target(dir / "new", partial, error));  // a directory
    EXPECT_FALSE(prepare_video_target(file + "/v.mp4", partial, error));
    ASSERT_TRUE(prepare_video_target(dir / "v.mp4", partial, error)) << error;
    EXPECT_TRUE(std::filesystem::exists(partial));  // reserved
    EXPECT_FALSE(std::filesystem::exists(dir / "v.mp4"));
}

TEST(OutputFiles, a_show_needs_its_data_and_its_music) {
    cTempDir dir;
    std::string error;
    EXPECT_FALSE(check_show_directory(dir / "nowhere", error));
    EXPECT_FALSE(check_show_directory(dir.path(), error));
    EXPECT_NE(error.find("data/"), std::string::npos) << error;
    std::filesystem::create_directories(dir / "data");
    EXPECT_FALSE(check_show_directory(dir.path(), error));
    EXPECT_NE(error.find("recut.mp3"), std::string::npos) << error;
    dir.write("data/muzak/recut.mp3", "bytes");
    EXPECT_TRUE(check_show_directory(dir.path(), error)) << error;
}

// The clock the modules read is the music position in whole milliseconds; a frame rendered
// "at" a time must read that time, not the millisecond before it.
TEST(MusicClock, every_frame_time_reads_back_as_itself_rounded_down) {
    static cSoundModule_bass sound;  // the audio layer has one device per process
    const std::string cwd = current_directory();
    ASSERT_TRUE(set_current_directory(DEMO_SOURCE_DIR));
    sound.init_device(nullptr, BASS_DEVICE_NOSOUND);
    sound.load("data/muzak/recut.mp3");
    set_current_directory(cwd);
    ASSERT_NE(sound.stream, 0u);

    int wrong = 0;
    std::string first_wrong;
    for (int32_t t = 0; t <= 88250; ++t) {
        if (set_music_time(sound, t) != t || sound.position_ms() != t) {
            if (wrong++ == 0) first_wrong = std::to_string(t) + " ms reads " + std::to_string(sound.position_ms());
        }
    }
    EXPECT_EQ(wrong, 0) << "first: " << first_wrong;
    // 59 and 239 fps put frames a hair below a whole millisecond, where rounding a position up
    // to the next sample would read the following millisecond.
    for (int32_t fps : {24, 25, 30, 59, 60, 144, 239, 240}) {
        for (int64_t n = 0; n < 88250 * fps / 1000; ++n) {
            const double t = frame_time_ms(0, n, fps);
            ASSERT_EQ(set_music_time(sound, t), static_cast<int32_t>(std::floor(t))) << fps << " fps, frame " << n;
        }
    }
}

TEST(PictureComparison, tolerates_two_steps_per_channel_on_all_but_a_thousandth_of_the_pixels) {
    cPicture base{100, 100, 24, std::vector<uint8_t>(100 * 100 * 3, 128)};
    cPicture near = base;
    for (auto& v : near.bgr) v = 130;  // every channel two steps off
    EXPECT_TRUE(compare_pictures(base, near).matches());

    cPicture few = base;
    few.bgr[0] = 200;  // one pixel of 10000 far off: 0.01 %
    EXPECT_TRUE(compare_pictures(base, few).matches());

    cPicture many = base;
    for (int i = 0; i < 11; ++i) many.bgr[i * 3 + 1] = 131;  // 0.11 % three steps off
    cPicture difference;
    const cPictureComparison result = compare_pictures(base, many, &difference);
    EXPECT_FALSE(result.matches());
    EXPECT_EQ(result.differing, 11);
    EXPECT_EQ(result.max_difference, 3);
    EXPECT_GT(difference.bgr[2], difference.bgr[0]) << "a differing pixel is drawn red";
    EXPECT_EQ(difference.bgr[11 * 3 + 2], difference.bgr[11 * 3]) << "a matching pixel is drawn grey";

    cPicture smaller{100, 99, 24, std::vector<uint8_t>(100 * 99 * 3, 128)};
    EXPECT_FALSE(compare_pictures(base, smaller).matches());
}

}  // namespace
