// Fuzzes the image path of the texture manager: any bytes as an image file, decoded by
// FreeImage and prepared for upload exactly as the manager does it, short of the GL call. An
// accepted image must be what GL will read: 24 or 32-bit colour bytes, rows padded to 4 bytes,
// every byte of them readable. The decoder itself is not instrumented, so the fuzzer learns
// only from this code's paths; the sanitizers still catch bad reads of the pixels.
#include <fcntl.h>
#include <unistd.h>

#include <FreeImage.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "gfx/textures/texture_codes.h"
#include "gfx/textures/texture_image.h"

namespace {

// The decoder reads files by path, as the manager has it do: each input goes into this file.
std::string g_path;

void write_input(const uint8_t* data, std::size_t size) {
    int fd = ::open(g_path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    FUZZ_CHECK(fd >= 0, "the input file can be written");
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, data + done, size - done);
        FUZZ_CHECK(n > 0, "the input file can be written");
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

void remove_input() { ::unlink(g_path.c_str()); }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    std::string pattern = std::string(dir) + "/texture_image_fuzz.XXXXXX";
    int fd = ::mkstemp(pattern.data());
    FUZZ_CHECK(fd >= 0, "a file for the inputs");
    ::close(fd);
    g_path = pattern;
    std::atexit(remove_input);
    return 0;
}

// Whether the file's header promises more pixels than the fuzzer explores. A few bytes can
// describe an image of hundreds of megabytes (a run-length coded TGA, say); decoding one takes
// seconds and reaches nothing of this code that a small image does not.
bool too_large_to_explore() {
    constexpr uint64_t kMaxPixels = 1u << 16;
    FREE_IMAGE_FORMAT format = FreeImage_GetFileType(g_path.c_str(), 0);
    if (format == FIF_UNKNOWN || !FreeImage_FIFSupportsNoPixels(format)) return false;
    FIBITMAP* header = FreeImage_Load(format, g_path.c_str(), FIF_LOAD_NOPIXELS);
    if (!header) return false;
    const uint64_t pixels = uint64_t(FreeImage_GetWidth(header)) * FreeImage_GetHeight(header);
    FreeImage_Unload(header);
    return pixels > kMaxPixels;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace texture_codes;
    write_input(data, size);
    cQuietConsole quiet;  // FreeImage's own complaints
    if (too_large_to_explore()) return 0;
    cTextureImage prepared = prepare_texture_image(g_path, false, kind_automatic);
    FUZZ_CHECK(prepared.kind == kind_1d || prepared.kind == kind_2d || prepared.kind == kind_rectangle,
               "kind 0 resolves to 1D, 2D or rectangle");
    FUZZ_CHECK(!prepared.mipmaps, "no mipmaps were asked for");
    if (prepared.problem != eTextureImageProblem::none) {
        FUZZ_CHECK(prepared.pixels == nullptr, "a refused image hands out no pixels");
        unload_image(prepared.image);
        return 0;
    }
    FUZZ_CHECK(prepared.bits_per_pixel == 24 || prepared.bits_per_pixel == 32, "only 24 or 32 bits per pixel");
    FUZZ_CHECK(prepared.format == (prepared.bits_per_pixel == 32 ? format_bgra : format_bgr), "the pixel format");
    FUZZ_CHECK(prepared.internal_format == (prepared.bits_per_pixel == 32 ? format_rgba8 : format_rgb8),
               "the internal format");
    FUZZ_CHECK(prepared.width > 0 && prepared.height > 0 && prepared.pixels != nullptr, "a decoded image has pixels");

    // GL reads width * bytes per pixel from each row, rows starting every multiple of 4 bytes
    // (the default unpack alignment); the decoder's rows must lie exactly there.
    const std::size_t row_bytes = static_cast<std::size_t>(prepared.width) * (prepared.bits_per_pixel / 8);
    const std::size_t stride = (row_bytes + 3) / 4 * 4;
    FUZZ_CHECK(FreeImage_GetPitch(prepared.image.bitmap) == stride, "rows are padded to 4 bytes, as GL reads them");
    // The first and the last byte GL reads of every row: a short pixel buffer shows at once,
    // and a tiny file that unpacks into a huge image costs no more than its rows.
    const auto* pixels = static_cast<const volatile uint8_t*>(prepared.pixels);
    unsigned sum = 0;
    for (std::size_t y = 0; y < static_cast<std::size_t>(prepared.height); ++y)
        sum += pixels[y * stride] + pixels[y * stride + row_bytes - 1];
    (void)sum;
    unload_image(prepared.image);
    return 0;
}
