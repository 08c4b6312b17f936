// The assembly steps of cObjLoader: triangulation, smooth normals, the indexed mesh with its
// vertex numbering and group ranges, and unify_by_position. Works on data that load_file has
// checked (every index inside its array); never reads a file.
#include <algorithm>
#include <cmath>
#include <iostream>

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
// give a finite unit vector (a length that underflows or overflows in float) the length is
// taken in double, and a vector with no direction at all gets the fallback normal.
void normalize_or_fallback(float* n) {
    float length = std::sqrt(std::fabs(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]));
    if (length > 0.0f && std::isfinite(length)) {
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

// A corner's normal and texture-coordinate index and where it sits in the corner pool; the
// corners of one position are sorted by (normal, texcoord) to number their vertices.
struct cCornerKey {
    int32_t normal;
    int32_t texcoord;
    uint32_t slot;
};

inline bool key_less(const cCornerKey& a, const cCornerKey& b) {
    return a.normal != b.normal ? a.normal < b.normal : a.texcoord < b.texcoord;
}

void sort_keys(cCornerKey* first, cCornerKey* last) {
    // Most positions are shared by a handful of corners: insertion sort wins there.
    if (last - first > 16) {
        std::sort(first, last, key_less);
        return;
    }
    for (cCornerKey* i = first + 1; i < last; ++i) {
        cCornerKey key = *i;
        cCornerKey* j = i;
        while (j > first && key_less(key, j[-1])) {
            *j = j[-1];
            --j;
        }
        *j = key;
    }
}

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

    // Register the combinations. The table is ordered by (position, normal, texcoord):
    // bucket the corners by position, then sort each bucket by (normal, texcoord).
    if (verbose_) std::cerr << "register combinations (" << faces.size() << ")... ";
    const std::size_t position_count = positions.size() / 4;
    std::vector<uint32_t> bucket_start(position_count + 1, 0);
    std::size_t corner_count = 0;
    for (const cObjFace& face : faces) {
        for (uint32_t i = 0; i < face.position_count; ++i) ++bucket_start[corners[face.first + i].position + 1];
        corner_count += face.position_count;
    }
    for (std::size_t p = 0; p < position_count; ++p) bucket_start[p + 1] += bucket_start[p];
    std::vector<cCornerKey> keys(corner_count);
    {
        std::vector<uint32_t> cursor(bucket_start.begin(), bucket_start.end() - 1);
        for (const cObjFace& face : faces) {
            for (uint32_t i = 0; i < face.position_count; ++i) {
                const cObjCorner& corner = corners[face.first + i];
                keys[cursor[corner.position]++] = {corner.normal, with_texcoords ? corner.texcoord : -1, face.first + i};
            }
        }
    }

    // Number the vertices in key order and gather their attributes.
    if (verbose_) std::cerr << "inserting data... ";
    std::vector<uint32_t> vertex_of(corners.size());
    out_positions.reserve(corner_count * 3);
    out_normals.reserve(corner_count * 3);
    if (with_texcoords) out_texcoords.reserve(corner_count * 2);
    uint32_t vertex_count = 0;
    for (std::size_t p = 0; p < position_count; ++p) {
        cCornerKey* first = keys.data() + bucket_start[p];
        cCornerKey* last = keys.data() + bucket_start[p + 1];
        if (first == last) continue;
        sort_keys(first, last);
        const float* position = positions.data() + 4 * p;
        for (cCornerKey* key = first; key < last; ++key) {
            if (key == first || key_less(key[-1], *key)) {
                out_positions.insert(out_positions.end(), position, position + 3);
                const float* normal = normals.data() + 3 * static_cast<std::size_t>(key->normal);
                out_normals.insert(out_normals.end(), normal, normal + 3);
                if (with_texcoords) {
                    const float* uv = texcoords.data() + 2 * static_cast<std::size_t>(key->texcoord);
                    out_texcoords.insert(out_texcoords.end(), uv, uv + 2);
                }
                ++vertex_count;
            }
            vertex_of[key->slot] = vertex_count - 1;
        }
    }
    keys = {};

    // The group table: faces by ascending group number, in face order within a group
    // (a stable counting sort, since group numbers are small and dense).
    if (verbose_) std::cerr << "building lookup-group map" << std::endl;
    int32_t lowest = 0, highest = -1;
    for (const cObjFace& face : faces) {
        lowest = std::min(lowest, face.group);
        highest = std::max(highest, face.group);
    }
    std::vector<uint32_t> group_start(static_cast<std::size_t>(static_cast<int64_t>(highest) - lowest) + 2, 0);
    for (const cObjFace& face : faces) ++group_start[static_cast<std::size_t>(face.group - lowest) + 1];
    for (std::size_t g = 1; g < group_start.size(); ++g) group_start[g] += group_start[g - 1];
    std::vector<uint32_t> face_order(faces.size());
    for (std::size_t f = 0; f < faces.size(); ++f)
        face_order[group_start[static_cast<std::size_t>(faces[f].group - lowest)]++] = static_cast<uint32_t>(f);

    // The indices and ranges. A range starts at the number of indices written so far, which
    // is three per face whenever every face is a triangle, and stays inside the index array
    // when a malformed face stopped the triangulation.
    if (verbose_) std::cerr << "iterate faces by ascending material-index" << std::endl;
    out_indices.reserve(corner_count);
    int32_t last_group = -1;
    for (uint32_t f : face_order) {
        const cObjFace& face = faces[f];
        if (face.group != last_group) {
            out_ranges.push_back({static_cast<int32_t>(out_indices.size()), face.group});
            last_group = face.group;
        }
        for (uint32_t i = 0; i < face.position_count; ++i) out_indices.push_back(vertex_of[face.first + i]);
    }
    if (out_ranges.empty()) out_ranges.push_back({0, 0});
    out_ranges.push_back({static_cast<int32_t>(out_indices.size()), -1});
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
