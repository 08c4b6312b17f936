// Smooth estimate of what the output device has played, from the moments at which it asks
// for more samples. Pure arithmetic over times and frame counts given by the caller: no
// clock reads, no locking (the owner serialises calls), no knowledge of SDL.
#pragma once
#include <cstdint>

// Positions are in device frames, times in seconds of a monotonic clock. At every callback
// the device reports how much is audible by now and how much it has been handed; in between,
// the position is extrapolated with a learned rate. Errors are corrected by bending the slope
// (a second-order loop), never by jumping; readings never decrease and never pass what was
// handed out.
class cOutputClock {
public:
    // nominal_rate: frames per second; callback_period: nominal seconds between callbacks.
    cOutputClock(double nominal_rate, double callback_period);

    // A callback at now: audible frames have been heard, handed frames given to the device.
    void on_callback(double now, double audible, double handed);
    // The audible position at now. Holds at 0 until the first callback and while the
    // measurements are still negative (the device queue filling up).
    double position(double now);

    double rate() const { return rate_; }         // learned frames per second
    uint32_t resets() const { return resets_; }   // re-anchorings after large errors

private:
    void anchor(double now, double position);

    double nominal_;
    double period_;
    double gain_proportional_;  // share of an error removed over the next callback period
    double gain_integral_;      // share of an error that goes into the learned rate
    bool anchored_ = false;
    double anchor_time_ = 0.0;
    double anchor_position_ = 0.0;
    double slope_ = 0.0;
    double rate_ = 0.0;
    double handed_ = 0.0;
    double last_reading_ = 0.0;
    uint32_t resets_ = 0;
};
