// Decoding image files with FreeImage: the decoded bitmap with its path (or why there is none),
// the size an image file claims before its pixels are decoded, and the FreeImage message hook
// that puts the decoder's own complaints on standard error.
// Knows nothing of GL; never converts, flips or swizzles pixels.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

struct FIBITMAP;

struct cImage {
    FIBITMAP* bitmap = nullptr;  // null when the file could not be decoded
    std::string path;
    std::string problem;         // why the bitmap is null, in words that follow "cannot decode"
};

// Decodes path by its content's signature. A missing file or an unknown format leaves the
// bitmap null. Installs the message hook on the first call of the process; the decoder's
// messages go to standard error through it.
cImage load_image(const std::string& path);

// Decodes bytes, the content of the file at path, as load_image decodes the file; for a thread
// of its own: the decoder's messages are not written but kept in problem. When stop turns true
// the decoder's reads fail, so the decode ends soon, without a bitmap and with problem
// "cancelled".
cImage decode_image(const std::string& path, const std::string& bytes, const std::atomic<bool>* stop = nullptr);

// The size an image's header claims, without decoding its pixels; known is false when the
// format cannot tell (or the bytes are no image).
struct cImageHeader {
    bool known = false;
    int64_t width = 0;
    int64_t height = 0;
};
cImageHeader read_image_header(const std::string& bytes);

// Frees the bitmap (a null one is fine) and leaves it null.
void unload_image(cImage& image);

// The hook itself, for tests: "\n*** ", the format name and " Format" when known, then the
// message and " ***".
void write_freeimage_message(int format, const char* message);
