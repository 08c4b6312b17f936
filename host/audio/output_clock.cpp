// The output clock's loop: a delay-locked loop in the position domain. The proportional term
// bends the slope until the next callback, the integral term learns the device's true rate.
// Both are bounded so that corrections stay gentle; only gross errors re-anchor.
#include "host/audio/output_clock.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "host/audio/audio_config.h"

using namespace audio_config;

cOutputClock::cOutputClock(double nominal_rate, double callback_period)
    : nominal_(nominal_rate), period_(callback_period), rate_(nominal_rate) {
    // The classic loop filter: omega = 2 pi B T, proportional sqrt(2) omega, integral omega^2,
    // which gives a critically damped response with bandwidth B.
    const double omega = 2.0 * std::numbers::pi * clock_loop_bandwidth_hz * period_;
    gain_proportional_ = std::numbers::sqrt2 * omega;
    gain_integral_ = omega * omega;
}

void cOutputClock::anchor(double now, double position) {
    anchored_ = true;
    anchor_time_ = now;
    anchor_position_ = position;
    slope_ = rate_;
}

void cOutputClock::on_callback(double now, double audible, double handed) {
    handed_ = handed;
    if (!anchored_) {
        anchor(now, audible);
        return;
    }
    const double predicted = anchor_position_ + std::max(0.0, now - anchor_time_) * slope_;
    const double error = audible - predicted;
    if (std::fabs(error) > clock_reset_error_seconds * nominal_) {
        ++resets_;
        anchor(now, audible);
        return;
    }
    if (std::fabs(error) <= clock_integrate_error_seconds * nominal_) {
        rate_ += gain_integral_ * error / period_;
        rate_ = std::clamp(rate_, nominal_ * (1.0 - clock_max_rate_deviation),
                           nominal_ * (1.0 + clock_max_rate_deviation));
    }
    // Start the next stretch where the previous one has got to, so readings stay continuous.
    anchor_time_ = now;
    anchor_position_ = predicted;
    slope_ = std::clamp(rate_ + gain_proportional_ * error / period_, rate_ * (1.0 - clock_max_slope_deviation),
                        rate_ * (1.0 + clock_max_slope_deviation));
}

double cOutputClock::position(double now) {
    if (!anchored_) return last_reading_;
    double estimate = anchor_position_ + std::max(0.0, now - anchor_time_) * slope_;
    estimate = std::min(estimate, handed_);
    last_reading_ = std::max(last_reading_, estimate);
    return last_reading_;
}
