// PNG compression through FreeImage's memory streams and the in-order file writer. Depends on
// capture_paths for writing a file in place; never calls GL.
#include "tools/democapture/png_writer.h"

#include <FreeImage.h>

#include <cstring>

#include "tools/democapture/capture_config.h"
#include "tools/democapture/capture_paths.h"

cPngCompressor::cPngCompressor(int32_t width, int32_t height)
    : width_(width), height_(height), bitmap_(FreeImage_Allocate(width, height, 24)) {}

cPngCompressor::~cPngCompressor() {
    if (bitmap_) FreeImage_Unload(bitmap_);
    bitmap_ = nullptr;
}

bool cPngCompressor::compress(cFrame& frame, std::string& error) {
    if (!bitmap_) {
        error = "out of memory for a " + std::to_string(width_) + "x" + std::to_string(height_) + " picture";
        return false;
    }
    // FreeImage keeps its rows bottom-up, in BGR order on this byte order.
    const size_t row = static_cast<size_t>(width_) * 3;
    for (int32_t y = 0; y < height_; ++y) {
        std::memcpy(FreeImage_GetScanLine(bitmap_, height_ - 1 - y), frame.pixels.data() + static_cast<size_t>(y) * row,
                    row);
    }
    FIMEMORY* memory = FreeImage_OpenMemory(nullptr, 0);
    BYTE* data = nullptr;
    DWORD size = 0;
    const bool saved = memory && FreeImage_SaveToMemory(FIF_PNG, bitmap_, memory, capture_config::png_zlib_level) &&
                       FreeImage_AcquireMemory(memory, &data, &size);
    if (saved) frame.encoded.assign(data, data + size);
    if (memory) FreeImage_CloseMemory(memory);
    if (!saved) error = "cannot compress \"" + frame.file_name + "\" (out of memory?)";
    return saved;
}

bool cPngSink::put(cFrame& frame, std::string& error) {
    return write_file_in_place(out_dir_ + "/" + frame.file_name, frame.encoded.data(), frame.encoded.size(), error);
}
