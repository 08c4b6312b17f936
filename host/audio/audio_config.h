// Limits and fixed sizes of the audio layer, in one place: output buffer, refill settings,
// clock estimator gains, FFT sizes. Constants only: depends on nothing and never holds code.
#pragma once
#include <cstddef>
#include <cstdint>

namespace audio_config {

// BASS_GetVersion: 2.4 in the upper 16 bits.
constexpr uint32_t version = 0x02040000;

// ---- output ----
constexpr uint32_t output_channels = 2;          // the device always plays stereo 16-bit
constexpr uint32_t min_output_rate = 8000;
constexpr uint32_t max_output_rate = 192000;
// Frames per output callback. A power of two: SDL's dummy driver then consumes samples at
// close to the nominal rate (it sleeps whole milliseconds per buffer).
constexpr uint32_t device_buffer_frames = 1024;
// SDL does not tell how much the driver still holds when it asks for more. We count two device
// buffers as still queued at each callback: what the common drivers hold (a period in the
// driver plus the server's or card's own), and it leaves the clock that much room before its
// clamp at what was handed out, so a late callback on a busy machine is smoothed, not seen.
constexpr uint32_t queued_buffers_at_callback = 2;

// ---- refill (BASS_SetConfig) ----
constexpr uint32_t default_buffer_ms = 500;
constexpr uint32_t min_buffer_ms = 10;
constexpr uint32_t max_buffer_ms = 5000;
constexpr uint32_t default_update_period_ms = 100;
constexpr uint32_t min_update_period_ms = 5;     // 0 is allowed too: no automatic refill
constexpr uint32_t max_update_period_ms = 100;
constexpr uint32_t default_update_threads = 1;
constexpr uint32_t max_update_threads = 8;

// ---- clock estimator (output_clock.h) ----
// A second-order loop locks the smooth position onto the callback measurements. Bandwidth
// 0.5 Hz: callback jitter of a few ms moves a 60 Hz reading by a few hundredths of a ms.
constexpr double clock_loop_bandwidth_hz = 0.5;
// The device's true rate may differ from the nominal one (SDL's dummy driver is ~0.3% fast);
// the loop learns the difference within this bound.
constexpr double clock_max_rate_deviation = 0.05;
// The slope used between callbacks stays this close to the learned rate, so that a correction
// is spread over time instead of showing as a jump.
constexpr double clock_max_slope_deviation = 0.08;
// Errors larger than this (a stall of the output, a sleeping machine) are not smoothed away:
// the estimate is re-anchored and readers see the position hold until it catches up.
constexpr double clock_reset_error_seconds = 0.1;
// The learned rate only follows errors up to this size, so a single late callback does not
// wind the rate up.
constexpr double clock_integrate_error_seconds = 0.01;

// ---- spectrum ----
constexpr uint32_t fft_min_size = 256;
constexpr uint32_t fft_max_size = 32768;

// ---- streams ----
constexpr uint32_t first_stream_handle = 0x10000001;  // handles are never 0
constexpr uint32_t max_stream_channels = 32;
// Up-front reservation for decoded samples is capped at this duration; longer files grow.
constexpr uint32_t max_reserved_seconds = 3600;
// Loop wraps converted ahead of what the output has played, kept to place positions after
// them. A loop of one row (1/24 s) wraps 24 times a second, so this covers ten seconds of
// the shortest loop with nobody reading the position; beyond it the oldest is taken as heard.
constexpr size_t max_pending_loop_wraps = 256;

}  // namespace audio_config
