// The audio layer's error state: every call leaves its outcome as a numeric code for the
// calling thread, read back with BASS_ErrorGetCode. Nothing here prints or throws.
#pragma once
#include <cstdint>

namespace audio_errors {

void set(int32_t code);
int32_t last();

// Records code and returns the call's failure value, so that a failing path reads
// "return audio_errors::fail(BASS_ERROR_HANDLE, false);".
template <typename T>
T fail(int32_t code, T value) {
    set(code);
    return value;
}

}  // namespace audio_errors
