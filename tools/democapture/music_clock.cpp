// The capture's clock setter over cSoundModule_bass. Positions exist only at whole samples: a
// time rounded down to a sample can read one millisecond early (1001 ms is 44144.1 samples at
// 44.1 kHz; sample 44144 reads 1000.99 ms), one rounded up can read one late (16.99 ms is
// 749.3 samples; sample 750 reads 17.007 ms). Never moves the clock by more than a fraction of
// a millisecond from the asked time.
#include "tools/democapture/music_clock.h"

#include <cmath>

#include "host/sound/sound_module_bass.h"

namespace {

// Far below one sample at any real rate (8 kHz: 0.125 ms), far above rounding noise.
constexpr double nudge_ms = 0.002;
// Enough nudges to cross one sample at 8 kHz.
constexpr int max_nudges = 80;

}  // namespace

int32_t set_music_time(cSoundModule_bass& sound, double time_ms) {
    const auto wanted = static_cast<int32_t>(std::floor(time_ms));
    sound.set_position_ms(time_ms);
    int32_t now = sound.position_ms();
    // Step towards the nearest sample that reads the wanted millisecond: forward when the
    // position landed just before it, backward when it landed on the next one. The asked time
    // itself never leaves that millisecond.
    const double direction = now < wanted ? 1.0 : -1.0;
    for (int i = 1; now != wanted && i <= max_nudges; ++i) {
        const double nudged = time_ms + direction * i * nudge_ms;
        if (std::floor(nudged) != wanted) break;
        sound.set_position_ms(nudged);
        now = sound.position_ms();
    }
    if (now != wanted) {
        // The stream cannot show this time (past its end, or no stream): keep the plain setting.
        sound.set_position_ms(time_ms);
        now = sound.position_ms();
    }
    return now;
}
