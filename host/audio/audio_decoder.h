// Decodes a whole music file held in memory (MP3, OGG/Vorbis, Opus, FLAC, WAV, AIFF, ...) into
// 16-bit PCM through libsndfile's virtual I/O. Reads only the caller's bytes, never a path;
// keeps no reference to them after returning; prints nothing (errors are codes).
#pragma once
#include <cstddef>
#include <cstdint>

#include "host/audio/pcm.h"

// Fills out and returns BASS_OK, or returns an error code (BASS_ERROR_FILEFORM for data that
// is not a recognised sound file, BASS_ERROR_FORMAT for an unusable channel count or rate,
// BASS_ERROR_MEM when the samples do not fit in memory). Samples beyond full scale are clipped.
int32_t decode_audio(const uint8_t* bytes, size_t size, cPcm& out);
