// The host's module input over graphics context, sync device and sound module.
// Without a sound module (never the case in the show) time stands at 0 and the spectrum is silent.
#include "host/modules/module_input.h"

#include <algorithm>

#include "host/show/host_constants.h"
#include "host/modules/spectrum_energy.h"
#include "host/sound/sound_module_bass.h"
#include "host/sync/sync_device.h"

cModuleInput::cModuleInput(igfxContext* gfx, cSyncDevice* sync, cSoundModule_bass* sound)
    : gfx_(gfx), sync_(sync), sound_(sound) {}

igfxContext* cModuleInput::gfx() { return gfx_; }

iSync* cModuleInput::sync() { return sync_; }

int32_t cModuleInput::time_ms() {
    if (held_) return held_time_ms_;
    const int32_t music_ms = sound_ ? sound_->position_ms() : 0;
    // A negative music position is the audio layer's error value: it is passed on as it is.
    if (av_offset_ms_ == 0 || music_ms < 0) return music_ms;
    // The offset moves the picture against the sound, never out of the show: while the music
    // plays where the picture has no frame yet or none left, the picture waits at the start
    // or stays at the end.
    return std::clamp(music_ms - av_offset_ms_, 0, host_constants::show_end_ms);
}

float cModuleInput::time_seconds() { return static_cast<float>(time_ms()) / 1000.0f; }

float cModuleInput::spectrum_energy(int32_t first_bin, int32_t last_bin, float floor) {
    // An audio layer that delivers nothing leaves silence behind, not last call's bins.
    spectrum_.fill(0.0f);
    if (sound_) sound_->spectrum(spectrum_.data());
    return spectrum_energy_of(spectrum_.data(), first_bin, last_bin, floor);
}
