// FFTW plans are not safe to make from two threads at once, and each plan works on its own
// buffers, so one lock covers planning and every transform.
#include "host/audio/audio_spectrum.h"

#include <fftw3.h>

#include <array>
#include <cmath>
#include <mutex>
#include <numbers>
#include <vector>

#include "host/audio/audio_api.h"
#include "host/audio/audio_config.h"

namespace {

struct cFftPlan {
    uint32_t size = 0;
    float* input = nullptr;
    fftwf_complex* output = nullptr;
    fftwf_plan plan = nullptr;
    std::vector<float> hann;
    double hann_sum = 0.0;
};

constexpr uint32_t fft_size_codes = 8;  // 256 << 0 .. 256 << 7
constexpr uint32_t fft_request_bit = 0x80000000;

std::mutex fft_lock;
// Made on first use and kept for the life of the process.
std::array<cFftPlan*, fft_size_codes> plans{};

cFftPlan& plan_for(uint32_t code) {
    cFftPlan*& plan = plans[code];
    if (!plan) {
        plan = new cFftPlan;
        plan->size = audio_config::fft_min_size << code;
        plan->input = fftwf_alloc_real(plan->size);
        plan->output = fftwf_alloc_complex(plan->size / 2 + 1);
        // FFTW_ESTIMATE: planning takes microseconds and touches no data.
        plan->plan = fftwf_plan_dft_r2c_1d(static_cast<int>(plan->size), plan->input, plan->output, FFTW_ESTIMATE);
        plan->hann.resize(plan->size);
        for (uint32_t i = 0; i < plan->size; ++i) {
            plan->hann[i] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / plan->size));
            plan->hann_sum += plan->hann[i];
        }
    }
    return *plan;
}

}  // namespace

uint32_t spectrum_values(uint32_t flags) {
    if (!(flags & fft_request_bit)) return 0;
    if (flags & (BASS_DATA_FFT_INDIVIDUAL | BASS_DATA_FFT_COMPLEX)) return 0;
    const uint32_t size = audio_config::fft_min_size << (flags & (fft_size_codes - 1));
    return size / 2 + ((flags & BASS_DATA_FFT_NYQUIST) ? 1 : 0);
}

void spectrum_magnitudes(const cPcm& pcm, int64_t end_frame, uint32_t flags, float* out) {
    std::lock_guard<std::mutex> guard(fft_lock);
    cFftPlan& plan = plan_for(flags & (fft_size_codes - 1));
    const int64_t size = plan.size;
    const int64_t frames = static_cast<int64_t>(pcm.frames());
    const uint32_t channels = pcm.channels;
    const float to_mono = channels ? 1.0f / (32768.0f * static_cast<float>(channels)) : 0.0f;
    const int64_t first = end_frame - size;
    double mean = 0.0;
    for (int64_t i = 0; i < size; ++i) {
        const int64_t frame = first + i;
        float value = 0.0f;
        if (frame >= 0 && frame < frames) {
            const int16_t* f = pcm.samples.data() + frame * channels;
            int32_t sum = 0;
            for (uint32_t c = 0; c < channels; ++c) sum += f[c];
            value = static_cast<float>(sum) * to_mono;
        }
        plan.input[i] = value;
        mean += value;
    }
    if (flags & BASS_DATA_FFT_REMOVEDC) {
        const float dc = static_cast<float>(mean / static_cast<double>(size));
        for (int64_t i = 0; i < size; ++i) plan.input[i] -= dc;
    }
    // A sine of amplitude A on a bin centre gives |X| = A * (sum of the window) / 2.
    double window_sum = static_cast<double>(size);
    if (!(flags & BASS_DATA_FFT_NOWINDOW)) {
        for (int64_t i = 0; i < size; ++i) plan.input[i] *= plan.hann[i];
        window_sum = plan.hann_sum;
    }
    fftwf_execute(plan.plan);
    const float scale = static_cast<float>(2.0 / window_sum);
    const uint32_t values = spectrum_values(flags);
    for (uint32_t i = 0; i < values; ++i) {
        const float re = plan.output[i][0], im = plan.output[i][1];
        out[i] = std::sqrt(re * re + im * im) * scale;
    }
}
