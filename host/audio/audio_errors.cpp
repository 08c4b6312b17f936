// Per-thread error code of the audio layer: a call on one thread never overwrites the code
// another thread is about to read.
#include "host/audio/audio_errors.h"

#include "host/audio/audio_api.h"

namespace {
thread_local int32_t last_error = BASS_OK;
}

namespace audio_errors {

void set(int32_t code) { last_error = code; }

int32_t last() { return last_error; }

}  // namespace audio_errors

int32_t BASS_ErrorGetCode() { return audio_errors::last(); }
