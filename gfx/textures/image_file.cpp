// FreeImage decoding and its message hook. Depends on FreeImage and the TGA checks; never
// touches GL and never changes the decoded pixels. Decodes from a file or from bytes in memory,
// the latter on any thread (the decoder keeps no state between images once its hook is set).
#include "gfx/textures/image_file.h"

#include <FreeImage.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>

#include "gfx/textures/targa_file.h"

namespace {

// The last thing the decoder said on this thread, and whether it is to be kept quiet (a decode
// on a worker thread reports through its result, not on the console).
thread_local std::string t_last_message;
thread_local bool t_quiet = false;

void freeimage_message(FREE_IMAGE_FORMAT format, const char* message) {
    const char* name = format != FIF_UNKNOWN ? FreeImage_GetFormatFromFIF(format) : nullptr;
    t_last_message = std::string("the ") + (name ? std::string(name) + " " : "") + "decoder says \"" +
                     (message ? message : "") + "\"";
    if (!t_quiet) write_freeimage_message(static_cast<int>(format), message);
}

std::once_flag message_hook_installed;

void install_message_hook() {
    std::call_once(message_hook_installed, [] { FreeImage_SetOutputMessage(freeimage_message); });
}

// Keeps the decoder's messages off the console for the life of the scope.
class cQuietDecoder {
public:
    cQuietDecoder() : was_(t_quiet) {
        t_quiet = true;
        t_last_message.clear();
    }
    ~cQuietDecoder() { t_quiet = was_; }

private:
    bool was_;
};

std::string refusal() { return t_last_message.empty() ? "the decoder refused it" : t_last_message; }

// ---- bytes in memory as a FreeImage stream ----

struct cByteStream {
    const std::string* bytes;
    size_t at;
    const std::atomic<bool>* stop;
};

unsigned DLL_CALLCONV read_bytes(void* buffer, unsigned size, unsigned count, fi_handle handle) {
    auto* stream = static_cast<cByteStream*>(handle);
    // A failed read is what ends every decoder soonest, whatever the format.
    if (stream->stop && stream->stop->load(std::memory_order_relaxed)) return 0;
    if (size == 0 || stream->at >= stream->bytes->size()) return 0;
    const size_t copied = std::min<size_t>(size_t(size) * count, stream->bytes->size() - stream->at);
    std::memcpy(buffer, stream->bytes->data() + stream->at, copied);
    stream->at += copied;
    return static_cast<unsigned>(copied / size);
}

unsigned DLL_CALLCONV write_nothing(void*, unsigned, unsigned, fi_handle) { return 0; }

int DLL_CALLCONV seek_bytes(fi_handle handle, long offset, int origin) {
    auto* stream = static_cast<cByteStream*>(handle);
    const long base = origin == SEEK_SET   ? 0
                      : origin == SEEK_CUR ? static_cast<long>(stream->at)
                                           : static_cast<long>(stream->bytes->size());
    if (offset < -base) return -1;
    stream->at = static_cast<size_t>(base + offset);
    return 0;
}

long DLL_CALLCONV tell_bytes(fi_handle handle) { return static_cast<long>(static_cast<cByteStream*>(handle)->at); }

FreeImageIO byte_io() { return FreeImageIO{read_bytes, write_nothing, seek_bytes, tell_bytes}; }

FREE_IMAGE_FORMAT format_of_bytes(cByteStream& stream) {
    FreeImageIO io = byte_io();
    stream.at = 0;
    const FREE_IMAGE_FORMAT format = FreeImage_GetFileTypeFromHandle(&io, &stream, 0);
    stream.at = 0;
    return format;
}

FIBITMAP* decode_bytes(FREE_IMAGE_FORMAT format, cByteStream& stream, int flags) {
    FreeImageIO io = byte_io();
    stream.at = 0;
    return FreeImage_LoadFromHandle(format, &io, &stream, flags);
}

uint32_t little_endian_16(const std::string& bytes, size_t at) {
    return static_cast<uint8_t>(bytes[at]) | (uint32_t(static_cast<uint8_t>(bytes[at + 1])) << 8);
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
    install_message_hook();
    t_last_message.clear();
    cImage image;
    image.path = path;
    FREE_IMAGE_FORMAT format = FreeImage_GetFileType(path.c_str(), 0);
    if (format == FIF_UNKNOWN) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            image.problem = std::string("the file cannot be opened (") + std::strerror(errno) + ")";
        } else {
            image.problem = in.peek() == std::ifstream::traits_type::eof()
                                ? "the file is empty"
                                : "its content is no image format the decoder knows";
        }
        return image;
    }
    if (format == FIF_TARGA) {
        cTargaCheck targa = check_targa(path);
        if (targa.problem) {
            write_freeimage_message(format, targa.problem);
            image.problem = std::string("the TGA file is refused: ") + targa.problem;
            return image;
        }
        if (!targa.expanded.empty()) {
            FIMEMORY* memory = FreeImage_OpenMemory(reinterpret_cast<BYTE*>(targa.expanded.data()),
                                                    static_cast<DWORD>(targa.expanded.size()));
            if (memory) image.bitmap = FreeImage_LoadFromMemory(format, memory, 0);
            FreeImage_CloseMemory(memory);
            if (!image.bitmap) image.problem = refusal();
            return image;
        }
    }
    image.bitmap = FreeImage_Load(format, path.c_str(), 0);
    if (!image.bitmap) image.problem = refusal();
    return image;
}

cImage decode_image(const std::string& path, const std::string& bytes, const std::atomic<bool>* stop) {
    install_message_hook();
    cQuietDecoder quiet;
    cImage image;
    image.path = path;
    auto stopped = [stop] { return stop && stop->load(std::memory_order_relaxed); };
    cByteStream stream{&bytes, 0, stop};
    const FREE_IMAGE_FORMAT format = format_of_bytes(stream);
    if (stopped()) {
        image.problem = "cancelled";
        return image;
    }
    if (format == FIF_UNKNOWN) {
        image.problem = bytes.empty() ? "the file is empty" : "its content is no image format the decoder knows";
        return image;
    }
    if (format == FIF_TARGA) {
        cTargaCheck targa = check_targa_bytes(bytes);
        if (targa.problem) {
            image.problem = std::string("the TGA file is refused: ") + targa.problem;
            return image;
        }
        if (!targa.expanded.empty()) {
            cByteStream expanded{&targa.expanded, 0, stop};
            image.bitmap = decode_bytes(format, expanded, 0);
        } else {
            image.bitmap = decode_bytes(format, stream, 0);
        }
    } else {
        image.bitmap = decode_bytes(format, stream, 0);
    }
    if (stopped()) {
        unload_image(image);
        image.problem = "cancelled";
    } else if (!image.bitmap) {
        image.problem = refusal();
    }
    return image;
}

cImageHeader read_image_header(const std::string& bytes) {
    install_message_hook();
    cQuietDecoder quiet;
    cImageHeader header;
    cByteStream stream{&bytes, 0, nullptr};
    const FREE_IMAGE_FORMAT format = format_of_bytes(stream);
    if (format == FIF_TARGA) {
        // The TGA decoder trusts the lengths its header claims even for the header alone; the
        // size is read here instead (bytes 12 to 15).
        constexpr size_t kTargaHeaderBytes = 18;
        if (bytes.size() < kTargaHeaderBytes) return header;
        header.known = true;
        header.width = little_endian_16(bytes, 12);
        header.height = little_endian_16(bytes, 14);
        return header;
    }
    if (format == FIF_UNKNOWN || !FreeImage_FIFSupportsNoPixels(format)) return header;
    FIBITMAP* bitmap = decode_bytes(format, stream, FIF_LOAD_NOPIXELS);
    if (!bitmap) return header;
    header.known = true;
    header.width = FreeImage_GetWidth(bitmap);
    header.height = FreeImage_GetHeight(bitmap);
    FreeImage_Unload(bitmap);
    return header;
}

void unload_image(cImage& image) {
    if (image.bitmap) FreeImage_Unload(image.bitmap);
    image.bitmap = nullptr;
}
