// Spectrum energy over a range of bins: the floor, the cap of 1 per bin, NaN bins and
// ranges that reach outside the spectrum.
#include "host/modules/spectrum_energy.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "host/modules/module_config.h"

namespace {

// Heap-allocated, exactly kSpectrumBins long, so the address sanitizer sees any overread.
std::vector<float> bins_of(float magnitude) { return std::vector<float>(kSpectrumBins, magnitude); }

}  // namespace

TEST(SpectrumEnergy, an_empty_range_is_zero_and_reads_nothing) {
    EXPECT_EQ(spectrum_energy_of(nullptr, 10, 9, 0.0f), 0.0f);
    EXPECT_EQ(spectrum_energy_of(nullptr, 4096, 5000, 0.0f), 0.0f);
    EXPECT_EQ(spectrum_energy_of(nullptr, -20, -1, 0.0f), 0.0f);
}

TEST(SpectrumEnergy, each_bin_above_the_floor_adds_at_most_one) {
    std::vector<float> loud = bins_of(5.0f);
    EXPECT_FLOAT_EQ(spectrum_energy_of(loud.data(), 100, 199, 0.0f), 10.0f);
    EXPECT_FLOAT_EQ(spectrum_energy_of(loud.data(), 7, 7, 0.0f), 1.0f);

    std::vector<float> quiet = bins_of(0.5f);
    // four bins of 0.25 above the floor: sqrt(4 * 0.0625)
    EXPECT_FLOAT_EQ(spectrum_energy_of(quiet.data(), 0, 3, 0.25f), 0.5f);
}

TEST(SpectrumEnergy, bins_at_or_below_the_floor_and_nan_bins_add_nothing) {
    std::vector<float> bins = bins_of(0.3f);
    EXPECT_EQ(spectrum_energy_of(bins.data(), 0, 99, 0.3f), 0.0f);
    EXPECT_EQ(spectrum_energy_of(bins.data(), 0, 99, 0.9f), 0.0f);
    bins[10] = std::nanf("");
    bins[11] = 1.3f;
    EXPECT_FLOAT_EQ(spectrum_energy_of(bins.data(), 10, 11, 0.3f), 1.0f);
    EXPECT_EQ(spectrum_energy_of(bins.data(), 10, 10, 0.0f), 0.0f);
}

TEST(SpectrumEnergy, ranges_reaching_outside_the_spectrum_are_clamped) {
    std::vector<float> bins = bins_of(2.0f);
    EXPECT_FLOAT_EQ(spectrum_energy_of(bins.data(), -10, 5000, 0.0f), 64.0f);  // sqrt(4096)
    EXPECT_FLOAT_EQ(spectrum_energy_of(bins.data(), 4092, 9999, 0.0f), 2.0f);
    EXPECT_FLOAT_EQ(spectrum_energy_of(bins.data(), -3, 3, 0.0f), 2.0f);
}
