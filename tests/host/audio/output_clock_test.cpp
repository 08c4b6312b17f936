// The output clock's estimator on synthetic callback times: deterministic, no real clock.
// Protects what the show relies on: 0 before the output starts, no step backwards, nothing
// beyond what was handed out, steady steps under jitter, and learning a device's true rate.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "host/audio/output_clock.h"

namespace {

constexpr double rate = 44100.0;
constexpr double buffer = 1024.0;
constexpr double period = buffer / rate;
constexpr double read_interval = 1.0 / 60.0;

// A device in the manner of SDL's dummy driver: after each callback it plays one buffer,
// taking period * slowness plus some lateness, and one buffer is counted as still queued.
struct cSimulatedDevice {
    double slowness = 1.0;
    double jitter_seconds = 0.0;   // extra lateness per callback, uniformly 0..jitter
    double stall_every = 0.0;      // seconds between stalls (0: none)
    double stall_seconds = 0.0;
    unsigned seed = 7;
};

struct cReading {
    double time;
    double position;
};

// Readings at 60 Hz from start to end (seconds), with the device's callbacks in between.
std::vector<cReading> run(cOutputClock& clock, const cSimulatedDevice& device, double start, double end,
                          double* handed_at_end = nullptr) {
    std::mt19937 random(device.seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    double next_callback = 0.0, handed = 0.0, next_stall = device.stall_every;
    std::vector<cReading> readings;
    for (double t = start; t < end; t += read_interval) {
        while (next_callback <= t) {
            clock.on_callback(next_callback, std::max(0.0, handed - buffer), handed + buffer);
            handed += buffer;
            next_callback += period * device.slowness + unit(random) * device.jitter_seconds;
            if (device.stall_every > 0.0 && next_callback > next_stall) {
                next_callback += device.stall_seconds;
                next_stall += device.stall_every;
            }
        }
        readings.push_back({t, clock.position(t)});
        if (handed_at_end) *handed_at_end = handed;
        EXPECT_LE(readings.back().position, handed) << "reading beyond what was handed out at t=" << t;
    }
    return readings;
}

// Largest difference between a position step (in seconds of audio) and its time step.
double largest_step_error(const std::vector<cReading>& readings, double rate_of_device) {
    double largest = 0.0;
    for (size_t i = 1; i < readings.size(); ++i) {
        const double step = (readings[i].position - readings[i - 1].position) / rate_of_device;
        largest = std::max(largest, std::fabs(step - (readings[i].time - readings[i - 1].time)));
    }
    return largest;
}

}  // namespace

TEST(output_clock, holds_at_zero_until_the_first_callback) {
    cOutputClock clock(rate, period);
    EXPECT_EQ(clock.position(0.0), 0.0);
    EXPECT_EQ(clock.position(5.0), 0.0);
    // The device's queue is still filling: measurements below 0 keep the reading at 0 ...
    clock.on_callback(10.0, -2 * buffer, buffer);
    EXPECT_EQ(clock.position(10.0), 0.0);
    EXPECT_EQ(clock.position(10.0 + period), 0.0);
    clock.on_callback(10.0 + period, -buffer, 2 * buffer);
    EXPECT_EQ(clock.position(10.0 + 2 * period), 0.0);
    // ... and it moves once the first handed frame is due to be heard, at the device's pace.
    clock.on_callback(10.0 + 2 * period, 0.0, 3 * buffer);
    EXPECT_NEAR(clock.position(10.0 + 2.5 * period), buffer / 2, 1.0);
}

TEST(output_clock, never_steps_back_and_never_passes_what_was_handed_out) {
    cOutputClock clock(rate, period);
    cSimulatedDevice device;
    device.jitter_seconds = 0.004;
    device.stall_every = 1.3;
    device.stall_seconds = 0.25;  // beyond what the loop smooths: it must re-anchor
    auto readings = run(clock, device, 0.0, 8.0);
    for (size_t i = 1; i < readings.size(); ++i) {
        ASSERT_GE(readings[i].position, readings[i - 1].position) << "stepped back at t=" << readings[i].time;
    }
    EXPECT_GT(clock.resets(), 0u) << "stalls of 250 ms should have re-anchored the estimate";
}

TEST(output_clock, steps_follow_the_device_smoothly_under_callback_jitter) {
    cOutputClock clock(rate, period);
    cSimulatedDevice device;
    device.jitter_seconds = 0.002;
    auto readings = run(clock, device, 0.0, 12.0);
    // The device runs slower by the mean lateness; the steps follow it, not the nominal rate.
    const double device_rate = rate * period / (period + device.jitter_seconds / 2);
    std::vector<cReading> settled(readings.begin() + 120, readings.end());
    EXPECT_LT(largest_step_error(settled, device_rate), 0.001);
}

TEST(output_clock, learns_a_device_that_runs_fast) {
    cOutputClock clock(rate, period);
    cSimulatedDevice device;
    device.slowness = 0.97;  // 3% fast
    double handed = 0.0;
    auto readings = run(clock, device, 0.0, 20.0, &handed);
    EXPECT_NEAR(clock.rate(), rate / 0.97, rate * 0.002);
    // Locked on: the reading trails what was handed out by about the queued buffer, not more.
    EXPECT_NEAR(handed - readings.back().position, 1.5 * buffer, buffer);
}

TEST(output_clock, spreads_a_small_lag_over_time_instead_of_jumping) {
    cOutputClock clock(rate, period);
    cSimulatedDevice device;
    device.stall_every = 3.0;
    device.stall_seconds = 0.015;  // each stall makes the estimate 15 ms early
    auto readings = run(clock, device, 0.0, 10.0);
    std::vector<cReading> settled(readings.begin() + 60, readings.end());
    // Spread at no more than the slope bound (8% of a 16.7 ms step), never a visible jump.
    EXPECT_LT(largest_step_error(settled, rate), 0.0016);
    EXPECT_EQ(clock.resets(), 0u);
}
