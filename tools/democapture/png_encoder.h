// A PNG encoder for the capture's frames: 8-bit RGB from BGR rows, one row filter for the whole
// picture, the filtered rows deflated by ISA-L's igzip into one zlib stream (one IDAT chunk),
// a band of rows at a time. Plain memory in, PNG bytes out: no files, no GL, no threads.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// The PNG row filters (their numbers are the file's filter-type bytes).
enum class ePngFilter : uint8_t { none = 0, sub = 1, up = 2, average = 3, paeth = 4 };

// Row y of a BGR picture (rows top first) as a PNG stores it: the filter byte, then the RGB
// bytes filtered against row y - 1 (zeros above the first row). out holds width * 3 + 1 bytes.
void filter_png_row(const uint8_t* pixels, int32_t width, int32_t y, ePngFilter filter, uint8_t* out);

// The bytes of a PNG file of width x height (8-bit RGB) before its zlib stream: the signature,
// the IHDR chunk and the IDAT chunk's length (to be set) and type.
constexpr size_t png_head_bytes = 8 + 25 + 8;
void put_png_head(uint8_t* at, int32_t width, int32_t height);
// After the zlib stream of zlib_bytes that follows the head at png: the IDAT chunk's length
// and CRC, then the IEND chunk. Returns the file's size; png must hold it.
constexpr size_t png_tail_bytes = 4 + 12;
size_t put_png_tail(uint8_t* png, size_t zlib_bytes);

class cPngEncoder {
public:
    // level: igzip's compression level, 0 (fastest) to 3.
    cPngEncoder(int32_t width, int32_t height, ePngFilter filter, int level);
    ~cPngEncoder();
    cPngEncoder(const cPngEncoder&) = delete;
    cPngEncoder& operator=(const cPngEncoder&) = delete;

    // pixels: height rows of width BGR triples, top row first; png gets the whole file. False
    // only when memory runs out.
    bool encode(const uint8_t* pixels, std::vector<uint8_t>& png);

private:
    struct cStream;
    int32_t width_;
    int32_t height_;
    ePngFilter filter_;
    int level_;
    std::unique_ptr<cStream> stream_;  // igzip's state, kept between frames
    std::vector<uint8_t> level_buffer_;
    std::vector<uint8_t> band_;        // a few filtered rows on their way to the deflater
};
