// Device calls of the audio layer: version, init and free, info, configuration, global pause
// and start; and the two kinds of threads that serve the device: SDL's audio thread, which
// mixes the playing streams and feeds the output clock, and the refill threads.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>

#include "host/audio/audio_api.h"
#include "host/audio/audio_errors.h"
#include "host/audio/audio_layer.h"

using namespace audio_config;

// ---- shared state ----

cAudioLayer& audio_layer() {
    static cAudioLayer* layer = new cAudioLayer;
    return *layer;
}

double monotonic_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double cAudioLayer::device_audible() { return clock ? clock->position(monotonic_seconds()) : 0.0; }

cAudioStream* cAudioLayer::find(uint32_t handle) {
    auto it = streams.find(handle);
    return it == streams.end() ? nullptr : it->second.get();
}

namespace {

// ---- the output thread ----

void fill_output(void* user, int16_t* out, uint32_t frames) {
    // The moment of the request is what the clock needs: take it before waiting for the lock.
    const double now = monotonic_seconds();
    auto& layer = *static_cast<cAudioLayer*>(user);
    std::lock_guard<std::mutex> guard(layer.lock);
    const uint64_t first_frame = layer.device_frames_handed;
    const size_t chunk_frames = layer.mix.size() / output_channels;
    for (uint32_t done = 0; done < frames && chunk_frames > 0;) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(frames - done, chunk_frames));
        std::fill(layer.mix.begin(), layer.mix.begin() + n * output_channels, 0);
        if (!layer.output_paused) {
            for (auto& entry : layer.streams) {
                if (entry.second->playing) entry.second->mix_into(layer.mix.data(), n, first_frame + done);
            }
        }
        for (uint32_t i = 0; i < n * output_channels; ++i) {
            out[done * output_channels + i] = static_cast<int16_t>(std::clamp(layer.mix[i], -32768, 32767));
        }
        done += n;
    }
    if (layer.clock) {
        // While the device's queue is first filling this is negative: the clock then holds at
        // 0 and starts moving exactly when the first handed frame is due to be heard.
        const double queued = static_cast<double>(layer.device_buffer_frames) * queued_buffers_at_callback;
        const double audible = static_cast<double>(first_frame) - queued;
        layer.clock->on_callback(now, audible, static_cast<double>(first_frame + frames));
    }
    layer.device_frames_handed += frames;
}

// ---- refill threads ----

void refill_loop(cAudioLayer& layer, uint32_t index) {
    std::unique_lock<std::mutex> guard(layer.lock);
    while (!layer.refill_stop) {
        if (layer.update_period_ms == 0) {
            layer.refill_wake.wait(guard);
        } else {
            layer.refill_wake.wait_for(guard, std::chrono::milliseconds(layer.update_period_ms));
        }
        if (layer.refill_stop || layer.update_period_ms == 0 || layer.output_paused) continue;
        // The streams are shared out among the threads by their order.
        uint32_t n = 0;
        for (auto& entry : layer.streams) {
            if (n++ % layer.running_refill_threads != index) continue;
            if (entry.second->playing) entry.second->refill(layer.buffer_frames());
        }
    }
}

// Control lock held, state lock not held.
void start_refill_threads(cAudioLayer& layer) {
    std::lock_guard<std::mutex> guard(layer.lock);
    layer.refill_stop = false;
    layer.running_refill_threads = layer.update_threads;
    for (uint32_t i = 0; i < layer.running_refill_threads; ++i) layer.refill_threads.emplace_back(refill_loop, std::ref(layer), i);
}

// Control lock held, state lock not held (the threads need it to finish).
void stop_refill_threads(cAudioLayer& layer) {
    {
        std::lock_guard<std::mutex> guard(layer.lock);
        layer.refill_stop = true;
    }
    layer.refill_wake.notify_all();
    for (auto& thread : layer.refill_threads) thread.join();
    std::lock_guard<std::mutex> guard(layer.lock);
    layer.refill_threads.clear();
    layer.running_refill_threads = 0;
}

bool has_output(const cAudioLayer& layer) { return layer.initialised && layer.device == BASS_DEVICE_DEFAULT_OUTPUT; }

}  // namespace

// ---- device calls ----

uint32_t BASS_GetVersion() {
    audio_errors::set(BASS_OK);
    return version;
}

bool BASS_Init(int32_t device, uint32_t freq, uint32_t flags, void* /*window*/, const void* /*clsid*/) {
    cAudioLayer& layer = audio_layer();
    std::lock_guard<std::mutex> control(layer.control);
    {
        std::lock_guard<std::mutex> guard(layer.lock);
        if (layer.initialised) return audio_errors::fail(BASS_ERROR_ALREADY, false);
        if (device != BASS_DEVICE_NOSOUND && device != BASS_DEVICE_DEFAULT_OUTPUT) {
            return audio_errors::fail(BASS_ERROR_DEVICE, false);
        }
        if (freq < min_output_rate || freq > max_output_rate) return audio_errors::fail(BASS_ERROR_ILLPARAM, false);
        layer.device = device;
        layer.rate = freq;
        layer.init_flags = flags;
        layer.latency_ms = 0;
        layer.output_paused = false;
        layer.device_frames_handed = 0;
        layer.device_buffer_frames = 0;
        layer.clock.reset();
        if (device == BASS_DEVICE_NOSOUND) {
            layer.initialised = true;
            audio_errors::set(BASS_OK);
            return true;
        }
        layer.device_buffer_frames = device_buffer_frames;
        layer.clock = std::make_unique<cOutputClock>(freq, static_cast<double>(device_buffer_frames) / freq);
        // Room for several device buffers; a larger request is mixed in pieces.
        layer.mix.assign(size_t{device_buffer_frames} * 4 * output_channels, 0);
    }
    std::string reason;
    if (!layer.output.open(freq, device_buffer_frames, fill_output, &layer, reason)) {
        std::lock_guard<std::mutex> guard(layer.lock);
        layer.clock.reset();
        layer.device = -1;
        return audio_errors::fail(BASS_ERROR_DRIVER, false);
    }
    {
        std::lock_guard<std::mutex> guard(layer.lock);
        layer.initialised = true;
        if (flags & BASS_DEVICE_LATENCY) {
            // What is handed out at a callback is heard after the buffer being filled and the
            // buffers still queued in front of it.
            const double frames = static_cast<double>(layer.output.buffer_frames()) * (1 + queued_buffers_at_callback);
            layer.latency_ms = static_cast<uint32_t>(std::lround(frames * 1000.0 / freq));
        }
    }
    start_refill_threads(layer);
    audio_errors::set(BASS_OK);
    return true;
}

bool BASS_Free() {
    cAudioLayer& layer = audio_layer();
    std::lock_guard<std::mutex> control(layer.control);
    bool output;
    {
        std::lock_guard<std::mutex> guard(layer.lock);
        if (!layer.initialised) return audio_errors::fail(BASS_ERROR_INIT, false);
        output = has_output(layer);
    }
    if (output) {
        stop_refill_threads(layer);
        layer.output.close();
    }
    std::lock_guard<std::mutex> guard(layer.lock);
    layer.streams.clear();
    layer.clock.reset();
    layer.mix.clear();
    layer.initialised = false;
    layer.device = -1;
    layer.output_paused = false;
    audio_errors::set(BASS_OK);
    return true;
}

bool BASS_GetInfo(BASS_INFO* info) {
    cAudioLayer& layer = audio_layer();
    std::lock_guard<std::mutex> guard(layer.lock);
    if (!layer.initialised) return audio_errors::fail(BASS_ERROR_INIT, false);
    if (!info) return audio_errors::fail(BASS_ERROR_ILLPARAM, false);
    *info = BASS_INFO{};
    info->initflags = layer.init_flags;
    info->latency = layer.latency_ms;
    info->freq = layer.rate;
    info->speakers = output_channels;
    if (layer.device_buffer_frames) {
        info->minbuf = static_cast<uint32_t>(std::lround(layer.device_buffer_frames * 1000.0 / layer.rate));
    }
    audio_errors::set(BASS_OK);
    return true;
}

bool BASS_SetConfig(uint32_t option, uint32_t value) {
    cAudioLayer& layer = audio_layer();
    std::lock_guard<std::mutex> control(layer.control);
    bool restart_threads = false;
    {
        std::lock_guard<std::mutex> guard(layer.lock);
        switch (option) {
            case BASS_CONFIG_BUFFER:
                layer.buffer_ms = std::clamp(value, min_buffer_ms, max_buffer_ms);
                for (auto& entry : layer.streams) entry.second->set_buffer_frames(layer.buffer_frames());
                break;
            case BASS_CONFIG_UPDATEPERIOD:
                layer.update_period_ms = value == 0 ? 0 : std::clamp(value, min_update_period_ms, max_update_period_ms);
                break;
            case BASS_CONFIG_UPDATETHREADS:
                value = std::min(value, max_update_threads);
                restart_threads = has_output(layer) && value != layer.update_threads;
                layer.update_threads = value;
                break;
            default:
                return audio_errors::fail(BASS_ERROR_ILLTYPE, false);
        }
    }
    layer.refill_wake.notify_all();
    if (restart_threads) {
        stop_refill_threads(layer);
        start_refill_threads(layer);
    }
    audio_errors::set(BASS_OK);
    return true;
}

uint32_t BASS_GetConfig(uint32_t option) {
    cAudioLayer& layer = audio_layer();
    std::lock_guard<std::mutex> guard(layer.lock);
    uint32_t value;
    switch (option) {
        case BASS_CONFIG_BUFFER: value = layer.buffer_ms; break;
        case BASS_CONFIG_UPDATEPERIOD: value = layer.update_period_ms; break;
        case BASS_CONFIG_UPDATETHREADS: value = layer.update_threads; break;
        default: return audio_errors::fail(BASS_ERROR_ILLTYPE, ~uint32_t{0});
    }
    audio_errors::set(BASS_OK);
    return value;
}

bool BASS_Start() {
    cAudioLayer& layer = audio_layer();
    {
        std::lock_guard<std::mutex> guard(layer.lock);
        if (!layer.initialised) return audio_errors::fail(BASS_ERROR_INIT, false);
        layer.output_paused = false;
    }
    layer.refill_wake.notify_all();
    audio_errors::set(BASS_OK);
    return true;
}

bool BASS_Pause() {
    cAudioLayer& layer = audio_layer();
    std::lock_guard<std::mutex> guard(layer.lock);
    if (!layer.initialised) return audio_errors::fail(BASS_ERROR_INIT, false);
    if (!layer.output_paused) {
        layer.output_paused = true;
        // Every stream stands still at what is heard now and resumes from exactly there.
        const double audible = layer.device_audible();
        for (auto& entry : layer.streams) {
            if (entry.second->playing) entry.second->freeze(audible);
        }
    }
    audio_errors::set(BASS_OK);
    return true;
}
