// The energy of a range of spectrum bins, as modules see it through spectrum_energy.
// Pure arithmetic over a caller's buffer of kSpectrumBins magnitudes; no audio access.
#pragma once
#include <cstdint>

// sqrt of the sum over bins first..last (both included) of min(max(bin - floor, 0), 1)^2,
// summed in single precision. A bin at or below floor, or NaN, adds nothing. The range is
// clamped to the buffer (0 .. kSpectrumBins - 1); an empty range gives 0 and reads nothing.
float spectrum_energy_of(const float* bins, int32_t first_bin, int32_t last_bin, float floor);
