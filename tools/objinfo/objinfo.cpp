// objinfo: loads one OBJ file through the model manager's own loading sequence, without GL,
// and prints what the player would get as one JSON object: flags, vertex and index counts,
// group ranges, bounds, a SHA-256 of the indices and the loader's messages. Where the loader
// would refuse the file or end the player, the report says so and the tool exits with 1.
#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "mesh_files/obj/indexed_mesh.h"
#include "mesh_files/obj/mesh_exit.h"
#include "mesh_files/obj/mesh_loader.h"
#include "tools/objinfo/json_text.h"
#include "base/files/sha256.h"

namespace {

constexpr int kStatusAccepted = 0;
constexpr int kStatusRejected = 1;  // refused, or the player would have ended
constexpr int kStatusUsage = 2;

bool g_exit_requested = false;
int g_exit_status = 0;

// Instead of ending the process, remember the status; the loader then gives the load up.
void record_exit(int status) {
    if (!g_exit_requested) g_exit_status = status;
    g_exit_requested = true;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string index_hash(const std::vector<uint32_t>& indices) {
    std::vector<uint8_t> bytes;
    bytes.reserve(indices.size() * 4);
    for (uint32_t index : indices)
        for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<uint8_t>(index >> shift));
    return sha256_hex(bytes.data(), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || (argv[1][0] == '-' && argv[1][1] != '\0')) {
        std::cerr << "usage: objinfo <file.obj>  (prints what the player loads from the file, as JSON)" << std::endl;
        return kStatusUsage;
    }
    const std::string path = argv[1];

    const bool supported = is_supported_mesh_file(path);
    cIndexedMesh mesh;
    bool accepted = false;
    std::ostringstream captured;
    if (supported) {
        std::streambuf* console = std::cerr.rdbuf(captured.rdbuf());
        set_mesh_exit_hook(record_exit);
        accepted = load_indexed_mesh(path, mesh) && !g_exit_requested;
        set_mesh_exit_hook(nullptr);
        std::cerr.rdbuf(console);
    }
    const cBoundingBox box = bounding_box_of(mesh.positions);

    std::ostringstream out;
    out << "{\"flags\": " << static_cast<int>(mesh.flags) << ", \"vertices\": " << mesh.positions.size() / 3
        << ", \"indices\": " << mesh.indices.size() << ", \"ranges\": [";
    for (std::size_t i = 0; i < mesh.ranges.size(); ++i)
        out << (i ? ", " : "") << "[" << mesh.ranges[i].first << ", " << mesh.ranges[i].group << "]";
    out << "], \"bounds\": [";
    const float bounds[6] = {box.min_x, box.min_y, box.min_z, box.max_x, box.max_y, box.max_z};
    for (int i = 0; i < 6; ++i) out << (i ? ", " : "") << json_number(bounds[i]);
    out << "], \"index_sha256\": \"" << index_hash(mesh.indices) << "\", \"messages\": [";
    std::vector<std::string> messages = lines_of(captured.str());
    for (std::size_t i = 0; i < messages.size(); ++i) out << (i ? ", " : "") << json_quote(messages[i]);
    out << "]";
    if (!supported) out << ", \"supported\": false";
    if (g_exit_requested) out << ", \"exit_status\": " << (g_exit_status & 0xff);
    else if (!accepted) out << ", \"refused\": true";
    out << "}";
    std::cout << out.str() << std::endl;
    return accepted ? kStatusAccepted : kStatusRejected;
}
