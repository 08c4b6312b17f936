// Writes 24-bit PNG files of captured frames through FreeImage. Each file is written under a
// temporary name next to its target and renamed when complete, so a reader (or a crash) never
// sees half a picture. Keeps one bitmap for all frames of a size.
#pragma once
#include <cstdint>
#include <string>

struct FIBITMAP;

class cPngWriter {
public:
    cPngWriter(int32_t width, int32_t height);
    ~cPngWriter();
    cPngWriter(const cPngWriter&) = delete;
    cPngWriter& operator=(const cPngWriter&) = delete;

    // pixels: height rows of width BGR triples, top row first. On failure error says why and
    // neither the target nor a temporary file is left.
    bool write(const uint8_t* pixels, const std::string& path, std::string& error);

private:
    int32_t width_;
    int32_t height_;
    FIBITMAP* bitmap_ = nullptr;
};
