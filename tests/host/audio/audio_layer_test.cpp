// The audio layer's calls as the sound module uses them: error codes for every refusal, the
// "no sound" device whose clock moves only when set, exact lengths, positions and spectra of
// streams made from memory, and the real output (SDL's dummy driver under ctest): 0 before
// the start, standing still while paused, never decreasing.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "host/audio/audio_api.h"
#include "support/audio_test_media.h"
#include "support/temp_dir.h"

namespace {

constexpr uint32_t rate = 44100;
constexpr uint32_t fft8192 = 0xC0000025;  // what the sound module asks for
constexpr uint64_t no_bytes = ~uint64_t{0};
constexpr uint32_t no_data = ~uint32_t{0};

// Every test starts and ends with the layer closed.
class AudioLayer : public ::testing::Test {
protected:
    void SetUp() override { BASS_Free(); }
    void TearDown() override { BASS_Free(); }

    uint32_t stream_from(const std::string& bytes) {
        return BASS_StreamCreateFile(true, bytes.data(), 0, bytes.size(), BASS_STREAM_PRESCAN);
    }
    static uint64_t frames_to_bytes(uint64_t frames, uint32_t channels = 2) { return frames * channels * 2; }
};

// Bin i of an 8192-point FFT at 44100 Hz sits at i * 44100 / 8192 Hz.
double bin_frequency(int bin) { return bin * static_cast<double>(rate) / 8192.0; }

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

// ---- device ----

TEST_F(AudioLayer, reports_version_2_4) { EXPECT_EQ(BASS_GetVersion() >> 16, 0x0204u); }

TEST_F(AudioLayer, refuses_unknown_devices_and_a_second_init) {
    for (int32_t device : {-1, 2, 3, 99}) {
        EXPECT_FALSE(BASS_Init(device, rate, 0, nullptr, nullptr)) << "device " << device;
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DEVICE) << "device " << device;
    }
    EXPECT_FALSE(BASS_Init(0, 0, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
    ASSERT_TRUE(BASS_Init(0, rate, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
    EXPECT_FALSE(BASS_Init(0, rate, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
}

TEST_F(AudioLayer, calls_before_init_fail_with_the_init_code) {
    BASS_INFO info;
    EXPECT_FALSE(BASS_GetInfo(&info));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    std::string wav = wav_bytes(rate, 2, sine_samples(rate, 2, 1000, 440));
    EXPECT_EQ(stream_from(wav), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    EXPECT_FALSE(BASS_Start());
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    EXPECT_FALSE(BASS_Pause());
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    EXPECT_FALSE(BASS_Free());
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
}

TEST_F(AudioLayer, configuration_is_kept_clamped_and_unknown_options_refused) {
    EXPECT_TRUE(BASS_SetConfig(BASS_CONFIG_UPDATEPERIOD, 15));
    EXPECT_EQ(BASS_GetConfig(BASS_CONFIG_UPDATEPERIOD), 15u);
    EXPECT_TRUE(BASS_SetConfig(BASS_CONFIG_UPDATEPERIOD, 1000));
    EXPECT_EQ(BASS_GetConfig(BASS_CONFIG_UPDATEPERIOD), 100u);
    EXPECT_TRUE(BASS_SetConfig(BASS_CONFIG_UPDATETHREADS, 2));
    EXPECT_EQ(BASS_GetConfig(BASS_CONFIG_UPDATETHREADS), 2u);
    EXPECT_FALSE(BASS_SetConfig(999, 1));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLTYPE);
    EXPECT_EQ(BASS_GetConfig(999), ~uint32_t{0});
}

TEST_F(AudioLayer, error_codes_belong_to_the_calling_thread) {
    EXPECT_FALSE(BASS_Pause());
    std::thread other([] { BASS_GetVersion(); });
    other.join();
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
}

// ---- streams and their refusals ----

TEST_F(AudioLayer, reads_without_a_stream_return_error_values_and_leave_the_buffer_alone) {
    ASSERT_TRUE(BASS_Init(0, rate, 0, nullptr, nullptr));
    for (uint32_t handle : {0u, 12345u}) {
        EXPECT_EQ(BASS_ChannelGetPosition(handle, BASS_POS_BYTE), no_bytes);
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
        EXPECT_LT(BASS_ChannelBytes2Seconds(handle, no_bytes), 0.0);
        EXPECT_EQ(BASS_ChannelGetLength(handle, BASS_POS_BYTE), no_bytes);
        std::vector<float> bins(4096, 7.0f);
        EXPECT_EQ(BASS_ChannelGetData(handle, bins.data(), fft8192), no_data);
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
        EXPECT_TRUE(std::all_of(bins.begin(), bins.end(), [](float v) { return v == 7.0f; }));
        EXPECT_FALSE(BASS_ChannelUpdate(handle, 0));
        EXPECT_FALSE(BASS_ChannelPlay(handle, true));
        EXPECT_FALSE(BASS_ChannelSetPosition(handle, 0, BASS_POS_BYTE));
        EXPECT_FALSE(BASS_StreamFree(handle));
    }
}

TEST_F(AudioLayer, files_that_are_not_music_are_refused_with_their_codes) {
    ASSERT_TRUE(BASS_Init(0, rate, 0, nullptr, nullptr));
    std::string wav = wav_bytes(rate, 2, sine_samples(rate, 2, 1000, 440));
    std::string random(100000, '\0');
    uint32_t seed = 12345;
    for (char& c : random) c = static_cast<char>((seed = seed * 1103515245 + 12345) >> 16);
    struct {
        const char* what;
        std::string bytes;
    } cases[] = {{"random bytes", random},
                 {"text", "This is a text file, not music.\nSecond line.\n"},
                 {"wav cut inside its header", wav.substr(0, 30)}};
    for (const auto& c : cases) {
        EXPECT_EQ(stream_from(c.bytes), 0u) << c.what;
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEFORM) << c.what;
    }
    EXPECT_EQ(BASS_StreamCreateFile(true, wav.data(), 0, 0, 0), 0u) << "memory without a length";
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
    EXPECT_EQ(BASS_StreamCreateFile(true, nullptr, 0, 100, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
    EXPECT_EQ(BASS_StreamCreateFile(false, "/nonexistent/music.mp3", 0, 0, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEOPEN);
}

TEST_F(AudioLayer, streams_from_a_path_and_from_memory_agree) {
    ASSERT_TRUE(BASS_Init(0, rate, 0, nullptr, nullptr));
    cTempDir dir;
    auto samples = sine_samples(rate, 2, 12345, 440);
    write_wav(dir / "a.wav", rate, 2, samples);
    uint32_t from_file = BASS_StreamCreateFile(false, (dir / "a.wav").c_str(), 0, 0, 0);
    ASSERT_NE(from_file, 0u);
    uint32_t from_memory = stream_from(wav_bytes(rate, 2, samples));
    ASSERT_NE(from_memory, 0u);
    EXPECT_NE(from_file, from_memory);
    EXPECT_EQ(BASS_ChannelGetLength(from_file, BASS_POS_BYTE), frames_to_bytes(12345));
    EXPECT_EQ(BASS_ChannelGetLength(from_memory, BASS_POS_BYTE), frames_to_bytes(12345));
    EXPECT_TRUE(BASS_StreamFree(from_file));
    EXPECT_EQ(BASS_ChannelGetLength(from_file, BASS_POS_BYTE), no_bytes) << "a freed handle stays dead";
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
}

TEST_F(AudioLayer, positions_and_lengths_count_bytes_of_the_streams_own_channels_and_rate) {
    ASSERT_TRUE(BASS_Init(0, rate, 0, nullptr, nullptr));
    uint32_t mono = stream_from(wav_bytes(22050, 1, sine_samples(22050, 1, 22050 * 3, 440)));
    ASSERT_NE(mono, 0u);
    EXPECT_EQ(BASS_ChannelGetLength(mono, BASS_POS_BYTE), 22050u * 3 * 2);
    EXPECT_DOUBLE_EQ(BASS_ChannelBytes2Seconds(mono, 22050 * 2), 1.0);
    EXPECT_EQ(BASS_ChannelSeconds2Bytes(mono, 1.5), 22050u * 3);
    EXPECT_EQ(BASS_ChannelSeconds2Bytes(mono, -1.0), no_bytes);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
    // Positions are whole frames: an odd byte count falls back to the frame it is in.
    EXPECT_TRUE(BASS_ChannelSetPosition(mono, 1001, BASS_POS_BYTE));
    EXPECT_EQ(BASS_ChannelGetPosition(mono, BASS_POS_BYTE), 1000u);
    EXPECT_TRUE(BASS_ChannelSetPosition(mono, 22050u * 3 * 2, BASS_POS_BYTE)) << "the very end is a position";
    EXPECT_FALSE(BASS_ChannelSetPosition(mono, 22050u * 3 * 2 + 2, BASS_POS_BYTE));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_POSITION);
}

// ---- the "no sound" device ----

TEST_F(AudioLayer, no_sound_device_clock_moves_only_when_set) {
    ASSERT_TRUE(BASS_Init(0, rate, BASS_DEVICE_LATENCY, nullptr, nullptr));
    BASS_INFO info;
    ASSERT_TRUE(BASS_GetInfo(&info));
    EXPECT_EQ(info.latency, 0u);
    uint32_t stream = stream_from(wav_bytes(rate, 2, sine_samples(rate, 2, rate * 2, 440)));
    ASSERT_NE(stream, 0u);
    EXPECT_TRUE(BASS_ChannelUpdate(stream, 0));
    EXPECT_TRUE(BASS_ChannelPlay(stream, true));
    EXPECT_TRUE(BASS_Start());
    sleep_ms(100);
    EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), 0u);
    ASSERT_TRUE(BASS_ChannelSetPosition(stream, frames_to_bytes(30000), BASS_POS_BYTE));
    EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), frames_to_bytes(30000));
    sleep_ms(100);
    EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), frames_to_bytes(30000));
    ASSERT_TRUE(BASS_ChannelSetPosition(stream, frames_to_bytes(100), BASS_POS_BYTE));
    EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), frames_to_bytes(100)) << "setting may go back";
    ASSERT_TRUE(BASS_ChannelPlay(stream, true));
    EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), 0u) << "a restart goes back to 0";
}

// ---- spectrum ----

TEST_F(AudioLayer, full_scale_sine_on_a_bin_centre_reads_one_in_that_bin) {
    ASSERT_TRUE(BASS_Init(0, rate, 0, nullptr, nullptr));
    uint32_t stream = stream_from(wav_bytes(rate, 2, sine_samples(rate, 2, rate * 2, bin_frequency(100))));
    ASSERT_NE(stream, 0u);
    std::vector<float> bins(4097, -1.0f);
    ASSERT_EQ(BASS_ChannelGetData(stream, bins.data(), fft8192), 8192u * 4);
    EXPECT_TRUE(std::all_of(bins.begin(), bins.begin() + 4096, [](float v) { return v == 0.0f; }))
        << "at position 0 nothing has been heard yet";
    EXPECT_EQ(bins[4096], -1.0f) << "wrote beyond 4096 values";

    ASSERT_TRUE(BASS_ChannelSetPosition(stream, frames_to_bytes(rate), BASS_POS_BYTE));
    ASSERT_NE(BASS_ChannelGetData(stream, bins.data(), fft8192), no_data);
    EXPECT_NEAR(bins[100], 1.0f, 0.01f);
    EXPECT_EQ(std::max_element(bins.begin(), bins.begin() + 4096) - bins.begin(), 100);
    EXPECT_LT(*std::max_element(bins.begin() + 102, bins.begin() + 4096), 0.01f) << "energy outside the sine's bin";

    // With the default window the peak keeps its height.
    ASSERT_NE(BASS_ChannelGetData(stream, bins.data(), BASS_DATA_FFT8192), no_data);
    EXPECT_NEAR(bins[100], 1.0f, 0.01f);
    // Other sizes scale the same way: bin 25 of 2048 points is the same frequency.
    ASSERT_EQ(BASS_ChannelGetData(stream, bins.data(), BASS_DATA_FFT2048 | BASS_DATA_FFT_NOWINDOW), 2048u * 4);
    EXPECT_NEAR(bins[25], 1.0f, 0.01f);
}

TEST_F(AudioLayer, spectrum_mixes_channels_to_mono_and_refuses_what_it_cannot_deliver) {
    ASSERT_TRUE(BASS_Init(0, rate, 0, nullptr, nullptr));
    // Left carries the sine, right is silent: mono holds it at half height.
    auto samples = sine_samples(rate, 2, rate, bin_frequency(200));
    for (size_t i = 1; i < samples.size(); i += 2) samples[i] = 0;
    uint32_t stream = stream_from(wav_bytes(rate, 2, samples));
    ASSERT_NE(stream, 0u);
    ASSERT_TRUE(BASS_ChannelSetPosition(stream, frames_to_bytes(rate / 2), BASS_POS_BYTE));
    std::vector<float> bins(4096);
    ASSERT_NE(BASS_ChannelGetData(stream, bins.data(), fft8192), no_data);
    EXPECT_NEAR(bins[200], 0.5f, 0.01f);
    EXPECT_EQ(BASS_ChannelGetData(stream, bins.data(), 4096), no_data) << "sample data is not offered";
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOTAVAIL);
    EXPECT_EQ(BASS_ChannelGetData(stream, bins.data(), fft8192 | BASS_DATA_FFT_INDIVIDUAL), no_data);
    EXPECT_EQ(BASS_ChannelGetData(stream, nullptr, fft8192), no_data);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
}

// ---- the real output ----

TEST_F(AudioLayer, output_position_is_zero_before_start_still_while_paused_and_never_decreasing) {
    ASSERT_TRUE(BASS_Init(1, rate, BASS_DEVICE_LATENCY, nullptr, nullptr)) << "code " << BASS_ErrorGetCode();
    BASS_INFO info;
    ASSERT_TRUE(BASS_GetInfo(&info));
    EXPECT_GT(info.latency, 0u);
    BASS_SetConfig(BASS_CONFIG_UPDATEPERIOD, 15);
    BASS_SetConfig(BASS_CONFIG_UPDATETHREADS, 2);
    uint32_t stream = stream_from(wav_bytes(rate, 2, sine_samples(rate, 2, rate * 20, 440)));
    ASSERT_NE(stream, 0u);
    // The order the sound module uses: fill, play from the start, pause the output.
    ASSERT_TRUE(BASS_ChannelUpdate(stream, 0));
    ASSERT_TRUE(BASS_ChannelPlay(stream, true));
    ASSERT_TRUE(BASS_Pause());
    sleep_ms(200);
    EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), 0u) << "moved before the output started";
    EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_ACTIVE_PAUSED);

    ASSERT_TRUE(BASS_Start());
    uint64_t last = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (last == 0 && std::chrono::steady_clock::now() < deadline) {
        uint64_t now = BASS_ChannelGetPosition(stream, BASS_POS_BYTE);
        ASSERT_GE(now, last);
        last = now;
    }
    ASSERT_GT(last, 0u) << "the position never moved after the start";
    EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_ACTIVE_PLAYING);
    for (int i = 0; i < 300; ++i) {
        uint64_t now = BASS_ChannelGetPosition(stream, BASS_POS_BYTE);
        ASSERT_GE(now, last) << "stepped back at reading " << i;
        ASSERT_EQ(now % 4, 0u) << "not on a frame boundary";
        last = now;
        sleep_ms(1);
    }

    ASSERT_TRUE(BASS_Pause());
    const uint64_t frozen = BASS_ChannelGetPosition(stream, BASS_POS_BYTE);
    EXPECT_GE(frozen, last);
    sleep_ms(150);
    EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), frozen) << "moved while paused";

    // Resuming plays on from where it stood: it cannot have got further than the time since.
    auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(BASS_Start());
    const uint64_t resumed = BASS_ChannelGetPosition(stream, BASS_POS_BYTE);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_GE(resumed, frozen);
    EXPECT_LE(static_cast<double>(resumed - frozen), frames_to_bytes(1) * (elapsed * rate + 1));
}

TEST_F(AudioLayer, a_short_stream_plays_to_its_end_and_stops_there) {
    ASSERT_TRUE(BASS_Init(1, rate, 0, nullptr, nullptr));
    uint32_t stream = stream_from(wav_bytes(rate, 2, sine_samples(rate, 2, rate / 10, 440)));
    ASSERT_NE(stream, 0u);
    ASSERT_TRUE(BASS_ChannelPlay(stream, true));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (BASS_ChannelIsActive(stream) == BASS_ACTIVE_PLAYING && std::chrono::steady_clock::now() < deadline) {
        sleep_ms(5);
    }
    EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_ACTIVE_STOPPED);
    EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), frames_to_bytes(rate / 10));
}

TEST_F(AudioLayer, the_device_can_be_freed_and_opened_again) {
    ASSERT_TRUE(BASS_Init(1, rate, 0, nullptr, nullptr));
    uint32_t stream = stream_from(wav_bytes(rate, 2, sine_samples(rate, 2, rate, 440)));
    ASSERT_TRUE(BASS_ChannelPlay(stream, true));
    ASSERT_TRUE(BASS_Free());
    EXPECT_FALSE(BASS_ChannelPlay(stream, true)) << "streams die with the device";
    ASSERT_TRUE(BASS_Init(0, rate, 0, nullptr, nullptr));
    ASSERT_TRUE(BASS_Free());
    ASSERT_TRUE(BASS_Init(1, 48000, 0, nullptr, nullptr));
}
