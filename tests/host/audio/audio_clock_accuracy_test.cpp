// The output clock against the wall clock over 10 s of real playback on SDL's dummy driver
// (which consumes samples in real time): read at about 60 Hz, as the frame loop does, every
// step of the position must match its wall-clock step within 2 ms, with a standard deviation
// under 1 ms. Prints its figures.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

#include "host/audio/audio_api.h"
#include "host/audio/audio_test_media.h"

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point origin, clock_type::time_point t) {
    return std::chrono::duration<double>(t - origin).count();
}

struct cReading {
    double wall;      // seconds
    double position;  // seconds of music
};

}  // namespace

TEST(audio_clock_accuracy, position_steps_match_wall_clock_steps_over_ten_seconds) {
    constexpr uint32_t rate = 44100;
    constexpr double measured_seconds = 10.0;
    constexpr double read_interval = 1.0 / 60.0;

    ASSERT_TRUE(BASS_Init(1, rate, BASS_DEVICE_LATENCY, nullptr, nullptr)) << "code " << BASS_ErrorGetCode();
    BASS_SetConfig(BASS_CONFIG_UPDATEPERIOD, 15);
    BASS_SetConfig(BASS_CONFIG_UPDATETHREADS, 2);
    const std::string wav = wav_bytes(rate, 2, sine_samples(rate, 2, rate * 14, 440, 0.25));
    const uint32_t stream = BASS_StreamCreateFile(true, wav.data(), 0, wav.size(), BASS_STREAM_PRESCAN);
    ASSERT_NE(stream, 0u);
    BASS_ChannelUpdate(stream, 0);
    ASSERT_TRUE(BASS_ChannelPlay(stream, true));
    ASSERT_TRUE(BASS_Pause());
    ASSERT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), 0u);

    const auto origin = clock_type::now();
    ASSERT_TRUE(BASS_Start());
    std::vector<cReading> readings;
    auto next = origin;
    bool moving = false;
    double first_moving_wall = 0.0;
    while (true) {
        next += std::chrono::duration_cast<clock_type::duration>(std::chrono::duration<double>(read_interval));
        std::this_thread::sleep_until(next);
        // The wall time of a reading is the middle of the call.
        const auto before = clock_type::now();
        const uint64_t bytes = BASS_ChannelGetPosition(stream, BASS_POS_BYTE);
        const auto after = clock_type::now();
        const double wall = (seconds_since(origin, before) + seconds_since(origin, after)) / 2;
        const double position = BASS_ChannelBytes2Seconds(stream, bytes);
        ASSERT_GE(position, 0.0);
        if (!readings.empty()) {
            ASSERT_GE(position, readings.back().position) << "stepped back at " << wall << " s";
        }
        if (!moving) {
            // The output takes its latency to start; the measurement begins with the music.
            if (position == 0.0) {
                ASSERT_LT(wall, 2.0) << "the position never started moving";
                readings.assign(1, {wall, position});
                continue;
            }
            moving = true;
            first_moving_wall = wall;
        }
        readings.push_back({wall, position});
        if (wall - first_moving_wall >= measured_seconds) break;
    }
    BASS_Free();

    // Steps after the one in which the music started.
    std::vector<double> differences;
    for (size_t i = 2; i < readings.size(); ++i) {
        const double step = readings[i].position - readings[i - 1].position;
        const double wall_step = readings[i].wall - readings[i - 1].wall;
        differences.push_back((step - wall_step) * 1000.0);
    }
    ASSERT_GT(differences.size(), 500u);
    double largest = 0.0, sum = 0.0, squares = 0.0;
    for (double d : differences) {
        largest = std::max(largest, std::fabs(d));
        sum += d;
        squares += d * d;
    }
    const double mean = sum / differences.size();
    const double deviation = std::sqrt(std::max(0.0, squares / differences.size() - mean * mean));
    const double start_latency = first_moving_wall;
    std::printf("# clock over %.1f s, %zu steps at 60 Hz: largest |step - wall step| %.3f ms, "
                "standard deviation %.3f ms, mean %.4f ms; start after %.1f ms\n",
                readings.back().wall - first_moving_wall, differences.size(), largest, deviation, mean,
                start_latency * 1000.0);
    if (largest > 2.0) {
        // Where it went wrong: the steps that were off by more than a millisecond.
        for (size_t i = 0; i < differences.size(); ++i) {
            if (std::fabs(differences[i]) > 1.0) {
                std::printf("#   at %.3f s: %+.3f ms\n", readings[i + 2].wall - first_moving_wall, differences[i]);
            }
        }
    }
    EXPECT_LE(largest, 2.0) << "a position step differed from its wall-clock step by more than 2 ms";
    EXPECT_LT(deviation, 1.0) << "position steps scatter around the wall clock";
}
