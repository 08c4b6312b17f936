// Fixed sizes and settings of render targets and the temporary pool, in one place: the size key
// shared by the depth-buffer cache and the pool, the depth format switches, the warm-up sizes.
// Constants and pure arithmetic only; must never call GL.
#pragma once
#include <cstdint>

namespace targets_config {

// One key per size: width * 2^30 + height in 64-bit arithmetic, unique for 0 <= height < 2^30.
constexpr int64_t size_key(int32_t width, int32_t height) {
    return static_cast<int64_t>(width) * (int64_t{1} << 30) + static_cast<int64_t>(height);
}

// The show runs with 16-bit depth and without packed depth-stencil.
constexpr bool packed_depth_stencil = false;
constexpr bool depth_16_bit = true;

// What the warm-up leases at once: one frame of the shipped scene at most.
struct cWarmUpSize {
    int32_t divisor;  // of the render width and height
    int32_t count;
};
constexpr cWarmUpSize warm_up_sizes[] = {{1, 2}, {2, 3}, {4, 2}, {8, 2}};
constexpr int32_t warm_up_total = 9;

}  // namespace targets_config
