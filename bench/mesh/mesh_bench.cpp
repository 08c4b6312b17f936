// Mesh loading benchmark: writes an OBJ of about a million triangles with positions, normals
// and texture coordinates to /tmp, then loads it through the player's loading sequence and
// through a peer OBJ library followed by the usual hash-map deduplication into an indexed
// triangle mesh. Prints MB/s, triangles/s, the ratio and the parse/assembly split.
// Usage: mesh_bench [grid size (quads per side, default 708)] [repetitions (default 3)]
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "mesh_files/obj/indexed_mesh.h"
#include "mesh_files/obj/obj_loader.h"

#ifdef DEMO_HAVE_PEER_OBJ_LOADER
#include <tiny_obj_loader.h>
#endif

namespace {

// CPU time of this thread (user and system, page faults included): the machine is shared,
// and time spent waiting for a core says nothing about either loader.
struct clock_type {
    using time_point = double;
    static double now() {
        timespec t{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
    }
};

double seconds_since(double start) { return clock_type::now() - start; }

// A wavy grid of n x n quads, each written as two triangles with v/vt/vn corners.
std::size_t write_grid(const std::string& path, int n) {
    std::string text;
    text.reserve(static_cast<std::size_t>(n + 1) * (n + 1) * 100 + static_cast<std::size_t>(n) * n * 120);
    char line[160];
    for (int y = 0; y <= n; ++y)
        for (int x = 0; x <= n; ++x) {
            double u = double(x) / n, v = double(y) / n;
            double h = 0.1 * std::sin(12.0 * u) * std::cos(9.0 * v);
            int len = std::snprintf(line, sizeof(line), "v %.6f %.6f %.6f\n", u * 10.0 - 5.0, h, v * 10.0 - 5.0);
            text.append(line, static_cast<std::size_t>(len));
        }
    for (int y = 0; y <= n; ++y)
        for (int x = 0; x <= n; ++x) {
            int len = std::snprintf(line, sizeof(line), "vt %.6f %.6f\n", double(x) / n, double(y) / n);
            text.append(line, static_cast<std::size_t>(len));
        }
    for (int y = 0; y <= n; ++y)
        for (int x = 0; x <= n; ++x) {
            double u = double(x) / n, v = double(y) / n;
            double dx = -1.2 * std::cos(12.0 * u) * std::cos(9.0 * v) / 10.0;
            double dz = 0.9 * std::sin(12.0 * u) * std::sin(9.0 * v) / 10.0;
            double len3 = std::sqrt(dx * dx + 1.0 + dz * dz);
            int len = std::snprintf(line, sizeof(line), "vn %.6f %.6f %.6f\n", dx / len3, 1.0 / len3, dz / len3);
            text.append(line, static_cast<std::size_t>(len));
        }
    text += "g grid\n";
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            int a = y * (n + 1) + x + 1, b = a + 1, c = a + n + 1, d = c + 1;
            int len = std::snprintf(line, sizeof(line), "f %d/%d/%d %d/%d/%d %d/%d/%d\nf %d/%d/%d %d/%d/%d %d/%d/%d\n", a,
                                    a, a, c, c, c, b, b, b, b, b, b, c, c, c, d, d, d);
            text.append(line, static_cast<std::size_t>(len));
        }
    std::ofstream(path, std::ios::binary) << text;
    return text.size();
}

struct cTiming {
    double parse = 1e30;
    double assembly = 1e30;
    std::size_t vertices = 0;
    std::size_t indices = 0;
    double total() const { return parse + assembly; }
};

// The player's sequence, timed step by step (the same calls load_indexed_mesh makes).
cTiming run_player(const std::string& path) {
    cTiming t;
    std::ostringstream sink;
    std::streambuf* console = std::cerr.rdbuf(sink.rdbuf());
    auto start = clock_type::now();
    cObjLoader loader;
    loader.load_file(path);
    t.parse = seconds_since(start);
    start = clock_type::now();
    cIndexedMesh mesh;
    loader.triangulate();
    loader.build_arrays(mesh.flags, mesh.positions, mesh.normals, mesh.texcoords, mesh.indices, mesh.ranges);
    t.assembly = seconds_since(start);
    std::cerr.rdbuf(console);
    t.vertices = mesh.positions.size() / 3;
    t.indices = mesh.indices.size();
    return t;
}

#ifdef DEMO_HAVE_PEER_OBJ_LOADER
struct cCornerKey {
    int v, n, t;
    bool operator==(const cCornerKey&) const = default;
};
struct cCornerHash {
    std::size_t operator()(const cCornerKey& k) const {
        std::size_t h = std::hash<int>()(k.v);
        h = h * 31 + std::hash<int>()(k.n);
        return h * 31 + std::hash<int>()(k.t);
    }
};

// The peer: parse, then give every distinct (position, normal, texcoord) triple a vertex.
cTiming run_peer(const std::string& path) {
    cTiming t;
    auto start = clock_type::now();
    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> materials;
    std::string warn, err;
    if (!tinyobj::LoadObj(&attrib, &shapes, &materials, &warn, &err, path.c_str(), nullptr, true, false)) {
        std::cerr << "peer failed: " << err << std::endl;
        return t;
    }
    t.parse = seconds_since(start);
    start = clock_type::now();
    std::vector<float> positions, normals, texcoords;
    std::vector<uint32_t> indices;
    std::unordered_map<cCornerKey, uint32_t, cCornerHash> vertex_of;
    for (const tinyobj::shape_t& shape : shapes) {
        for (const tinyobj::index_t& index : shape.mesh.indices) {
            cCornerKey key{index.vertex_index, index.normal_index, index.texcoord_index};
            auto [it, inserted] = vertex_of.try_emplace(key, static_cast<uint32_t>(positions.size() / 3));
            if (inserted) {
                const float* p = &attrib.vertices[3 * std::size_t(key.v)];
                positions.insert(positions.end(), p, p + 3);
                if (key.n >= 0) {
                    const float* n = &attrib.normals[3 * std::size_t(key.n)];
                    normals.insert(normals.end(), n, n + 3);
                }
                if (key.t >= 0) {
                    const float* uv = &attrib.texcoords[2 * std::size_t(key.t)];
                    texcoords.insert(texcoords.end(), uv, uv + 2);
                }
            }
            indices.push_back(it->second);
        }
    }
    t.assembly = seconds_since(start);
    t.vertices = positions.size() / 3;
    t.indices = indices.size();
    return t;
}
#endif

void keep_best(cTiming& best, const cTiming& run) {
    best.parse = std::min(best.parse, run.parse);
    best.assembly = std::min(best.assembly, run.assembly);
    best.vertices = run.vertices;
    best.indices = run.indices;
}

void print(const char* name, const cTiming& t, double megabytes) {
    double triangles = double(t.indices) / 3.0;
    std::printf("%-8s total %8.1f ms  %7.1f MB/s  %6.2f M triangles/s | parse %7.1f ms (%6.1f MB/s, %2.0f%%)  "
                "assembly %7.1f ms (%2.0f%%) | %zu vertices, %zu indices\n",
                name, 1e3 * t.total(), megabytes / t.total(), triangles / t.total() / 1e6, 1e3 * t.parse,
                megabytes / t.parse, 100.0 * t.parse / t.total(), 1e3 * t.assembly, 100.0 * t.assembly / t.total(),
                t.vertices, t.indices);
}

}  // namespace

int main(int argc, char** argv) {
    const int grid = argc > 1 ? std::max(1, std::atoi(argv[1])) : 708;
    const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const std::string path = "/tmp/demo_mesh_bench_" + std::to_string(::getpid()) + ".obj";
    const std::size_t bytes = write_grid(path, grid);
    const double megabytes = double(bytes) / 1e6;
    std::printf("# %s: %.1f MB, %d triangles, best of %d runs each, thread CPU time\n", path.c_str(), megabytes,
                2 * grid * grid, repetitions);

    cTiming player;
    for (int i = 0; i < repetitions; ++i) keep_best(player, run_player(path));
    print("player", player, megabytes);
#ifdef DEMO_HAVE_PEER_OBJ_LOADER
    cTiming peer;
    for (int i = 0; i < repetitions; ++i) keep_best(peer, run_peer(path));
    print("peer", peer, megabytes);
    std::printf("# player is %.2fx as fast as the peer overall (parse %.2fx, assembly %.2fx)\n",
                peer.total() / player.total(), peer.parse / player.parse, peer.assembly / player.assembly);
    if (peer.vertices != player.vertices || peer.indices != player.indices)
        std::printf("# note: the two meshes differ in size\n");
#else
    std::printf("# the peer OBJ library was not found at configure time: player figures only\n");
#endif
    std::remove(path.c_str());
    return 0;
}
