// The module input over the host's real sync device and real sound module, the latter on
// the "no sound" device, whose position moves only when set: music time in milliseconds
// and seconds, the spectrum of silence, and the host objects handed through.
#include "host/modules/module_input.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "host/sound/sound_module_bass.h"
#include "host/sync/sync_device.h"
#include "support/capture_stream.h"
#include "support/temp_dir.h"

namespace {

void put_le(std::string& bytes, uint32_t number, int size) {
    for (int i = 0; i < size; ++i) bytes += static_cast<char>((number >> (8 * i)) & 0xff);
}

// A 16-bit stereo PCM WAV file of silence.
std::string silent_wav(uint32_t rate, uint32_t seconds) {
    uint32_t data_bytes = rate * seconds * 4;
    std::string bytes = "RIFF";
    put_le(bytes, 36 + data_bytes, 4);
    bytes += "WAVEfmt ";
    put_le(bytes, 16, 4);
    put_le(bytes, 1, 2);         // PCM
    put_le(bytes, 2, 2);         // channels
    put_le(bytes, rate, 4);
    put_le(bytes, rate * 4, 4);  // bytes per second
    put_le(bytes, 4, 2);         // bytes per frame
    put_le(bytes, 16, 2);        // bits per sample
    bytes += "data";
    put_le(bytes, data_bytes, 4);
    bytes.append(data_bytes, '\0');
    return bytes;
}

// The audio device can be opened once per process, as in the host: every test shares one
// sound module with one music stream, kept until the process ends.
class ModuleInputMusic : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (sound_) return;
        static cTempDir music_dir;
        cCaptureStream out(STDOUT_FILENO), err(STDERR_FILENO);
        sound_ = new cSoundModule_bass();
        sound_->init_device(nullptr, 0);
        sound_->load(music_dir.write("music.wav", silent_wav(48000, 3)));
    }
    void SetUp() override {
        cCaptureStream err(STDERR_FILENO);
        sync_.open_store(dir_.path() + "/");
    }
    static inline cSoundModule_bass* sound_ = nullptr;
    cTempDir dir_;
    cSyncDevice sync_;
};

}  // namespace

TEST_F(ModuleInputMusic, hands_on_the_hosts_graphics_context_and_sync_device) {
    // The input only passes the graphics context on; this address is never dereferenced.
    igfxContext* gfx = reinterpret_cast<igfxContext*>(static_cast<uintptr_t>(0x1000));
    cModuleInput input(gfx, &sync_, sound_);
    iModuleInput& contract = input;
    EXPECT_EQ(contract.gfx(), gfx);
    EXPECT_EQ(contract.sync(), static_cast<iSync*>(&sync_));
}

TEST_F(ModuleInputMusic, time_follows_the_music_position_in_whole_milliseconds) {
    cModuleInput input(nullptr, &sync_, sound_);
    const struct {
        double position_ms;
        int32_t ms;
        float seconds;
    } cases[] = {{0, 0, 0.0f}, {999, 999, 0.999f}, {1234, 1234, 1.234f}, {1234.9, 1234, 1.234f}, {2500, 2500, 2.5f}};
    for (const auto& c : cases) {
        sound_->set_position_ms(c.position_ms);
        EXPECT_EQ(input.time_ms(), c.ms) << c.position_ms;
        EXPECT_EQ(input.time_seconds(), c.seconds) << c.position_ms;
    }
}

TEST_F(ModuleInputMusic, silence_has_no_spectrum_energy) {
    cModuleInput input(nullptr, &sync_, sound_);
    sound_->set_position_ms(1500);
    EXPECT_EQ(input.spectrum_energy(0, 4095, 0.0f), 0.0f);
    EXPECT_EQ(input.spectrum_energy(10, 9, 0.0f), 0.0f);
    EXPECT_EQ(input.spectrum_energy(-100, 99999, 0.0f), 0.0f);
}
