// The TGA checks and the expansion of run-length coded pixels. Standard library and the file
// reader of base/files only.
#include "gfx/textures/targa_file.h"

#include <algorithm>
#include <cstdint>

#include "base/files/file_read.h"

namespace {

constexpr uint64_t kHeaderBytes = 18;
constexpr uint8_t kRunLengthCoded = 8;  // added to the type code of the uncompressed kinds
// The largest image expanded here: 16384 x 16384 pixels of 4 bytes, beyond what GL takes anyway.
constexpr uint64_t kMaxExpandedBytes = uint64_t(1) << 30;

}  // namespace

cTargaCheck check_targa(const std::string& path) {
    std::string bytes;
    if (!read_whole_file(path, bytes, cReadOptions{}).ok()) {
        cTargaCheck check;
        check.problem = "the file cannot be read";
        return check;
    }
    return check_targa_bytes(bytes);
}

cTargaCheck check_targa_bytes(const std::string& bytes) {
    cTargaCheck check;
    const auto at = [&bytes](uint64_t i) { return static_cast<uint8_t>(bytes[i]); };
    if (bytes.size() < kHeaderBytes) {
        check.problem = "the file ends inside its header";
        return check;
    }
    const uint64_t id_bytes = at(0);
    const bool has_colour_map = at(1) != 0;
    const uint64_t map_bytes = has_colour_map ? (at(5) | (uint64_t(at(6)) << 8)) * ((uint64_t(at(7)) + 7) / 8) : 0;
    const uint64_t pixels_start = kHeaderBytes + id_bytes + map_bytes;
    if (bytes.size() <= pixels_start) {
        check.problem = "the file ends before its image data";
        return check;
    }
    const uint8_t type = at(2);
    if (type < 1 + kRunLengthCoded || type > 3 + kRunLengthCoded) return check;

    // Every packet until the image's pixels are covered: a header byte, then one pixel repeated
    // (bit 7 set) or as many pixels as the header counts. Pixels beyond the image's last one
    // (a packet that runs over) are dropped.
    const uint64_t pixels = (at(12) | (uint64_t(at(13)) << 8)) * (at(14) | (uint64_t(at(15)) << 8));
    const uint64_t pixel_bytes = (uint64_t(at(16)) + 7) / 8;
    if (pixels * pixel_bytes > kMaxExpandedBytes) {
        check.problem = "the image is larger than a texture can be";
        return check;
    }
    std::string out = bytes.substr(0, pixels_start);
    out[2] = static_cast<char>(type - kRunLengthCoded);
    uint64_t next = pixels_start;
    for (uint64_t covered = 0; covered < pixels;) {
        if (next >= bytes.size()) {
            check.problem = "the file ends inside its run-length coded pixels";
            return check;
        }
        const uint8_t packet = at(next++);
        const uint64_t count = std::min<uint64_t>((packet & 0x7fu) + 1, pixels - covered);
        const bool repeated = (packet & 0x80u) != 0;
        const uint64_t packet_bytes = repeated ? pixel_bytes : ((packet & 0x7fu) + 1) * pixel_bytes;
        if (packet_bytes > bytes.size() - next) {
            check.problem = "the file ends inside its run-length coded pixels";
            return check;
        }
        if (repeated) {
            for (uint64_t i = 0; i < count; ++i) out.append(bytes, next, pixel_bytes);
        } else {
            out.append(bytes, next, count * pixel_bytes);
        }
        next += packet_bytes;
        covered += count;
    }
    check.expanded = std::move(out);
    return check;
}
