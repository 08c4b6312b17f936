// PNG output through FreeImage (24 bits, fast compression), atomically renamed into place.
// Depends on partial_files for removal of the temporary file if the process ends mid-write.
#include "tools/democapture/png_writer.h"

#include <FreeImage.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/democapture/capture_config.h"
#include "tools/democapture/capture_paths.h"
#include "tools/democapture/partial_files.h"

cPngWriter::cPngWriter(int32_t width, int32_t height)
    : width_(width), height_(height), bitmap_(FreeImage_Allocate(width, height, 24)) {}

cPngWriter::~cPngWriter() {
    if (bitmap_) FreeImage_Unload(bitmap_);
    bitmap_ = nullptr;
}

bool cPngWriter::write(const uint8_t* pixels, const std::string& path, std::string& error) {
    if (!bitmap_) {
        error = "out of memory for a " + std::to_string(width_) + "x" + std::to_string(height_) + " picture";
        return false;
    }
    // FreeImage keeps its rows bottom-up, in BGR order on this byte order.
    const size_t row = static_cast<size_t>(width_) * 3;
    for (int32_t y = 0; y < height_; ++y) {
        std::memcpy(FreeImage_GetScanLine(bitmap_, height_ - 1 - y), pixels + static_cast<size_t>(y) * row, row);
    }
    const std::string partial = partial_name_for(path);
    const int slot = partial_files::hold(partial);
    if (!FreeImage_Save(FIF_PNG, bitmap_, partial.c_str(), capture_config::png_zlib_level)) {
        ::unlink(partial.c_str());
        partial_files::release(slot);
        error = "cannot write \"" + path + "\"";
        return false;
    }
    if (std::rename(partial.c_str(), path.c_str()) != 0) {
        error = "cannot write \"" + path + "\": " + std::strerror(errno);
        ::unlink(partial.c_str());
        partial_files::release(slot);
        return false;
    }
    partial_files::release(slot);
    return true;
}
