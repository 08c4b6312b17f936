// The audio layer's one shared state: device, output clock, streams, refill settings and
// threads, behind one lock. Internal to host/audio: the sound module uses audio_api.h only.
// Never held while SDL closes the device or while threads are joined.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "host/audio/audio_config.h"
#include "host/audio/audio_output_sdl.h"
#include "host/audio/audio_stream.h"
#include "host/audio/output_clock.h"

struct cAudioLayer {
    // Guards everything below. Taken by API calls, the output callback and the refill threads.
    std::mutex lock;
    // Serialises the calls that start or stop threads and the device (Init, Free, SetConfig),
    // so that they can join threads without holding lock. Never taken by other threads.
    std::mutex control;

    // ---- device ----
    bool initialised = false;
    int32_t device = -1;
    uint32_t rate = 0;
    uint32_t init_flags = 0;
    uint32_t latency_ms = 0;
    uint32_t device_buffer_frames = 0;
    bool output_paused = false;
    cSdlOutput output;
    std::unique_ptr<cOutputClock> clock;  // the output's clock; none for "no sound"
    uint64_t device_frames_handed = 0;
    std::vector<int32_t> mix;             // the output thread's mixing buffer

    // ---- refill settings and threads ----
    uint32_t buffer_ms = audio_config::default_buffer_ms;
    uint32_t update_period_ms = audio_config::default_update_period_ms;
    uint32_t update_threads = audio_config::default_update_threads;
    std::vector<std::thread> refill_threads;
    uint32_t running_refill_threads = 0;
    bool refill_stop = false;
    std::condition_variable refill_wake;

    // ---- streams ----
    std::map<uint32_t, std::unique_ptr<cAudioStream>> streams;
    uint32_t next_handle = audio_config::first_stream_handle;

    size_t buffer_frames() const { return static_cast<size_t>(uint64_t{buffer_ms} * rate / 1000); }
    // The output's audible position now, in device frames (0 without an output). Lock held.
    double device_audible();
    // The stream behind handle, or null. Lock held.
    cAudioStream* find(uint32_t handle);
};

// The process's audio layer. Made on first use and never destroyed, so that SDL's audio
// thread can never outlive it during process exit.
cAudioLayer& audio_layer();

// Seconds of the monotonic clock the output clock runs on.
double monotonic_seconds();
