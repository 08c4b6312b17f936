// Fixed values of the texture manager: the stand-in that development mode draws for an image it
// cannot use, and how a reloaded image goes to GL. Constants only; no code.
#pragma once
#include <cstdint>

namespace textures_config {

// The stand-in: a magenta and black checker, loud enough to be seen anywhere in the picture.
// 1D and 2D stand-ins (and rectangles of unknown size) are this many texels a side; a
// rectangle whose image claims a size takes that size (its texel coordinates count on it), up
// to the largest side below.
inline constexpr int32_t kStandInSide = 64;
inline constexpr int32_t kStandInMaxSide = 4096;
inline constexpr int32_t kStandInCells = 8;  // checker squares along the longer side
// Blue, green, red, alpha: the order the upload hands them to GL.
inline constexpr uint8_t kStandInLight[4] = {255, 0, 255, 255};
inline constexpr uint8_t kStandInDark[4] = {0, 0, 0, 255};

// A reloaded image of at most this many bytes goes to GL in one call, into its texture
// itself; a larger one goes in bands of rows of about the second figure, one or more bands per
// frame, into a new texture that takes the old one's place once whole.
inline constexpr int64_t kAtOnceUploadBytes = 4 << 20;
inline constexpr int64_t kUploadBandBytes = 1 << 20;
// The texture a banded upload replaced is kept, up to this size, for the next reload of the
// file at the same size and format: making the storage of a large texture is the one step that
// cannot be cut into bands (the implementation may clear it), and a file is mostly saved again
// at the size it has.
inline constexpr int64_t kMaxSpareBytes = int64_t(256) << 20;

// The niceness of the thread that decodes reloaded images (0 is the show's own, 19 the least).
inline constexpr int kDecoderNiceness = 10;

}  // namespace textures_config
