// Fuzzes the OBJ loader: parsing any bytes (through the loader's in-memory entry, which takes
// the same path as a file's bytes) and the assembly into an indexed triangle mesh, in the
// model manager's order. A refused file must leave nothing; an accepted one must be a mesh the
// GPU can draw whole and range by range, with unit smooth normals.
#include <cmath>
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "mesh_files/obj/indexed_mesh.h"
#include "mesh_files/obj/mesh_config.h"
#include "mesh_files/obj/mesh_exit.h"
#include "mesh_files/obj/obj_loader.h"

namespace {

// The loader's fatal conditions refuse the load instead of ending the fuzzer.
void keep_going(int) {}

void check_mesh(const cIndexedMesh& mesh, bool smoothed) {
    const std::size_t vertex_count = mesh.positions.size() / 3;
    FUZZ_CHECK(mesh.positions.size() == vertex_count * 3, "three floats per position");
    FUZZ_CHECK(mesh.normals.size() == mesh.positions.size(), "one normal per vertex");
    FUZZ_CHECK(mesh.texcoords.size() == ((mesh.flags & kMeshHasTexcoords) ? vertex_count * 2 : 0),
               "one texture coordinate per vertex, or none");
    FUZZ_CHECK(mesh.flags & kMeshHasNormals, "every mesh has normals");
    FUZZ_CHECK(!(mesh.flags & kMeshHasPolygons), "no polygons are left");

    FUZZ_CHECK(mesh.indices.size() % 3 == 0, "indices come in triangles");
    std::vector<bool> used(vertex_count, false);
    for (uint32_t index : mesh.indices) {
        FUZZ_CHECK(index < vertex_count, "every index names a vertex");
        used[index] = true;
    }
    for (bool u : used) FUZZ_CHECK(u, "every vertex is used by a corner");

    // The ranges cover the whole index array in ascending groups, whole triangles each, and
    // end with (index count, -1): drawing range by range draws everything exactly once.
    const std::vector<cGroupRange>& ranges = mesh.ranges;
    FUZZ_CHECK(ranges.size() >= 2, "at least one range and the closing one");
    FUZZ_CHECK(ranges.front().first == 0, "the first range starts at index 0");
    FUZZ_CHECK(ranges.back() == (cGroupRange{static_cast<int32_t>(mesh.indices.size()), -1}),
               "the closing range holds the index count");
    for (std::size_t r = 0; r + 1 < ranges.size(); ++r) {
        FUZZ_CHECK(ranges[r].first % 3 == 0, "ranges hold whole triangles");
        FUZZ_CHECK(ranges[r].first <= ranges[r + 1].first, "ranges do not overlap");
        if (r + 2 < ranges.size()) FUZZ_CHECK(ranges[r].group < ranges[r + 1].group, "groups ascend");
    }

    if (!smoothed) return;
    for (std::size_t v = 0; v < vertex_count; ++v) {
        const double x = mesh.normals[3 * v], y = mesh.normals[3 * v + 1], z = mesh.normals[3 * v + 2];
        FUZZ_CHECK(std::isfinite(x) && std::isfinite(y) && std::isfinite(z), "smooth normals are finite");
        FUZZ_CHECK(std::fabs(std::sqrt(x * x + y * y + z * z) - 1.0) < 1e-5, "smooth normals have unit length");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    set_mesh_exit_hook(keep_going);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    cQuietConsole quiet;
    cObjLoader loader;
    loader.load_text("fuzz.obj", reinterpret_cast<const char*>(data), size);
    const bool smoothed = !loader.refused() && !(loader.flags() & kMeshHasNormals);
    loader.triangulate();
    cIndexedMesh mesh;
    loader.build_arrays(mesh.flags, mesh.positions, mesh.normals, mesh.texcoords, mesh.indices, mesh.ranges);
    if (loader.refused()) {
        FUZZ_CHECK(mesh.positions.empty() && mesh.indices.empty() && mesh.ranges.empty(), "a refused load gives nothing");
        return 0;
    }
    check_mesh(mesh, smoothed);
    bounding_box_of(mesh.positions);
    return 0;
}
