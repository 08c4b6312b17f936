// FreeImage decoding and its message hook. Depends on FreeImage only; never touches GL and
// never changes the decoded pixels.
#include "gfx/textures/image_file.h"

#include <FreeImage.h>

#include <cstdint>
#include <fstream>
#include <iostream>

namespace {

void freeimage_message(FREE_IMAGE_FORMAT format, const char* message) {
    write_freeimage_message(static_cast<int>(format), message);
}

// Process-wide and unguarded: everything graphical runs on the main thread.
bool message_hook_installed = false;

// Whether a TGA file holds more than its header, image ID and colour map. The decoder trusts
// those lengths: with a file that ends inside them it sizes a buffer by a negative remainder
// and hands back a broken bitmap (reading its width then crashes), so such a file never
// reaches it.
bool targa_has_image_data(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return false;
    const std::streamoff size = in.tellg();
    unsigned char header[18] = {};
    in.seekg(0);
    if (size < static_cast<std::streamoff>(sizeof header) || !in.read(reinterpret_cast<char*>(header), sizeof header)) {
        return false;
    }
    const uint64_t id_length = header[0];
    const bool has_colour_map = header[1] != 0;
    const uint64_t map_entries = header[5] | (uint64_t(header[6]) << 8);
    const uint64_t map_entry_bytes = (uint64_t(header[7]) + 7) / 8;
    const uint64_t before_pixels = sizeof header + id_length + (has_colour_map ? map_entries * map_entry_bytes : 0);
    return static_cast<uint64_t>(size) > before_pixels;
}

}  // namespace

void write_freeimage_message(int format, const char* message) {
    std::cerr << "\n*** ";
    if (format != FIF_UNKNOWN) {
        const char* name = FreeImage_GetFormatFromFIF(static_cast<FREE_IMAGE_FORMAT>(format));
        std::cerr << (name ? name : "?") << " Format" << std::endl;
    }
    std::cerr << (message ? message : "") << " ***" << std::endl;
}

cImage load_image(const std::string& path) {
    if (!message_hook_installed) {
        FreeImage_SetOutputMessage(freeimage_message);
        message_hook_installed = true;
    }
    cImage image;
    image.path = path;
    FREE_IMAGE_FORMAT format = FreeImage_GetFileType(path.c_str(), 0);
    if (format == FIF_TARGA && !targa_has_image_data(path)) {
        write_freeimage_message(format, "the file ends before its image data");
        return image;
    }
    if (format != FIF_UNKNOWN) image.bitmap = FreeImage_Load(format, path.c_str(), 0);
    return image;
}

void unload_image(cImage& image) {
    if (image.bitmap) FreeImage_Unload(image.bitmap);
    image.bitmap = nullptr;
}
