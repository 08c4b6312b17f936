// Decoding of the formats the show may ship its music in, from files made at test time with
// sox and lame: exact lengths, the right sound (a sine's frequency and height through the
// spectrum), other rates and channel counts, and clipping instead of wrap-around.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/audio/audio_api.h"
#include "host/audio/audio_decoder.h"
#include "support/audio_test_media.h"
#include "support/temp_dir.h"

namespace {

constexpr uint32_t rate = 44100;
constexpr int sine_bin = 186;  // 186 * 44100 / 8192 = 1001.3 Hz
constexpr uint32_t fft8192 = 0xC0000025;

std::string slurp_bytes(const std::string& path) { return slurp(path); }

class AudioDecoding : public ::testing::Test {
protected:
    void SetUp() override {
        BASS_Free();
        ASSERT_TRUE(BASS_Init(0, rate, 0, nullptr, nullptr));
        write_wav(dir / "sine.wav", rate, 2, sine_samples(rate, 2, rate * 2, sine_bin * rate / 8192.0, 0.5));
    }
    void TearDown() override { BASS_Free(); }
    cTempDir dir;
};

}  // namespace

TEST_F(AudioDecoding, every_format_decodes_to_the_same_sine_with_its_length) {
    struct {
        const char* file;
        uint64_t frame_tolerance;  // lossy coders may pad; their tools here write exact lengths
    } formats[] = {{"sine.wav", 0}, {"sine.flac", 0}, {"sine.ogg", 1152}, {"sine.mp3", 1152}};
    for (const auto& format : formats) {
        SCOPED_TRACE(format.file);
        const std::string path = dir / format.file;
        if (std::string(format.file) != "sine.wav") {
            ASSERT_TRUE(encode_media(dir / "sine.wav", path));
        }
        const std::string bytes = slurp_bytes(path);
        const uint32_t stream = BASS_StreamCreateFile(true, bytes.data(), 0, bytes.size(), BASS_STREAM_PRESCAN);
        ASSERT_NE(stream, 0u) << "code " << BASS_ErrorGetCode();
        const uint64_t length = BASS_ChannelGetLength(stream, BASS_POS_BYTE);
        const uint64_t expected = uint64_t{rate} * 2 * 4;
        EXPECT_LE(std::max(length, expected) - std::min(length, expected), format.frame_tolerance * 4);
        EXPECT_EQ(length % 4, 0u);

        ASSERT_TRUE(BASS_ChannelSetPosition(stream, uint64_t{rate} * 4, BASS_POS_BYTE));
        std::vector<float> bins(4096);
        ASSERT_NE(BASS_ChannelGetData(stream, bins.data(), fft8192), ~uint32_t{0});
        EXPECT_EQ(std::max_element(bins.begin(), bins.end()) - bins.begin(), sine_bin);
        EXPECT_NEAR(bins[sine_bin], 0.5f, 0.03f);
        BASS_StreamFree(stream);
    }
}

TEST_F(AudioDecoding, mono_at_another_rate_keeps_its_own_rate_and_channels) {
    write_wav(dir / "mono.wav", 22050, 1, sine_samples(22050, 1, 22050 * 3 / 2, 440));
    ASSERT_TRUE(encode_media(dir / "mono.wav", dir / "mono.ogg"));
    const std::string bytes = slurp_bytes(dir / "mono.ogg");
    cPcm pcm;
    ASSERT_EQ(decode_audio(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), pcm), BASS_OK);
    EXPECT_EQ(pcm.rate, 22050u);
    EXPECT_EQ(pcm.channels, 1u);
    EXPECT_EQ(pcm.frames(), 22050u * 3 / 2);
    EXPECT_EQ(pcm.samples.capacity(), pcm.samples.size()) << "decoded samples hold spare memory";
}

TEST_F(AudioDecoding, peaks_beyond_full_scale_are_clipped_not_wrapped) {
    // A full-scale square wave comes back from MP3 with overshoots of more than 15%.
    std::vector<int16_t> square(rate * 2);
    for (size_t i = 0; i < square.size(); ++i) square[i] = (i / 2) % 100 < 50 ? 32767 : -32767;
    write_wav(dir / "square.wav", rate, 2, square);
    ASSERT_TRUE(encode_media(dir / "square.wav", dir / "square.mp3"));
    const std::string bytes = slurp_bytes(dir / "square.mp3");
    cPcm pcm;
    ASSERT_EQ(decode_audio(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), pcm), BASS_OK);
    const auto channels = pcm.channels;
    int wraps = 0;
    for (size_t i = channels; i < pcm.samples.size(); ++i) {
        // The coder's low-pass spreads each edge over several samples; only a wrap jumps the range.
        if (std::abs(pcm.samples[i] - pcm.samples[i - channels]) > 55000) ++wraps;
    }
    EXPECT_EQ(wraps, 0);
}

TEST_F(AudioDecoding, announced_lengths_that_the_data_does_not_hold_are_not_trusted) {
    // A WAV header that claims ten times the data it carries.
    std::string wav = wav_bytes(rate, 2, sine_samples(rate, 2, 1000, 440));
    const uint32_t claimed = 40000;
    for (int i = 0; i < 4; ++i) wav[40 + i] = static_cast<char>((claimed >> (8 * i)) & 0xff);
    cPcm pcm;
    ASSERT_EQ(decode_audio(reinterpret_cast<const uint8_t*>(wav.data()), wav.size(), pcm), BASS_OK);
    EXPECT_EQ(pcm.frames(), 1000u);
}
