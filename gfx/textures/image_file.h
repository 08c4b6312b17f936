// Decoding image files with FreeImage: the decoded bitmap with its path, and the FreeImage
// message hook that puts the decoder's own complaints on standard error.
// Knows nothing of GL; never converts, flips or swizzles pixels.
#pragma once
#include <string>

struct FIBITMAP;

struct cImage {
    FIBITMAP* bitmap = nullptr;  // null when the file could not be decoded
    std::string path;
};

// Decodes path by its content's signature. A missing file or an unknown format leaves the
// bitmap null. Installs the message hook on the first call of the process.
cImage load_image(const std::string& path);

// Frees the bitmap (a null one is fine) and leaves it null.
void unload_image(cImage& image);

// The hook itself, for tests: "\n*** ", the format name and " Format" when known, then the
// message and " ***".
void write_freeimage_message(int format, const char* message);
