// What modules see of the music through the host's cModuleInput over the real sound module on
// the "no sound" device: the time in whole milliseconds and in seconds, and the spectrum energy
// of what is playing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/audio_test_media.h"
#include "host/audio/audio_api.h"
#include "host/modules/module_input.h"
#include "host/sound/sound_module_bass.h"
#include "support/capture_stream.h"
#include "support/temp_dir.h"

namespace {

constexpr uint32_t rate = 44100;

// Three seconds: a full-scale sine on bin 100 for the first two, silence in the third.
class ModuleInputClock : public ::testing::Test {
protected:
    void SetUp() override {
        BASS_Free();
        auto samples = sine_samples(rate, 2, rate * 3, 100.0 * rate / 8192);
        std::fill(samples.begin() + rate * 2 * 2, samples.end(), 0);
        write_wav(dir / "music.wav", rate, 2, samples);
        cCaptureStream quiet_out(STDOUT_FILENO);
        cCaptureStream quiet_err(STDERR_FILENO);
        sound.init_device(nullptr, 0);
        sound.load(dir / "music.wav");
        sound.start();
    }
    void TearDown() override { BASS_Free(); }

    cTempDir dir;
    cSoundModule_bass sound;
    cModuleInput input{nullptr, nullptr, &sound};
};

}  // namespace

TEST_F(ModuleInputClock, time_is_the_music_position_in_milliseconds_and_seconds) {
    EXPECT_EQ(input.time_ms(), 0);
    EXPECT_EQ(input.time_seconds(), 0.0f);
    sound.set_position_ms(1234);
    EXPECT_EQ(input.time_ms(), 1234);
    EXPECT_EQ(input.time_seconds(), 1.234f);
    sound.set_position_ms(999);
    EXPECT_EQ(input.time_ms(), 999);
    EXPECT_EQ(input.time_seconds(), 0.999f);
    usleep(50 * 1000);
    EXPECT_EQ(input.time_ms(), 999) << "without sound the clock moves only when set";
}

TEST_F(ModuleInputClock, spectrum_energy_measures_what_is_playing_now) {
    sound.set_position_ms(1000);
    // The sine's bin holds about 1.0, its neighbours nearly nothing.
    EXPECT_NEAR(input.spectrum_energy(95, 105, 0.0f), 1.0f, 0.02f);
    EXPECT_NEAR(input.spectrum_energy(100, 100, 0.5f), 0.5f, 0.02f) << "only what lies above the floor counts";
    EXPECT_LT(input.spectrum_energy(200, 4095, 0.0f), 0.05f);
    EXPECT_EQ(input.spectrum_energy(10, 9, 0.0f), 0.0f);
    sound.set_position_ms(2900);  // the last 8192 frames are silent
    EXPECT_EQ(input.spectrum_energy(0, 4095, 0.0f), 0.0f);
}

TEST(ModuleInputClockWithoutMusic, time_is_negative_and_the_spectrum_silent) {
    BASS_Free();
    cTempDir dir;
    cSoundModule_bass sound;
    {
        cCaptureStream quiet_out(STDOUT_FILENO);
        cCaptureStream quiet_err(STDERR_FILENO);
        sound.init_device(nullptr, 0);
        sound.load(dir / "missing.mp3");
    }
    cModuleInput input(nullptr, nullptr, &sound);
    EXPECT_LT(input.time_ms(), 0);
    EXPECT_LT(input.time_seconds(), 0.0f);
    EXPECT_EQ(input.spectrum_energy(0, 4095, 0.0f), 0.0f);
    BASS_Free();
}
