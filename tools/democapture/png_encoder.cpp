// Filters the rows (swapping BGR to RGB on the way) a band at a time and streams them through
// igzip into the IDAT chunk; writes the chunks around it with ISA-L's CRC-32. Grows the output
// as it fills; never touches files.
#include "tools/democapture/png_encoder.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

constexpr uint8_t png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr size_t ihdr_bytes = 13;
// Rows filtered before they go to the deflater together: few enough to stay in the cache.
constexpr size_t band_bytes = 256 * 1024;
// The output grows by at least this much whenever the deflater fills it.
constexpr size_t min_output_growth = 64 * 1024;

void put_u32(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value >> 24);
    at[1] = static_cast<uint8_t>(value >> 16);
    at[2] = static_cast<uint8_t>(value >> 8);
    at[3] = static_cast<uint8_t>(value);
}

// Closes the chunk whose type begins at type: its CRC (the one of gzip and PNG) covers the type
// and the data.
void put_crc(uint8_t* type, size_t data_bytes) {
    put_u32(type + 4 + data_bytes, crc32_gzip_refl(0, type, 4 + data_bytes));
}

void put_type(uint8_t* at, const char (&type)[5]) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(type[i]);
}

// Of left, up and up-left, the one nearest left + up - up-left (ties in that order).
inline int paeth_predictor(int a, int b, int c) {
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// One loop per filter, pixel by pixel, so that the compiler keeps each simple. row and up are
// BGR (up null for the first row); out is RGB.
template <ePngFilter filter>
void filter_row_as(const uint8_t* row, const uint8_t* up, size_t pixels, uint8_t* out) {
    static const uint8_t zeros[3] = {0, 0, 0};
    const uint8_t* left = zeros;
    const uint8_t* up_left = zeros;
    for (size_t x = 0; x < pixels; ++x, row += 3, out += 3) {
        const uint8_t* above = up ? up + 3 * x : zeros;
        for (int c = 0; c < 3; ++c) {
            const int i = 2 - c;
            int predicted = 0;
            if constexpr (filter == ePngFilter::sub) predicted = left[i];
            if constexpr (filter == ePngFilter::up) predicted = above[i];
            if constexpr (filter == ePngFilter::average) predicted = (left[i] + above[i]) / 2;
            if constexpr (filter == ePngFilter::paeth) predicted = paeth_predictor(left[i], above[i], up_left[i]);
            out[c] = static_cast<uint8_t>(row[i] - predicted);
        }
        left = row;
        up_left = above;
    }
}

}  // namespace

void filter_png_row(const uint8_t* pixels, int32_t width, int32_t y, ePngFilter filter, uint8_t* out) {
    const size_t row_bytes = static_cast<size_t>(width) * 3;
    const uint8_t* row = pixels + row_bytes * static_cast<size_t>(y);
    const uint8_t* up = y > 0 ? row - row_bytes : nullptr;
    const size_t n = static_cast<size_t>(width);
    out[0] = static_cast<uint8_t>(filter);
    switch (filter) {
        case ePngFilter::none: return filter_row_as<ePngFilter::none>(row, up, n, out + 1);
        case ePngFilter::sub: return filter_row_as<ePngFilter::sub>(row, up, n, out + 1);
        case ePngFilter::up: return filter_row_as<ePngFilter::up>(row, up, n, out + 1);
        case ePngFilter::average: return filter_row_as<ePngFilter::average>(row, up, n, out + 1);
        case ePngFilter::paeth: return filter_row_as<ePngFilter::paeth>(row, up, n, out + 1);
    }
}

void put_png_head(uint8_t* at, int32_t width, int32_t height) {
    for (uint8_t byte : png_signature) *at++ = byte;
    put_u32(at, ihdr_bytes);
    uint8_t* ihdr = at + 4;
    put_type(ihdr, "IHDR");
    put_u32(ihdr + 4, static_cast<uint32_t>(width));
    put_u32(ihdr + 8, static_cast<uint32_t>(height));
    ihdr[12] = 8;  // bits per channel
    ihdr[13] = 2;  // truecolour: RGB
    ihdr[14] = 0;  // deflate
    ihdr[15] = 0;  // the five adaptive filters, a filter byte per row
    ihdr[16] = 0;  // not interlaced
    put_crc(ihdr, ihdr_bytes);
    put_u32(ihdr + 4 + ihdr_bytes + 4, 0);  // the IDAT's length, known at the end
    put_type(ihdr + 4 + ihdr_bytes + 8, "IDAT");
}

size_t put_png_tail(uint8_t* png, size_t zlib_bytes) {
    uint8_t* idat = png + png_head_bytes - 4;
    put_u32(idat - 4, static_cast<uint32_t>(zlib_bytes));
    put_crc(idat, zlib_bytes);
    uint8_t* iend = idat + 4 + zlib_bytes + 4;
    put_u32(iend, 0);
    put_type(iend + 4, "IEND");
    put_crc(iend + 4, 0);
    return png_head_bytes + zlib_bytes + png_tail_bytes;
}

struct cPngEncoder::cStream {
    isal_zstream z;
};

cPngEncoder::cPngEncoder(int32_t width, int32_t height, ePngFilter filter, int level)
    : width_(width), height_(height), filter_(filter), level_(level) {}

cPngEncoder::~cPngEncoder() = default;

bool cPngEncoder::encode(const uint8_t* pixels, std::vector<uint8_t>& png) {
    const size_t stored_row = static_cast<size_t>(width_) * 3 + 1;
    const size_t rows_per_band = std::max<size_t>(1, band_bytes / stored_row);
    try {
        if (!stream_) stream_ = std::make_unique<cStream>();
        if (level_buffer_.empty() && level_ > 0) {
            level_buffer_.resize(level_ == 1 ? ISAL_DEF_LVL1_DEFAULT : level_ == 2 ? ISAL_DEF_LVL2_DEFAULT
                                                                                    : ISAL_DEF_LVL3_DEFAULT);
        }
        band_.resize(rows_per_band * stored_row);
        // A first guess of the size; the output grows when the deflater fills it.
        png.resize(std::max(png.capacity(), png_head_bytes + stored_row * static_cast<size_t>(height_) / 4 +
                                                png_tail_bytes + min_output_growth));
    } catch (const std::bad_alloc&) {
        return false;
    }
    put_png_head(png.data(), width_, height_);
    isal_zstream& z = stream_->z;
    isal_deflate_init(&z);
    z.level = static_cast<uint32_t>(level_);
    z.level_buf = level_buffer_.empty() ? nullptr : level_buffer_.data();
    z.level_buf_size = static_cast<uint32_t>(level_buffer_.size());
    z.gzip_flag = IGZIP_ZLIB;
    z.flush = NO_FLUSH;
    size_t written = 0;  // of the zlib stream
    for (int32_t y = 0; y < height_;) {
        const int32_t rows = static_cast<int32_t>(std::min<size_t>(rows_per_band, static_cast<size_t>(height_ - y)));
        for (int32_t r = 0; r < rows; ++r) filter_png_row(pixels, width_, y + r, filter_, band_.data() + stored_row * r);
        y += rows;
        z.next_in = band_.data();
        z.avail_in = static_cast<uint32_t>(stored_row * static_cast<size_t>(rows));
        z.end_of_stream = y == height_ ? 1 : 0;
        // Until the band is taken (and, after the last, the stream is closed).
        while (z.avail_in > 0 || (z.end_of_stream && z.internal_state.state != ZSTATE_END)) {
            const size_t room = png.size() - png_head_bytes - png_tail_bytes - written;
            if (room < min_output_growth) {
                try {
                    png.resize(png.size() + std::max(min_output_growth, png.size() / 2));
                } catch (const std::bad_alloc&) {
                    return false;
                }
            }
            z.next_out = png.data() + png_head_bytes + written;
            z.avail_out = static_cast<uint32_t>(std::min<size_t>(png.size() - png_head_bytes - png_tail_bytes - written,
                                                                 UINT32_MAX));
            if (isal_deflate(&z) != COMP_OK) return false;
            written = static_cast<size_t>(z.next_out - (png.data() + png_head_bytes));
        }
    }
    png.resize(put_png_tail(png.data(), written));
    return true;
}
