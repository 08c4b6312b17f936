// Music files made at test time: 16-bit WAV written here, other formats encoded from it with
// the Debian tools sox and lame. Tests never depend on media checked into the repository.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "support/run_process.h"

// Interleaved samples of a sine of amplitude (full scale 1.0) on every channel.
inline std::vector<int16_t> sine_samples(uint32_t rate, uint32_t channels, uint64_t frames, double frequency,
                                         double amplitude = 1.0) {
    std::vector<int16_t> samples(frames * channels);
    for (uint64_t i = 0; i < frames; ++i) {
        const double value = amplitude * std::sin(2.0 * std::numbers::pi * frequency * static_cast<double>(i) / rate);
        const auto sample = static_cast<int16_t>(std::lround(std::clamp(value * 32767.0, -32768.0, 32767.0)));
        for (uint32_t c = 0; c < channels; ++c) samples[i * channels + c] = sample;
    }
    return samples;
}

// A canonical 44-byte-header PCM WAV file as bytes.
inline std::string wav_bytes(uint32_t rate, uint32_t channels, const std::vector<int16_t>& samples) {
    std::string out;
    auto u32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff)); };
    auto u16 = [&](uint16_t v) { for (int i = 0; i < 2; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff)); };
    const uint32_t data_bytes = static_cast<uint32_t>(samples.size() * 2);
    out += "RIFF";
    u32(36 + data_bytes);
    out += "WAVEfmt ";
    u32(16);
    u16(1);  // PCM
    u16(static_cast<uint16_t>(channels));
    u32(rate);
    u32(rate * channels * 2);
    u16(static_cast<uint16_t>(channels * 2));
    u16(16);
    out += "data";
    u32(data_bytes);
    out.append(reinterpret_cast<const char*>(samples.data()), data_bytes);
    return out;
}

inline void write_wav(const std::string& path, uint32_t rate, uint32_t channels, const std::vector<int16_t>& samples) {
    std::ofstream(path, std::ios::binary) << wav_bytes(rate, channels, samples);
}

// Encodes a WAV into out with sox (format from out's extension: .ogg, .flac, ...) or, for
// .mp3, with lame. True when the tool succeeded.
inline bool encode_media(const std::string& wav, const std::string& out) {
    const bool mp3 = out.size() > 4 && out.substr(out.size() - 4) == ".mp3";
    std::vector<std::string> command = mp3 ? std::vector<std::string>{"/usr/bin/env", "lame", "--quiet", "-b", "128", wav, out}
                                           : std::vector<std::string>{"/usr/bin/env", "sox", wav, out};
    cProcessResult result = run_process(command);
    return result.exited && result.status == 0;
}
