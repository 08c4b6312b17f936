// Mesh loading benchmark: writes an OBJ of about a million triangles with positions, normals
// and texture coordinates to /tmp, then loads it through the player's loading sequence and
// through a peer OBJ library followed by the usual hash-map deduplication into an indexed
// triangle mesh. Every load runs in a fresh child process, the two sides taking turns, so that
// neither inherits the other's heap; prints both sides, the ratio per pair of runs with its
// spread, the parse/assembly split, and the machine's load before and after.
// Usage: mesh_bench [grid size (quads per side, default 708)] [runs a side (default 5)]
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// 4000 quads a side make a file of about 3.3 GB; the runs a side are for a few minutes at most.
constexpr int kMaxGrid = 4000;
constexpr int kMaxRuns = 100;

// CPU time of this thread (user and system, page faults included): the machine is shared,
// and time spent waiting for a core says nothing about either loader.
double cpu_now() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// Pages this thread has touched for the first time so far (minor page faults): fresh memory is
// dear on some machines (a virtual machine hands out each page with a cost), so it goes
// beside the time.
long fresh_pages() {
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_minflt;
}

std::string load_average() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen + " (1, 5, 15 min; " + std::to_string(::sysconf(_SC_NPROCESSORS_ONLN)) +
           " cores)";
}

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
    std::ofstream out(path, std::ios::binary);
    out << text;
    out.close();
    return out ? text.size() : 0;
}

struct cTiming {
    double parse = 0;
    double assembly = 0;
    long parse_pages = 0;  // minor page faults during each step
    long assembly_pages = 0;
    uint64_t vertices = 0;
    uint64_t indices = 0;
    bool ok = false;
    double total() const { return parse + assembly; }
};

// The indexed mesh either side produces, for the check that both produce the same mesh.
struct cMesh {
    std::vector<float> positions, normals, texcoords;
    std::vector<uint32_t> indices;
};

// The player's sequence, timed step by step (the same calls load_indexed_mesh makes).
cTiming run_player(const std::string& path, cMesh* keep = nullptr) {
    cTiming t;
    std::ostringstream sink;
    std::streambuf* console = std::cerr.rdbuf(sink.rdbuf());
    long pages = fresh_pages();
    double start = cpu_now();
    cObjLoader loader;
    loader.load_file(path);
    t.parse = cpu_now() - start;
    t.parse_pages = fresh_pages() - pages;
    pages = fresh_pages();
    start = cpu_now();
    cIndexedMesh mesh;
    loader.triangulate();
    loader.build_arrays(mesh.flags, mesh.positions, mesh.normals, mesh.texcoords, mesh.indices, mesh.ranges);
    t.assembly = cpu_now() - start;
    t.assembly_pages = fresh_pages() - pages;
    std::cerr.rdbuf(console);
    t.vertices = mesh.positions.size() / 3;
    t.indices = mesh.indices.size();
    t.ok = !loader.refused();
    if (keep) *keep = {std::move(mesh.positions), std::move(mesh.normals), std::move(mesh.texcoords), std::move(mesh.indices)};
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
cTiming run_peer(const std::string& path, cMesh* keep = nullptr) {
    cTiming t;
    long pages = fresh_pages();
    double start = cpu_now();
    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> materials;
    std::string warn, err;
    if (!tinyobj::LoadObj(&attrib, &shapes, &materials, &warn, &err, path.c_str(), nullptr, true, false)) {
        std::cerr << "peer failed: " << err << std::endl;
        return t;
    }
    t.parse = cpu_now() - start;
    t.parse_pages = fresh_pages() - pages;
    pages = fresh_pages();
    start = cpu_now();
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
    t.assembly = cpu_now() - start;
    t.assembly_pages = fresh_pages() - pages;
    t.vertices = positions.size() / 3;
    t.indices = indices.size();
    t.ok = true;
    if (keep) *keep = {std::move(positions), std::move(normals), std::move(texcoords), std::move(indices)};
    return t;
}

// Whether every corner gets the same position, normal and texture coordinate on both sides,
// whatever each side's vertex numbering; the values are compared bit for bit.
void compare_meshes(const cMesh& player, const cMesh& peer) {
    if (player.indices.size() != peer.indices.size() || player.positions.size() != peer.positions.size()) {
        std::printf("# NOT THE SAME MESH: %zu vertices and %zu indices against the peer's %zu and %zu\n",
                    player.positions.size() / 3, player.indices.size(), peer.positions.size() / 3, peer.indices.size());
        return;
    }
    std::size_t differing = 0;
    double largest = 0;
    auto compare = [&](const std::vector<float>& a, uint32_t i, const std::vector<float>& b, uint32_t j, int width) {
        for (int k = 0; k < width; ++k) {
            const float x = a[std::size_t(i) * width + k], y = b[std::size_t(j) * width + k];
            if (std::memcmp(&x, &y, sizeof(float)) != 0) ++differing, largest = std::max(largest, double(std::fabs(x - y)));
        }
    };
    const bool texcoords = !player.texcoords.empty() && !peer.texcoords.empty();
    for (std::size_t c = 0; c < player.indices.size(); ++c) {
        compare(player.positions, player.indices[c], peer.positions, peer.indices[c], 3);
        compare(player.normals, player.indices[c], peer.normals, peer.indices[c], 3);
        if (texcoords) compare(player.texcoords, player.indices[c], peer.texcoords, peer.indices[c], 2);
    }
    if (differing == 0)
        std::printf("# same mesh: every one of the %zu corners has the same position, normal and texture coordinate, "
                    "bit for bit, on both sides (%zu vertices each)\n",
                    player.indices.size(), player.positions.size() / 3);
    else
        std::printf("# NOT THE SAME VALUES: %zu corner values differ, by at most %g\n", differing, largest);
}
#endif

// Runs one load in a fresh child process (a copy of this small one), so that each load starts
// from the same heap, as a program loading its model does, and gets its timing back.
cTiming in_child(const std::function<cTiming()>& run) {
    cTiming t;
    std::fflush(stdout);
    int fds[2];
    if (::pipe(fds) != 0) return t;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        const cTiming result = run();
        ssize_t written = ::write(fds[1], &result, sizeof(result));
        ::_exit(written == ssize_t(sizeof(result)) ? 0 : 1);
    }
    ::close(fds[1]);
    if (pid > 0) {
        if (::read(fds[0], &t, sizeof(t)) != ssize_t(sizeof(t))) t = cTiming{};
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
    ::close(fds[0]);
    return t;
}

struct cSpread {
    double min, median, max;
};

cSpread spread_of(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const double median = n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
    return {values.front(), median, values.back()};
}

void print_side(const char* name, const std::vector<cTiming>& runs, double megabytes) {
    std::vector<double> total, parse, assembly, parse_pages, assembly_pages;
    for (const cTiming& t : runs) {
        total.push_back(1e3 * t.total());
        parse.push_back(1e3 * t.parse);
        assembly.push_back(1e3 * t.assembly);
        parse_pages.push_back(double(t.parse_pages));
        assembly_pages.push_back(double(t.assembly_pages));
    }
    const cSpread a = spread_of(total), b = spread_of(parse), c = spread_of(assembly);
    std::printf("%-8s %7.1f %7.1f %7.1f | %7.1f %7.1f %7.1f | %6.1f %6.1f %6.1f | %6.0f MB/s %5.2f M tri/s | %3.0f MB %3.0f MB\n",
                name, a.min, a.median, a.max, b.min, b.median, b.max, c.min, c.median, c.max,
                megabytes / (b.median / 1e3), double(runs.front().indices) / 3.0 / (a.median / 1e3) / 1e6,
                spread_of(parse_pages).median * 4096 / 1e6, spread_of(assembly_pages).median * 4096 / 1e6);
}

// The whole number in text, when it is one from low to high.
bool parse_count(const char* text, int low, int high, int& value) {
    char* end = nullptr;
    errno = 0;
    const long number = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || number < low || number > high) return false;
    value = static_cast<int>(number);
    return true;
}

// The generated file, removed however the benchmark ends (its children share the handler).
char g_path[64];
void remove_file_and_end(int signal) {
    ::unlink(g_path);
    ::_exit(128 + signal);
}

}  // namespace

int main(int argc, char** argv) {
    int grid = 708, pairs = 5;
    if (argc > 3 || (argc > 1 && !parse_count(argv[1], 1, kMaxGrid, grid)) ||
        (argc > 2 && !parse_count(argv[2], 1, kMaxRuns, pairs))) {
        std::fprintf(stderr, "usage: mesh_bench [quads per side, 1 to %d (default 708)] [runs a side, 1 to %d (default 5)]\n",
                     kMaxGrid, kMaxRuns);
        return 2;
    }
    std::snprintf(g_path, sizeof(g_path), "/tmp/demo_mesh_bench_%d.obj", static_cast<int>(::getpid()));
    const std::string path = g_path;
    std::signal(SIGINT, remove_file_and_end);
    std::signal(SIGTERM, remove_file_and_end);
    const std::size_t bytes = write_grid(path, grid);
    if (bytes == 0) {
        std::fprintf(stderr, "## ERROR: cannot write the test file \"%s\" (a full disk?)\n", path.c_str());
        std::remove(path.c_str());
        return 1;
    }
    const double megabytes = double(bytes) / 1e6;
    std::printf("# %s: %.1f MB, %d triangles; %d runs a side, each load in a fresh process, the sides taking turns;"
                " thread CPU time (user and system)\n",
                path.c_str(), megabytes, 2 * grid * grid, pairs);
    std::printf("# load before: %s\n", load_average().c_str());
    std::printf("# player: load_file (v x y z [w], vt, vn, f index lists, g; index check), triangulate (nothing to do"
                " here), build_arrays (one vertex per distinct position/normal/texcoord triple, numbered in that"
                " order; indices by group; group ranges); normals from the file\n");
#ifdef DEMO_HAVE_PEER_OBJ_LOADER
    std::printf("# peer:   LoadObj with triangulation (v, vt, vn, f, shapes per group), then one vertex per distinct"
                " position/normal/texcoord triple through std::unordered_map, numbered in first-use order; indices in"
                " face order; normals from the file\n");
    in_child([&] {
        cMesh player, peer;
        run_player(path, &player);
        run_peer(path, &peer);
        compare_meshes(player, peer);
        std::fflush(stdout);
        return cTiming{};
    });
#endif

    std::vector<cTiming> player_runs, peer_runs;
    std::vector<double> ratio_total, ratio_parse, ratio_assembly;
    for (int i = 0; i < pairs; ++i) {
        cTiming ours, theirs;
#ifdef DEMO_HAVE_PEER_OBJ_LOADER
        // Alternate who goes first, so that a drift in the machine's load favours neither.
        if (i % 2) theirs = in_child([&] { return run_peer(path); });
        ours = in_child([&] { return run_player(path); });
        if (!(i % 2)) theirs = in_child([&] { return run_peer(path); });
        if (!theirs.ok) {
            std::printf("# the peer's load failed\n");
            return 1;
        }
        peer_runs.push_back(theirs);
        ratio_total.push_back(theirs.total() / ours.total());
        ratio_parse.push_back(theirs.parse / ours.parse);
        ratio_assembly.push_back(theirs.assembly / ours.assembly);
#else
        ours = in_child([&] { return run_player(path); });
#endif
        if (!ours.ok) {
            std::printf("# the player's load failed\n");
            return 1;
        }
        player_runs.push_back(ours);
    }

    std::printf("#          total ms (min med max)  | parse ms (min med max)  | assembly ms (min med max) | parse, "
                "total (medians)    | fresh memory: parse, assembly\n");
    print_side("player", player_runs, megabytes);
#ifdef DEMO_HAVE_PEER_OBJ_LOADER
    print_side("peer", peer_runs, megabytes);
    const cSpread t = spread_of(ratio_total), p = spread_of(ratio_parse), a = spread_of(ratio_assembly);
    std::printf("# player is %.2fx as fast as the peer overall (min %.2f, max %.2f over %d pairs); parse %.2fx (%.2f-%.2f),"
                " assembly %.2fx (%.2f-%.2f)\n",
                t.median, t.min, t.max, pairs, p.median, p.min, p.max, a.median, a.min, a.max);
    if (peer_runs.front().vertices != player_runs.front().vertices ||
        peer_runs.front().indices != player_runs.front().indices)
        std::printf("# note: the two meshes differ in size\n");
#else
    std::printf("# the peer OBJ library was not found at configure time: player figures only\n");
#endif
    std::printf("# load after: %s\n", load_average().c_str());
    std::remove(path.c_str());
    return 0;
}
