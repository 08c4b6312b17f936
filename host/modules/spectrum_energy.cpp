// Spectrum energy arithmetic. Clamps the bin range so that a caller's bad range can never
// read outside the buffer.
#include "host/modules/spectrum_energy.h"

#include <algorithm>
#include <cmath>

#include "host/modules/module_config.h"

float spectrum_energy_of(const float* bins, int32_t first_bin, int32_t last_bin, float floor) {
    int32_t first = std::max(first_bin, int32_t{0});
    int32_t last = std::min(last_bin, kSpectrumBins - 1);
    float sum = 0.0f;
    for (int32_t i = first; i <= last; ++i) {
        float v = bins[i] - floor;
        // "not above 0" also catches NaN, so a broken bin adds nothing
        if (!(v > 0.0f)) {
            v = 0.0f;
        } else if (v > 1.0f) {
            v = 1.0f;
        }
        sum += v * v;
    }
    return static_cast<float>(std::sqrt(static_cast<double>(sum)));
}
