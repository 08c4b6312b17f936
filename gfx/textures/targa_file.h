// TGA files checked before FreeImage decodes them. Its decoder trusts the lengths a file
// claims: a file that ends inside its header, image ID or colour map makes it size a buffer by
// a negative remainder and hand back a broken bitmap, and its run-length decoder reads past
// the end of its buffer on short or odd files. So such files never reach it, and run-length
// coded ones reach it expanded into the same image uncompressed, which it reads safely.
// Knows nothing of GL; the pixels are those the file holds.
#pragma once
#include <string>

struct cTargaCheck {
    const char* problem = nullptr;  // why the file is refused; null when it may be decoded
    // The image as an uncompressed TGA to decode from memory; empty when the file itself is
    // decoded (it is not run-length coded).
    std::string expanded;
};

cTargaCheck check_targa(const std::string& path);
// The same checks on the file's content already read.
cTargaCheck check_targa_bytes(const std::string& bytes);
