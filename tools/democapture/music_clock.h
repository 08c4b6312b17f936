// Setting the show's clock for a frame: the "no sound" device's position moves only when set,
// and the modules read it back in whole milliseconds. Lands the position on a sample that
// reads back as the frame's time rounded down, whatever the stream's sample rate.
#pragma once
#include <cstdint>

class cSoundModule_bass;

// Moves the music to time_ms and returns the whole milliseconds the show now reads.
int32_t set_music_time(cSoundModule_bass& sound, double time_ms);
