// Stream playback inside the audio layer, driven by hand: conversion to stereo at the output
// rate, the playback buffer against direct conversion, and the bookkeeping that maps what the
// output has played to the stream's position (freeze and resume, end of stream).
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "host/audio/audio_stream.h"

namespace {

// A stream whose samples count up (frame i, channel c holds i * 10 + c), easy to follow.
std::shared_ptr<cPcm> ramp(uint32_t rate, uint32_t channels, uint32_t frames) {
    auto pcm = std::make_shared<cPcm>();
    pcm->rate = rate;
    pcm->channels = channels;
    for (uint32_t i = 0; i < frames; ++i) {
        for (uint32_t c = 0; c < channels; ++c) pcm->samples.push_back(static_cast<int16_t>(i * 10 + c));
    }
    return pcm;
}

std::vector<int32_t> take(cAudioStream& stream, size_t frames, uint64_t device_frame, size_t* got = nullptr) {
    std::vector<int32_t> mix(frames * 2, 0);
    size_t n = stream.mix_into(mix.data(), frames, device_frame);
    if (got) *got = n;
    return mix;
}

}  // namespace

TEST(audio_stream, same_rate_stereo_is_handed_out_unchanged_from_buffer_and_direct_alike) {
    cAudioStream stream(ramp(44100, 2, 1000), 44100, 100);
    stream.refill(60);  // part from the buffer, the rest converted on the spot
    EXPECT_EQ(stream.buffered_frames(), 60u);
    auto mix = take(stream, 200, 0);
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(mix[i * 2], i * 10) << "left of frame " << i;
        ASSERT_EQ(mix[i * 2 + 1], i * 10 + 1) << "right of frame " << i;
    }
}

TEST(audio_stream, mono_is_played_on_both_sides_and_many_channels_are_averaged) {
    cAudioStream mono(ramp(44100, 1, 10), 44100, 100);
    auto mix = take(mono, 10, 0);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(mix[i * 2], i * 10);
        EXPECT_EQ(mix[i * 2 + 1], i * 10);
    }
    cAudioStream four(ramp(44100, 4, 10), 44100, 100);
    mix = take(four, 10, 0);
    // Left averages channels 0 and 2, right channels 1 and 3.
    EXPECT_EQ(mix[2 * 2], (20 + 22) / 2);
    EXPECT_EQ(mix[2 * 2 + 1], (21 + 23) / 2);
}

TEST(audio_stream, half_rate_stream_is_interpolated_and_positions_count_stream_frames) {
    cAudioStream stream(ramp(22050, 1, 1000), 44100, 100);
    auto mix = take(stream, 8, 0);
    const int expected[] = {0, 5, 10, 15, 20, 25, 30, 35};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(mix[i * 2], expected[i]) << "frame " << i;
    take(stream, 1992, 8);
    // The output has played 1000 of its frames: 500 frames of the stream.
    EXPECT_DOUBLE_EQ(stream.position(1000.0), 500.0);
}

TEST(audio_stream, position_follows_the_output_from_the_frame_that_carried_its_start) {
    cAudioStream stream(ramp(44100, 2, 100000), 44100, 4096);
    stream.seek(5000);
    EXPECT_DOUBLE_EQ(stream.position(123456.0), 5000.0) << "nothing handed out yet: holds";
    take(stream, 1024, 20000);  // handed out as output frames 20000..21023
    EXPECT_DOUBLE_EQ(stream.position(19000.0), 5000.0) << "not heard yet";
    EXPECT_DOUBLE_EQ(stream.position(20500.0), 5500.0);
    EXPECT_DOUBLE_EQ(stream.position(30000.0), 5000.0 + 1024.0) << "never beyond what was handed out";
    EXPECT_DOUBLE_EQ(stream.position(20100.0), 5000.0 + 1024.0) << "never backwards";
}

TEST(audio_stream, freeze_resumes_with_the_first_frame_not_yet_heard) {
    cAudioStream stream(ramp(44100, 2, 100000), 44100, 4096);
    stream.refill(4096);
    take(stream, 1024, 0);
    take(stream, 1024, 1024);
    stream.freeze(700.0);  // 700 frames heard; the rest of what was handed out is lost
    EXPECT_DOUBLE_EQ(stream.position(5000.0), 700.0) << "stands still while frozen";
    EXPECT_EQ(stream.buffered_frames(), 0u);
    auto mix = take(stream, 4, 2048);
    EXPECT_EQ(mix[0], 700 * 10) << "resumed elsewhere than where it was heard";
    EXPECT_DOUBLE_EQ(stream.position(2050.0), 702.0);
}

TEST(audio_stream, a_seek_while_playing_moves_on_at_once_and_the_output_joins_where_it_has_got_to) {
    cAudioStream stream(ramp(44100, 2, 3000), 44100, 4096);
    take(stream, 1000, 0);
    stream.refill(4096);  // converted ahead from the old place: none of it may be heard
    stream.seek_running(2000, 600.0);  // the output has played 600 of its frames
    EXPECT_DOUBLE_EQ(stream.position(600.0), 2000.0);
    EXPECT_DOUBLE_EQ(stream.position(700.0), 2100.0) << "stood still until the new place was heard";
    // The output asks for more at its frame 1000: 400 frames after the seek.
    auto mix = take(stream, 10, 1000);
    EXPECT_EQ(mix[0], 2400 * 10) << "what is heard is not what the position read";
    EXPECT_EQ(mix[9 * 2 + 1], 2409 * 10 + 1);
    EXPECT_DOUBLE_EQ(stream.position(900.0), 2300.0) << "the frames still queued from before count on";
    EXPECT_DOUBLE_EQ(stream.position(1005.0), 2405.0);

    // Seeking while paused (or before playing) still stands at the new place until it is heard.
    stream.seek(100);
    EXPECT_DOUBLE_EQ(stream.position(2000.0), 100.0);
}

TEST(audio_stream, end_of_stream_hands_out_the_rest_and_stops_at_the_length) {
    cAudioStream stream(ramp(44100, 2, 1500), 44100, 4096);
    size_t got = 0;
    take(stream, 1024, 0, &got);
    EXPECT_EQ(got, 1024u);
    EXPECT_FALSE(stream.drained());
    take(stream, 1024, 1024, &got);
    EXPECT_EQ(got, 476u);
    EXPECT_TRUE(stream.drained());
    EXPECT_DOUBLE_EQ(stream.position(1e9), 1500.0);
}

TEST(audio_stream, resizing_the_buffer_loses_no_frames) {
    cAudioStream stream(ramp(44100, 2, 1000), 44100, 100);
    take(stream, 10, 0);
    stream.refill(100);
    stream.set_buffer_frames(50);  // the 100 converted frames are dropped and converted again
    auto mix = take(stream, 5, 10);
    EXPECT_EQ(mix[0], 10 * 10);
}

TEST(audio_stream, a_loop_wraps_in_the_conversion_without_a_gap_and_positions_follow_the_wrap) {
    cAudioStream stream(ramp(44100, 2, 3000), 44100, 4096);
    stream.set_loop(1000, 1100);
    stream.seek(1050);
    stream.refill(4096);  // the buffer runs many wraps ahead
    auto mix = take(stream, 200, 0);
    // Frames 1050..1099, then 1000..1099, then 1000..1049: no frame missing or doubled.
    for (int i = 0; i < 200; ++i) {
        const int frame = i < 50 ? 1050 + i : 1000 + (i - 50) % 100;
        ASSERT_EQ(mix[i * 2], frame * 10) << "output frame " << i;
    }
    EXPECT_DOUBLE_EQ(stream.position(0.0), 1050.0);
    EXPECT_DOUBLE_EQ(stream.position(49.0), 1099.0);
    EXPECT_DOUBLE_EQ(stream.position(50.0), 1000.0) << "the wrap is heard: the position goes back with it";
    EXPECT_DOUBLE_EQ(stream.position(120.0), 1070.0);
    EXPECT_DOUBLE_EQ(stream.position(160.0), 1010.0) << "the second wrap";
    EXPECT_DOUBLE_EQ(stream.position(155.0), 1010.0) << "between wraps it never goes back";

    // Cleared, playback goes on past the old end.
    stream.set_loop(0, 0);
    mix = take(stream, 100, 200);
    EXPECT_EQ(mix[0], 1050 * 10);
    EXPECT_EQ(mix[99 * 2], 1149 * 10);
}

TEST(audio_stream, a_loop_set_behind_frames_converted_ahead_converts_them_again) {
    cAudioStream stream(ramp(44100, 2, 3000), 44100, 4096);
    stream.refill(4096);  // 0..2999 converted ahead without a loop
    take(stream, 100, 0);
    stream.set_loop(200, 300);
    auto mix = take(stream, 300, 100);
    EXPECT_EQ(mix[0], 100 * 10) << "handed-out frames are kept";
    EXPECT_EQ(mix[199 * 2], 299 * 10);
    EXPECT_EQ(mix[200 * 2], 200 * 10) << "the frames converted before the loop existed were not looped";
    EXPECT_DOUBLE_EQ(stream.position(310.0), 210.0);

    // Played from beyond the loop's end, nothing wraps.
    stream.seek(400);
    mix = take(stream, 10, 400);
    EXPECT_EQ(mix[9 * 2], 409 * 10);
    EXPECT_FALSE(stream.drained());

    // A new buffer size with wraps pending keeps every frame in place.
    stream.seek(290);
    stream.refill(4096);
    take(stream, 5, 410);
    stream.set_buffer_frames(100);
    mix = take(stream, 20, 415);
    EXPECT_EQ(mix[0], 295 * 10);
    EXPECT_EQ(mix[5 * 2], 200 * 10);
    EXPECT_EQ(mix[19 * 2], 214 * 10);
}
