// iModuleInput: what a render module gets on every call: the graphics context, the sync
// device, the music time and the spectrum. Slot order is plug-in ABI; no virtual destructor.
#pragma once
#include <cstdint>

class igfxContext;
class iSync;

class iModuleInput {
public:
    virtual igfxContext* gfx() = 0;                                                  // slot 0
    virtual iSync* sync() = 0;                                                       // slot 1
    virtual int32_t time_ms() = 0;                                                   // slot 2
    virtual float time_seconds() = 0;                                                // slot 3
    virtual float spectrum_energy(int32_t first_bin, int32_t last_bin, float floor) = 0;  // slot 4

protected:
    ~iModuleInput() = default;
};
