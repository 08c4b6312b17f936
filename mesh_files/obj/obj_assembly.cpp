// The assembly steps of cObjLoader: triangulation, smooth normals, the indexed mesh with its
// vertex numbering and group ranges, and unify_by_position. Works on data that load_file has
// checked (every index inside its array); never reads a file.
#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <unordered_map>

#include "mesh_files/obj/mesh_config.h"
#include "mesh_files/obj/mesh_exit.h"
#include "mesh_files/obj/obj_loader.h"

// ---- triangulate ----

void cObjLoader::triangulate() {
    if (refused_) return;
    const bool with_texcoords = flags_ & kMeshHasTexcoords;
    const bool with_normals = flags_ & kMeshHasNormals;
    const std::size_t face_count = faces.size();
    for (std::size_t f = 0; f < face_count; ++f) {
        uint32_t k = faces[f].position_count;
        if (k < 3) {
            std::cerr << "Malformed face. " << k << " vertices in face. Aborting triangulation" << std::endl;
            // Without normals, smooth_normals meets the face and ends the load. With them
            // nothing would: the face would go into the index array as a broken triangle and
            // shift every later one, so the load is refused here.
            if (with_normals) {
                std::cerr << "## ERROR in \"" << path_ << "\" line " << faces[f].line << ": the face has " << k
                          << " corners, fewer than three; the file is not loaded" << std::endl;
                refused_ = true;
            }
            return;
        }
        // A fan around corner 0: (0, k-2, k-1) goes to the end of the list, then the face
        // loses its last corner, until it is the triangle (0, 1, 2).
        while (k > 3) {
            const cObjFace source = faces[f];
            cObjFace triangle;
            triangle.first = static_cast<uint32_t>(corners.size());
            triangle.position_count = 3;
            triangle.texcoord_count = with_texcoords ? 3 : 0;
            triangle.normal_count = with_normals ? 3 : 0;
            triangle.group = source.group;
            triangle.line = source.line;
            const uint32_t picks[3] = {0, k - 2, k - 1};
            for (uint32_t pick : picks) {
                const cObjCorner from = corners[source.first + pick];
                cObjCorner corner;
                corner.position = from.position;
                if (with_texcoords) corner.texcoord = from.texcoord;
                if (with_normals) corner.normal = from.normal;
                corners.push_back(corner);
            }
            faces.push_back(triangle);

            cObjFace& shrunk = faces[f];
            --shrunk.position_count;
            if (with_texcoords && shrunk.texcoord_count > 0) --shrunk.texcoord_count;
            if (with_normals && shrunk.normal_count > 0) --shrunk.normal_count;
            --k;
        }
    }
    flags_ &= static_cast<uint8_t>(~kMeshHasPolygons);
}

// ---- smooth_normals ----

namespace {

// Divides the vector by its length. The float computation is the usual one; when it cannot
// give a unit vector (a squared length that overflows, or that falls below the normal floats,
// where too few of its digits are left) the length is taken in double, and a vector with no
// direction at all gets the fallback normal.
void normalize_or_fallback(float* n) {
    float squared = std::fabs(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (squared >= std::numeric_limits<float>::min() && std::isfinite(squared)) {
        float length = std::sqrt(squared);
        float x = n[0] / length, y = n[1] / length, z = n[2] / length;
        if (std::isfinite(x) && std::isfinite(y) && std::isfinite(z)) {
            n[0] = x, n[1] = y, n[2] = z;
            return;
        }
    }
    double dx = n[0], dy = n[1], dz = n[2];
    double wide = std::sqrt(dx * dx + dy * dy + dz * dz);
    if (wide > 0.0 && std::isfinite(wide)) {
        float x = static_cast<float>(dx / wide), y = static_cast<float>(dy / wide), z = static_cast<float>(dz / wide);
        if (std::isfinite(x) && std::isfinite(y) && std::isfinite(z) && (x != 0.0f || y != 0.0f || z != 0.0f)) {
            n[0] = x, n[1] = y, n[2] = z;
            return;
        }
    }
    n[0] = kMeshFallbackNormal[0], n[1] = kMeshFallbackNormal[1], n[2] = kMeshFallbackNormal[2];
}

}  // namespace

void cObjLoader::smooth_normals() {
    if (refused_) return;
    const std::size_t position_count = positions.size() / 4;
    normals.assign(position_count * 3, 0.0f);
    for (cObjFace& face : faces) {
        if (face.position_count < 3) {
            std::cerr << "Malformed polygon in " << "cObjLoader::smooth_normals" << " - exiting!" << std::endl;
            refused_ = true;
            mesh_exit(kMeshExitStatus);
            return;
        }
        cObjCorner* corner = corners.data() + face.first;
        const float* p0 = positions.data() + 4 * static_cast<std::size_t>(corner[0].position);
        const float* p1 = positions.data() + 4 * static_cast<std::size_t>(corner[1].position);
        const float* p2 = positions.data() + 4 * static_cast<std::size_t>(corner[2].position);
        // Not normalised: larger faces weigh more in the average.
        const float a[3] = {p0[0] - p1[0], p0[1] - p1[1], p0[2] - p1[2]};
        const float b[3] = {p0[0] - p2[0], p0[1] - p2[1], p0[2] - p2[2]};
        const float n[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
        for (uint32_t i = 0; i < face.position_count; ++i) {
            float* target = normals.data() + 3 * static_cast<std::size_t>(corner[i].position);
            target[0] += n[0];
            target[1] += n[1];
            target[2] += n[2];
            corner[i].normal = corner[i].position;
        }
        face.normal_count = face.position_count;
    }
    for (std::size_t i = 0; i < position_count; ++i) normalize_or_fallback(normals.data() + 3 * i);
    flags_ |= kMeshHasNormals;
}

// ---- build_arrays ----

namespace {

// The vertex table: one vertex per distinct (position, normal, texcoord) triple. Most positions
// are used with a single (normal, texcoord) pair, so each position holds its first pair in
// place and that vertex's table number is the position's own: one flat array indexed by
// position, no allocation per vertex. Further pairs of a position (seams, hard edges) are
// numbered from the position count on and chained per position; a position with very many
// pairs is looked up in a hash map instead, so that no file can make the lookups quadratic.
class cVertexTable {
public:
    struct cPair {
        int32_t normal, texcoord;
    };
    struct cExtra {
        int32_t normal, texcoord;
        uint32_t next;  // the position's previous extra pair, or kNone
    };
    static constexpr int32_t kEmpty = std::numeric_limits<int32_t>::min();  // no valid index is negative
    static constexpr uint32_t kNone = 0xffffffffu;

    explicit cVertexTable(std::size_t position_count) : slots_(position_count, cPair{kEmpty, kEmpty}) {}

    uint32_t find_or_add(int32_t position, int32_t normal, int32_t texcoord) {
        cPair& slot = slots_[static_cast<std::size_t>(position)];
        if (slot.normal == normal && slot.texcoord == texcoord) return static_cast<uint32_t>(position);
        if (slot.normal == kEmpty) {
            slot = {normal, texcoord};
            ++used_;
            return static_cast<uint32_t>(position);
        }
        return find_or_add_extra(position, normal, texcoord);
    }

    // Every position used, each with one pair: table numbers are vertex numbers already.
    bool one_vertex_per_position() const { return extras.empty() && used_ == slots_.size(); }
    std::size_t vertex_count() const { return used_ + extras.size(); }
    const cPair& slot(std::size_t position) const { return slots_[position]; }
    // The newest extra pair of a position (its table number less the position count), or kNone.
    uint32_t last_extra(std::size_t position) const { return extra_head_.empty() ? kNone : extra_head_[position]; }
    cPair pair_of(uint32_t number) const {
        if (number < slots_.size()) return slots_[number];
        const cExtra& e = extras[number - slots_.size()];
        return {e.normal, e.texcoord};
    }

    std::vector<cExtra> extras;

private:
    struct cKey {
        int32_t position, normal, texcoord;
        bool operator==(const cKey&) const = default;
    };
    struct cKeyHash {
        std::size_t operator()(const cKey& k) const {
            uint64_t h = uint64_t(uint32_t(k.position)) * 0x9e3779b97f4a7c15ull;
            h ^= (uint64_t(uint32_t(k.normal)) << 32 | uint32_t(k.texcoord)) * 0xc2b2ae3d27d4eb4full;
            return static_cast<std::size_t>(h ^ (h >> 29));
        }
    };
    static constexpr uint32_t kChainLimit = 32;

    [[gnu::noinline]] uint32_t find_or_add_extra(int32_t position, int32_t normal, int32_t texcoord) {
        const std::size_t p = static_cast<std::size_t>(position);
        if (extra_head_.empty()) extra_head_.assign(slots_.size(), kNone);
        if (!crowded_.empty() && crowded_[p]) {
            auto [it, added] = crowded_table_.try_emplace({position, normal, texcoord}, 0u);
            if (added) it->second = add(p, normal, texcoord);
            return number(it->second);
        }
        uint32_t steps = 0;
        for (uint32_t e = extra_head_[p]; e != kNone; e = extras[e].next, ++steps)
            if (extras[e].normal == normal && extras[e].texcoord == texcoord) return number(e);
        const uint32_t e = add(p, normal, texcoord);
        if (steps >= kChainLimit) crowd(position);
        return number(e);
    }
    uint32_t number(uint32_t extra) const { return static_cast<uint32_t>(slots_.size()) + extra; }
    uint32_t add(std::size_t p, int32_t normal, int32_t texcoord) {
        const uint32_t e = static_cast<uint32_t>(extras.size());
        extras.push_back({normal, texcoord, extra_head_[p]});
        extra_head_[p] = e;
        return e;
    }
    void crowd(int32_t position) {
        const std::size_t p = static_cast<std::size_t>(position);
        if (crowded_.empty()) crowded_.assign(slots_.size(), 0);
        crowded_[p] = 1;
        for (uint32_t e = extra_head_[p]; e != kNone; e = extras[e].next)
            crowded_table_.emplace(cKey{position, extras[e].normal, extras[e].texcoord}, e);
    }

    std::vector<cPair> slots_;
    std::size_t used_ = 0;
    std::vector<uint32_t> extra_head_;  // per position; empty while no position has a second pair
    std::vector<uint8_t> crowded_;
    std::unordered_map<cKey, uint32_t, cKeyHash> crowded_table_;
};

}  // namespace

void cObjLoader::build_arrays(uint8_t& flags, std::vector<float>& out_positions, std::vector<float>& out_normals,
                              std::vector<float>& out_texcoords, std::vector<uint32_t>& out_indices,
                              std::vector<cGroupRange>& out_ranges) {
    out_positions.clear();
    out_normals.clear();
    out_indices.clear();
    out_ranges.clear();
    const bool with_texcoords = flags_ & kMeshHasTexcoords;
    if (with_texcoords) out_texcoords.clear();
    flags = flags_;
    if (refused_) return;

    if (!(flags_ & kMeshHasNormals)) {
        std::cerr << "# warning, created smooth normals..." << std::endl;
        smooth_normals();
        if (refused_) return;
    }

    // Register the combinations, writing each corner's table number into the index array
    // for now, and open a range wherever the group changes. A range starts at the number of
    // indices written so far: three per face whenever every face is a triangle, and still
    // inside the index array when a malformed face stopped the triangulation.
    // The faces go by ascending group number, in face order within a group. The parser
    // numbers groups in file order, so the faces nearly always come in that order already;
    // only triangles that triangulation appended after several groups need the (stable
    // counting) sort, and the registration then starts again in that order.
    if (verbose_) std::cerr << "register combinations (" << faces.size() << ")... ";
    // Indices are int32, so positions past 2^31 cannot be used; without them, table numbers
    // (positions, then at most one per corner) fit in 32 bits.
    const std::size_t position_count = std::min(positions.size() / 4, std::size_t(INT32_MAX) + 1);
    cVertexTable table(position_count);
    // Every face's corners lie in the pool, so the pool's size is room enough; written in
    // place, and the array grows should some hand-made data need more.
    out_indices.resize(corners.size());
    std::size_t written = 0;
    int32_t last_group = -1;
    // Inlined at both of its calls: a call per face would cost as much as the face's own work.
    auto register_face = [&](const cObjFace& face) __attribute__((always_inline)) {
        if (face.group != last_group) {
            out_ranges.push_back({static_cast<int32_t>(written), face.group});
            last_group = face.group;
        }
        if (out_indices.size() - written < face.position_count)
            out_indices.resize(written + face.position_count + out_indices.size() / 2);
        uint32_t* index = out_indices.data() + written;
        written += face.position_count;
        const cObjCorner* corner = corners.data() + face.first;
        const cObjCorner* const end = corner + face.position_count;
        if (with_texcoords) {
            for (; corner != end; ++corner) *index++ = table.find_or_add(corner->position, corner->normal, corner->texcoord);
        } else {
            for (; corner != end; ++corner) *index++ = table.find_or_add(corner->position, corner->normal, -1);
        }
    };
    bool in_order = true;
    for (const cObjFace& face : faces) {
        if (face.group < last_group) {
            in_order = false;
            break;
        }
        register_face(face);
    }
    if (!in_order) {
        int32_t lowest = 0, highest = -1;
        for (const cObjFace& face : faces) {
            lowest = std::min(lowest, face.group);
            highest = std::max(highest, face.group);
        }
        std::vector<uint32_t> face_order(faces.size());
        std::vector<uint32_t> group_start(static_cast<std::size_t>(static_cast<int64_t>(highest) - lowest) + 2, 0);
        for (const cObjFace& face : faces) ++group_start[static_cast<std::size_t>(face.group - lowest) + 1];
        for (std::size_t g = 1; g < group_start.size(); ++g) group_start[g] += group_start[g - 1];
        for (std::size_t f = 0; f < faces.size(); ++f)
            face_order[group_start[static_cast<std::size_t>(faces[f].group - lowest)]++] = static_cast<uint32_t>(f);
        // The table keeps what the first pass registered: the vertex numbers depend on the
        // set of combinations, not on the order they were met in.
        written = 0;
        out_ranges.clear();
        last_group = -1;
        for (uint32_t f : face_order) register_face(faces[f]);
    }
    // Faces before the first "g" (group -1) open no range of their own; the first range starts
    // at index 0 so that they are drawn with it, and the groups keep their positions.
    out_indices.resize(written);
    if (out_ranges.empty()) out_ranges.push_back({0, 0});
    out_ranges.front().first = 0;
    out_ranges.push_back({static_cast<int32_t>(out_indices.size()), -1});

    // Number the vertices in the order of (position, normal, texcoord) and gather their
    // attributes; then turn the index array's table numbers into vertex numbers (nothing to
    // turn when every position is one vertex: the numbers are the same).
    if (verbose_) std::cerr << "inserting data... ";
    const std::size_t vertex_count = table.vertex_count();
    const bool renumber = !table.one_vertex_per_position();
    std::vector<uint32_t> vertex_of(renumber ? position_count + table.extras.size() : 0);
    out_positions.resize(vertex_count * 3);
    out_normals.resize(vertex_count * 3);
    if (with_texcoords) out_texcoords.resize(vertex_count * 2);
    float* out_position = out_positions.data();
    float* out_normal = out_normals.data();
    float* out_texcoord = out_texcoords.data();
    uint32_t vertex = 0;
    auto emit = [&](std::size_t p, uint32_t number, cVertexTable::cPair pair) {
        if (renumber) vertex_of[number] = vertex;
        const float* position = positions.data() + 4 * p;
        out_position[0] = position[0], out_position[1] = position[1], out_position[2] = position[2];
        out_position += 3;
        const float* normal = normals.data() + 3 * static_cast<std::size_t>(pair.normal);
        out_normal[0] = normal[0], out_normal[1] = normal[1], out_normal[2] = normal[2];
        out_normal += 3;
        if (with_texcoords) {
            const float* uv = texcoords.data() + 2 * static_cast<std::size_t>(pair.texcoord);
            out_texcoord[0] = uv[0], out_texcoord[1] = uv[1];
            out_texcoord += 2;
        }
        ++vertex;
    };
    std::vector<uint32_t> chain;
    auto less = [&](uint32_t a, uint32_t b) {
        const cVertexTable::cPair x = table.pair_of(a), y = table.pair_of(b);
        return x.normal != y.normal ? x.normal < y.normal : x.texcoord < y.texcoord;
    };
    for (std::size_t p = 0; p < position_count && vertex < vertex_count; ++p) {
        const cVertexTable::cPair& slot = table.slot(p);
        if (slot.normal == cVertexTable::kEmpty) continue;
        uint32_t e = table.last_extra(p);
        if (e == cVertexTable::kNone) {
            emit(p, static_cast<uint32_t>(p), slot);
            continue;
        }
        chain.assign(1, static_cast<uint32_t>(p));
        for (; e != cVertexTable::kNone; e = table.extras[e].next) chain.push_back(static_cast<uint32_t>(position_count + e));
        std::sort(chain.begin(), chain.end(), less);
        for (uint32_t number : chain) emit(p, number, table.pair_of(number));
    }
    if (verbose_) std::cerr << "building lookup-group map" << std::endl;
    if (verbose_) std::cerr << "iterate faces by ascending material-index" << std::endl;
    if (renumber)
        for (uint32_t& i : out_indices) i = vertex_of[i];
    if (out_indices.capacity() > out_indices.size() + out_indices.size() / 4) out_indices.shrink_to_fit();
    flags = flags_;
}

// ---- unify_by_position ----

void cObjLoader::unify_by_position() {
    if (refused_) return;
    smooth_normals();
    if (refused_) return;
    const bool with_texcoords = flags_ & kMeshHasTexcoords;
    if (with_texcoords) {
        for (std::size_t f = 0; f < faces.size(); ++f) {
            cObjFace& face = faces[f];
            if (face.texcoord_count > 0) continue;
            std::cerr << "# warning: missing texcoords in face " << f << ". Using first texcoord." << std::endl;
            for (uint32_t i = 0; i < face.position_count; ++i) corners[face.first + i].texcoord = 0;
            face.texcoord_count = face.position_count;
        }
    }
    // Every position, in order of first use, becomes one vertex.
    const std::size_t position_count = positions.size() / 4;
    std::vector<int32_t> vertex_of(position_count, -1);
    std::vector<float> new_positions, new_normals, new_texcoords;
    int32_t vertex_count = 0;
    for (cObjFace& face : faces) {
        for (uint32_t i = 0; i < face.position_count; ++i) {
            cObjCorner& corner = corners[face.first + i];
            int32_t& vertex = vertex_of[static_cast<std::size_t>(corner.position)];
            if (vertex < 0) {
                vertex = vertex_count++;
                const float* p = positions.data() + 4 * static_cast<std::size_t>(corner.position);
                new_positions.insert(new_positions.end(), p, p + 4);
                const float* n = normals.data() + 3 * static_cast<std::size_t>(corner.position);
                new_normals.insert(new_normals.end(), n, n + 3);
                if (with_texcoords) {
                    // A file that set the flag but has no coordinates at all gets (0, 0).
                    float uv[2] = {0.0f, 0.0f};
                    std::size_t t = static_cast<std::size_t>(corner.texcoord);
                    if (corner.texcoord >= 0 && 2 * t + 1 < texcoords.size()) uv[0] = texcoords[2 * t], uv[1] = texcoords[2 * t + 1];
                    new_texcoords.insert(new_texcoords.end(), uv, uv + 2);
                }
            }
            corner.position = corner.normal = vertex;
            corner.texcoord = with_texcoords ? vertex : -1;
        }
    }
    positions = std::move(new_positions);
    normals = std::move(new_normals);
    if (with_texcoords) texcoords = std::move(new_texcoords);
}
