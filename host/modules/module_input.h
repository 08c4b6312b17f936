// cModuleInput: what the host hands every render module: its graphics context, its sync
// device, and the music time and spectrum from its sound module. Holds three non-owning
// pointers set once at construction; owns nothing and never changes them.
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
    // Music position in whole milliseconds (negative without a music stream).
    int32_t time_ms() override;
    // time_ms() in seconds, so it moves in whole-millisecond steps.
    float time_seconds() override;
    // Energy of the current spectrum over bins first_bin..last_bin (spectrum_energy.h).
    float spectrum_energy(int32_t first_bin, int32_t last_bin, float floor) override;

private:
    igfxContext* gfx_;
    cSyncDevice* sync_;
    cSoundModule_bass* sound_;
    std::array<float, kSpectrumBins> spectrum_{};  // reused every call: no per-call allocation
};
