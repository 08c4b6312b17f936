// cModuleInput: what the host hands every render module: its graphics context, its sync
// device, and the music time and spectrum from its sound module. Holds three non-owning
// pointers set once at construction; owns nothing and never changes them. The time modules
// see can be shifted against the music (the A/V offset) and, for one development-mode frame
// at a time, held at a chosen value.
#pragma once
#include <array>
#include <cstdint>

#include "host/modules/module_config.h"
// The contract's header of the same name: angle brackets skip this file's own folder.
#include <module_input.h>

class igfxContext;
class cSyncDevice;
class cSoundModule_bass;

class cModuleInput final : public iModuleInput {
public:
    cModuleInput(igfxContext* gfx, cSyncDevice* sync, cSoundModule_bass* sound);

    igfxContext* gfx() override;
    iSync* sync() override;
    // Music position in whole milliseconds (negative without a music stream), minus the A/V
    // offset and then kept within the show (0 to its end) when there is an offset; the held
    // time instead while one is held.
    int32_t time_ms() override;
    // time_ms() in seconds, so it moves in whole-millisecond steps.
    float time_seconds() override;
    // Energy of the current spectrum over bins first_bin..last_bin (spectrum_energy.h).
    float spectrum_energy(int32_t first_bin, int32_t last_bin, float floor) override;

    // How much later than the sound the picture is drawn: modules see the music position minus
    // this many milliseconds. 0 (the default) is the plain music position.
    void set_av_offset_ms(int32_t offset_ms) { av_offset_ms_ = offset_ms; }
    int32_t av_offset_ms() const { return av_offset_ms_; }
    // Until release_time, time_ms reads time_ms_held whatever the music does (a frame drawn at
    // a chosen time, such as the one before a seek).
    void hold_time(int32_t time_ms_held) {
        held_ = true;
        held_time_ms_ = time_ms_held;
    }
    void release_time() { held_ = false; }

private:
    igfxContext* gfx_;
    cSyncDevice* sync_;
    cSoundModule_bass* sound_;
    std::array<float, kSpectrumBins> spectrum_{};  // reused every call: no per-call allocation
    int32_t av_offset_ms_ = 0;
    bool held_ = false;
    int32_t held_time_ms_ = 0;
};
