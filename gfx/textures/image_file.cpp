// FreeImage decoding and its message hook. Depends on FreeImage and the TGA checks; never
// touches GL and never changes the decoded pixels.
#include "gfx/textures/image_file.h"

#include <FreeImage.h>

#include <iostream>

#include "gfx/textures/targa_file.h"

namespace {

void freeimage_message(FREE_IMAGE_FORMAT format, const char* message) {
    write_freeimage_message(static_cast<int>(format), message);
}

// Process-wide and unguarded: everything graphical runs on the main thread.
bool message_hook_installed = false;

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
    if (format == FIF_TARGA) {
        cTargaCheck targa = check_targa(path);
        if (targa.problem) {
            write_freeimage_message(format, targa.problem);
            return image;
        }
        if (!targa.expanded.empty()) {
            FIMEMORY* memory = FreeImage_OpenMemory(reinterpret_cast<BYTE*>(targa.expanded.data()),
                                                    static_cast<DWORD>(targa.expanded.size()));
            if (memory) image.bitmap = FreeImage_LoadFromMemory(format, memory, 0);
            FreeImage_CloseMemory(memory);
            return image;
        }
    }
    if (format != FIF_UNKNOWN) image.bitmap = FreeImage_Load(format, path.c_str(), 0);
    return image;
}

void unload_image(cImage& image) {
    if (image.bitmap) FreeImage_Unload(image.bitmap);
    image.bitmap = nullptr;
}
