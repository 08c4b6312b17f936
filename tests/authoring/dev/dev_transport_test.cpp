// The development transport over the real sound module on the "no sound" device, whose clock
// moves only when set: steps of beats, bars and pages that add up and come back exactly,
// seeks clamped to the show with one report, the pause at the end, loop points on rows and
// the loop wrapped by the frame when the music could not, and an offset that moves nothing
// but the time modules see. Beats at 180 per minute are 1000/3 ms; rows 1000/24 ms.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "host/audio/audio_api.h"
#include "support/audio_test_media.h"
#include "authoring/dev/dev_transport.h"
#include "host/modules/module_input.h"
#include "host/sound/sound_module_bass.h"
#include "support/capture_stream.h"
#include "support/temp_dir.h"

namespace {

constexpr double kShowEndMs = 88250.0;
constexpr uint32_t kRate = 22050;

class Transport : public ::testing::Test {
protected:
    void SetUp() override {
        BASS_Free();
        // 90 s of silence, mono: longer than the show. At 22.05 kHz a sample's time in
        // milliseconds is rarely a number that binary fractions hold exactly.
        const std::string music = dir / "music.wav";
        write_wav(music, kRate, 1, std::vector<int16_t>(kRate * 90, 0));
        cCaptureStream quiet_out(STDOUT_FILENO);
        cCaptureStream quiet_err(STDERR_FILENO);
        sound.init_device(nullptr, 0);
        sound.load(music);
        transport = std::make_unique<cDevTransport>(sound, input, kShowEndMs);
    }
    void TearDown() override { BASS_Free(); }

    int32_t frame() { return transport->plan_frame().time_ms; }

    cTempDir dir;
    cSoundModule_bass sound;
    cModuleInput input{nullptr, nullptr, &sound};
    std::unique_ptr<cDevTransport> transport;
};

}  // namespace

TEST_F(Transport, steps_of_beats_bars_and_pages_add_up_and_come_back_exactly) {
    sound.set_position_ms(1000);
    transport->set_paused(true);
    transport->step_beats(1);
    cFramePlan plan = transport->plan_frame();
    EXPECT_EQ(plan.time_ms, 1333);
    EXPECT_TRUE(plan.prime) << "a jump is drawn after the frame before it";
    transport->step_beats(4);
    EXPECT_EQ(frame(), 2666);   // 1000 + 5 x 333.33
    transport->step_beats(32);
    EXPECT_EQ(frame(), 13333);  // 1000 + 37 x 333.33
    // Several steps before a frame (a key held down) are one seek; back where it started.
    transport->step_beats(-32);
    transport->step_beats(-4);
    transport->step_beats(-1);
    EXPECT_EQ(frame(), 1000);
    for (int i = 0; i < 30; ++i) transport->step_beats(1);
    EXPECT_EQ(frame(), 11000);
    EXPECT_EQ(sound.position_ms(), 11000) << "the music went with it";
}

TEST_F(Transport, steps_that_come_back_land_on_the_very_sample_they_left) {
    transport->set_offset(10);
    for (int i = 0; i < 200; ++i) {
        // Paused on a sample, as a person pauses the playing show.
        transport->set_paused(false);
        sound.set_position_ms((kRate + i) * 1000.0 / kRate);
        transport->set_paused(true);
        const double start = sound.position_exact_ms();
        for (double beats : {1.0, 4.0, 32.0, -32.0, -4.0, -1.0}) {
            transport->step_beats(beats);
            frame();
        }
        ASSERT_EQ(sound.position_exact_ms(), start) << "sample " << kRate + i;
    }
}

TEST_F(Transport, seeks_outside_the_show_land_on_its_ends_and_are_reported_once) {
    cCaptureStream out(STDOUT_FILENO);
    transport->seek_to(-500);
    EXPECT_EQ(frame(), 0);
    transport->seek_to(-10);
    EXPECT_EQ(frame(), 0);
    transport->seek_to(100000);
    EXPECT_EQ(frame(), 88250);
    const std::string lines = out.stop();
    EXPECT_NE(lines.find("# note: seek to -0:00.500 is before the start of the show; going to 0:00.000\n"),
              std::string::npos)
        << lines;
    EXPECT_EQ(lines.find("-0:00.010"), std::string::npos) << "the same refusal again is not repeated";
    EXPECT_NE(lines.find("# note: seek to 1:40.000 is past the end of the show; going to 1:28.250\n"), std::string::npos)
        << lines;
}

TEST_F(Transport, the_show_pauses_at_its_end_instead_of_ending_and_plays_again_from_the_start) {
    cCaptureStream out(STDOUT_FILENO);
    sound.set_position_ms(88250);
    EXPECT_EQ(frame(), 88250);
    EXPECT_FALSE(transport->paused()) << "88250 ms is still part of the show";
    sound.set_position_ms(88251);
    cFramePlan plan = transport->plan_frame();
    EXPECT_TRUE(transport->paused());
    EXPECT_TRUE(transport->view().at_end);
    EXPECT_EQ(plan.time_ms, 88250);
    transport->toggle_pause();
    EXPECT_FALSE(transport->paused());
    EXPECT_EQ(frame(), 0);
    EXPECT_NE(out.stop().find("# note: the end of the show (1:28.250): paused"), std::string::npos);
}

TEST_F(Transport, loop_points_lie_on_rows_and_a_loop_the_music_did_not_wrap_is_wrapped_by_the_frame) {
    cCaptureStream out(STDOUT_FILENO);
    transport->set_paused(true);
    transport->seek_to(1010);  // row 24.24
    frame();
    transport->mark_loop_start();
    transport->seek_to(2030);  // row 48.72
    frame();
    transport->mark_loop_end();
    ASSERT_TRUE(transport->view().loop_on);
    EXPECT_DOUBLE_EQ(transport->view().loop_start_ms, 1000.0);
    EXPECT_DOUBLE_EQ(transport->view().loop_end_ms, 49 * 1000.0 / 24);

    transport->seek_to(900);
    frame();
    transport->mark_loop_end();  // before the start: refused, the loop stays
    EXPECT_DOUBLE_EQ(transport->view().loop_end_ms, 49 * 1000.0 / 24);

    // Playing past the end (set behind the music) goes back to the start in the next frame.
    transport->set_paused(false);
    sound.set_position_ms(2100);
    cFramePlan plan = transport->plan_frame();
    EXPECT_EQ(plan.time_ms, 1000);
    EXPECT_TRUE(plan.prime);

    // A start after the end clears the end; without an end there is no loop.
    transport->set_paused(true);
    transport->seek_to(3000);
    frame();
    transport->mark_loop_start();
    EXPECT_FALSE(transport->view().loop_on);
    transport->set_loop(500, 400);
    EXPECT_FALSE(transport->view().loop_on);
    transport->set_loop(-100, 1e9);
    EXPECT_TRUE(transport->view().loop_on);
    EXPECT_DOUBLE_EQ(transport->view().loop_start_ms, 0.0);
    EXPECT_DOUBLE_EQ(transport->view().loop_end_ms, kShowEndMs);
    out.stop();
}

TEST_F(Transport, the_offset_moves_the_time_modules_see_and_nothing_else) {
    cCaptureStream out(STDOUT_FILENO);
    sound.set_position_ms(5000);
    transport->set_paused(true);
    transport->set_offset(40);
    EXPECT_EQ(frame(), 4960);
    transport->nudge_offset(5);
    EXPECT_EQ(frame(), 4955);
    transport->nudge_offset(-5);
    transport->nudge_offset(-5);
    EXPECT_EQ(frame(), 4965);
    EXPECT_EQ(sound.position_ms(), 5000) << "the music did not move";
    EXPECT_TRUE(transport->paused());
    // Seeks are in the time modules see.
    transport->seek_to(3000);
    EXPECT_EQ(frame(), 3000);
    EXPECT_EQ(sound.position_ms(), 3035);
    transport->set_offset(99999);
    EXPECT_EQ(transport->view().av_offset_ms, 2000);
    out.stop();
}

TEST_F(Transport, only_jumps_and_standstills_are_drawn_after_the_frame_before) {
    sound.set_position_ms(2000);
    transport->plan_frame();
    sound.set_position_ms(2016);
    EXPECT_FALSE(transport->plan_frame().prime) << "playing on";
    sound.set_position_ms(1500);  // the music wrapped a loop by itself
    EXPECT_TRUE(transport->plan_frame().prime);
}

TEST_F(Transport, with_an_offset_the_end_is_the_pictures_and_modules_see_times_within_the_show) {
    cCaptureStream out(STDOUT_FILENO);
    // The picture 2 s earlier than the sound: it reaches the show's end at the music's 86.25 s.
    transport->set_offset(-2000);
    sound.set_position_ms(86250);
    EXPECT_EQ(frame(), 88250);
    EXPECT_FALSE(transport->paused());
    sound.set_position_ms(86251);
    EXPECT_EQ(frame(), 88250) << "modules were shown a time past the end";
    EXPECT_TRUE(transport->view().at_end);
    // Without the transport (the player without --dev) the music plays on: the time stays at the end.
    sound.set_position_ms(87000);
    EXPECT_EQ(input.time_ms(), 88250);

    // The picture 2 s later: its first 2 s of music show the start, and its last 2 s are played.
    transport->set_offset(2000);
    transport->set_paused(false);  // from the end: plays again from the start
    sound.set_position_ms(1000);
    EXPECT_EQ(frame(), 0) << "a time before the show";
    sound.set_position_ms(89999);
    EXPECT_EQ(frame(), 87999);
    EXPECT_FALSE(transport->paused()) << "the show ended on the music's time";
    // The music (90 s) ends before the picture's 88.25 s: the show ends with the music.
    sound.set_position_ms(90000);
    EXPECT_EQ(frame(), 88000);
    EXPECT_TRUE(transport->view().at_end);
    out.stop();
}
