// PNG compression with the capture's encoder settings and the in-order file writer. Depends on
// capture_paths for writing a file in place; never calls GL.
#include "tools/democapture/png_writer.h"

#include "tools/democapture/capture_config.h"
#include "tools/democapture/capture_paths.h"

cPngCompressor::cPngCompressor(int32_t width, int32_t height)
    : encoder_(width, height, capture_config::png_row_filter, capture_config::png_deflate_level) {}

bool cPngCompressor::compress(cFrame& frame, std::string& error) {
    if (encoder_.encode(frame.pixels.data(), frame.encoded)) return true;
    error = "cannot compress \"" + frame.file_name + "\" (out of memory?)";
    return false;
}

bool cPngSink::put(cFrame& frame, std::string& error) {
    return write_file_in_place(out_dir_ + "/" + frame.file_name, frame.encoded.data(), frame.encoded.size(), error);
}
