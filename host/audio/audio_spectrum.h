// The spectrum of what a stream is playing: an FFT through FFTW over the most recent frames
// (channels mixed to mono), as float magnitudes. Plans are made once per size and kept; the
// samples are only read.
#pragma once
#include <cstdint>

#include "host/audio/pcm.h"

// The number of floats a BASS_DATA_FFT* request fills, or 0 when flags is not a usable FFT
// request (not an FFT, or per-channel or complex results, which are not available).
uint32_t spectrum_values(uint32_t flags);

// Writes spectrum_values(flags) magnitudes of an FFT of size 256 << (flags & 7) over the frames
// [end_frame - size, end_frame) of pcm; frames outside the stream count as silence. Scaled so
// that a full-scale sine on a bin centre reads about 1.0; Hann window unless
// BASS_DATA_FFT_NOWINDOW. The caller has checked flags with spectrum_values.
void spectrum_magnitudes(const cPcm& pcm, int64_t end_frame, uint32_t flags, float* out);
