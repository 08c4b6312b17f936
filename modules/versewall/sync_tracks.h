// Reading the scene's sync tracks: the value of a named track at the music position of the
// moment of the read. Depends on the contract's iModuleInput and iSync only; never caches a
// time or a value, since every read must see the position at that moment.
#pragma once
#include <cstdint>

#include "module_input.h"
#include "sync.h"

namespace versewall {

inline float track(iModuleInput* input, const char* name) {
    const int64_t now = input->time_ms();
    return input->sync()->get_value(name, now);
}

}  // namespace versewall
