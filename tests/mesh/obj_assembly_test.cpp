// Assembly of the indexed mesh: fan triangulation, smooth normals, the vertex numbering by
// (position, normal, texcoord) index, the group ranges, the loading sequence of the model
// manager, the bounding box and the supported-file check.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <tuple>
#include <vector>

#include "mesh_files/obj/indexed_mesh.h"
#include "mesh_files/obj/mesh_config.h"
#include "mesh_files/obj/obj_loader.h"
#include "obj_test_support.h"

namespace {

using ints = std::vector<int32_t>;
using floats = std::vector<float>;
using indices_t = std::vector<uint32_t>;
using ranges_t = std::vector<cGroupRange>;

const char* const kCubePositions =
    "v -1 -1 -1\nv 1 -1 -1\nv 1 1 -1\nv -1 1 -1\nv -1 -1 1\nv 1 -1 1\nv 1 1 1\nv -1 1 1\n";
const char* const kCubeNormals = "vn 0 0 -1\nvn 0 0 1\nvn 0 -1 0\nvn 0 1 0\nvn -1 0 0\nvn 1 0 0\n";
const char* const kCubeFacesWithNormals =
    "f 1//1 4//1 3//1 2//1\nf 5//2 6//2 7//2 8//2\nf 1//3 2//3 6//3 5//3\n"
    "f 4//4 8//4 7//4 3//4\nf 1//5 5//5 8//5 4//5\nf 2//6 3//6 7//6 6//6\n";
const char* const kCubeFaces = "f 1 4 3 2\nf 5 6 7 8\nf 1 2 6 5\nf 4 8 7 3\nf 1 5 8 4\nf 2 3 7 6\n";

// The whole loading sequence on text, with its messages.
struct cAssembled {
    cIndexedMesh mesh;
    bool accepted = false;
    std::string messages;
    std::string path;
};

cAssembled assemble(const std::string& text) {
    cTempDir dir;
    std::string path = dir.write("mesh.obj", text);
    cAssembled out;
    out.path = path;
    out.messages = stderr_of([&] { out.accepted = load_indexed_mesh(path, out.mesh); });
    // Drop the parser's frame so that tests see the assembly's own messages.
    std::string frame = parse_frame(path);
    if (out.messages.compare(0, frame.size(), frame) == 0) out.messages.erase(0, frame.size());
    return out;
}

floats normal_of(const cIndexedMesh& mesh, uint32_t vertex) {
    return {mesh.normals[3 * vertex], mesh.normals[3 * vertex + 1], mesh.normals[3 * vertex + 2]};
}

}  // namespace

// ---- triangulate ----

TEST(ObjTriangulate, polygons_become_fans_appended_at_the_end_in_order) {
    cTempDir dir;
    cObjLoader loader;
    load_text(loader, dir,
              "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv -1 1 0\n"
              "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvt 0 2\nvn 0 0 1\n"
              "f 1/1/1 2/2/1 3/3/1 4/4/1\ng g1\nf 1/5/1 2/4/1 3/3/1 4/2/1 5/1/1\n");
    ASSERT_EQ(loader.flags() & kMeshHasPolygons, kMeshHasPolygons);
    std::string err = stderr_of([&] { loader.triangulate(); });
    EXPECT_EQ(err, "");
    ASSERT_EQ(loader.faces.size(), 5u);
    EXPECT_EQ(loader.position_indices(0), (ints{0, 1, 2}));
    EXPECT_EQ(loader.position_indices(1), (ints{0, 1, 2}));
    EXPECT_EQ(loader.position_indices(2), (ints{0, 2, 3}));  // quad (1, 2, 3, 4) -> (1, 3, 4)
    EXPECT_EQ(loader.position_indices(3), (ints{0, 3, 4}));  // pentagon: (1, 4, 5) first ...
    EXPECT_EQ(loader.position_indices(4), (ints{0, 2, 3}));  // ... then (1, 3, 4)
    EXPECT_EQ(loader.texcoord_indices(2), (ints{0, 2, 3}));
    EXPECT_EQ(loader.texcoord_indices(3), (ints{4, 1, 0}));
    EXPECT_EQ(loader.texcoord_indices(1), (ints{4, 3, 2}));
    EXPECT_EQ(loader.normal_indices(3), (ints{0, 0, 0}));
    EXPECT_EQ(loader.faces[2].group, -1);
    EXPECT_EQ(loader.faces[3].group, 0);
    EXPECT_EQ(loader.faces[4].group, 0);
    EXPECT_EQ(loader.flags() & kMeshHasPolygons, 0);
}

TEST(ObjTriangulate, a_face_of_fewer_than_three_corners_stops_the_triangulation_there) {
    cTempDir dir;
    cObjLoader loader;
    load_text(loader, dir, "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3 4\nf 1 2\nf 1 2 3 4\n");
    std::string err = stderr_of([&] { loader.triangulate(); });
    EXPECT_EQ(err, "Malformed face. 2 vertices in face. Aborting triangulation\n");
    ASSERT_EQ(loader.faces.size(), 4u);  // the first quad was split before the stop
    EXPECT_EQ(loader.position_indices(2), (ints{0, 1, 2, 3}));
    EXPECT_EQ(loader.flags() & kMeshHasPolygons, kMeshHasPolygons);
}

// ---- smooth normals ----

TEST(ObjSmoothNormals, normals_are_area_weighted_per_position_and_faces_point_at_them) {
    cTempDir dir;
    cObjLoader loader;
    // A large triangle in the xy plane and a small one in the xz plane share the edge 1-2.
    load_text(loader, dir, "v 0 0 0\nv 1 0 0\nv 0 4 0\nv 0 0 -1\nf 1 2 3\nf 1 2 4\n");
    loader.smooth_normals();
    EXPECT_EQ(loader.flags() & kMeshHasNormals, kMeshHasNormals);
    ASSERT_EQ(loader.normals.size(), 12u);
    EXPECT_EQ(loader.normal_indices(1), loader.position_indices(1));
    // Position 3 is used by the large face alone: +z.
    EXPECT_FLOAT_EQ(loader.normals[6], 0.0f);
    EXPECT_FLOAT_EQ(loader.normals[8], 1.0f);
    // Positions 1 and 2: (0, 0, 4) + (0, 1, 0) normalised.
    const float length = std::sqrt(17.0f);
    EXPECT_FLOAT_EQ(loader.normals[1], 1.0f / length);
    EXPECT_FLOAT_EQ(loader.normals[2], 4.0f / length);
}

TEST(ObjSmoothNormals, positions_without_area_get_a_finite_fallback_normal) {
    cTempDir dir;
    cObjLoader loader;
    // Face 1 is degenerate (all corners on a line); position 5 is used by no face; position 6
    // lies at infinity.
    load_text(loader, dir, "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 2 0 0\nv 5 5 5\nv 1e400 0 0\nf 2 4 1\nf 1 2 3\nf 6 1 3\n");
    loader.smooth_normals();
    for (std::size_t i = 0; i < loader.normals.size(); ++i) ASSERT_TRUE(std::isfinite(loader.normals[i])) << i;
    EXPECT_EQ((floats{loader.normals[9], loader.normals[10], loader.normals[11]}),
              (floats{kMeshFallbackNormal[0], kMeshFallbackNormal[1], kMeshFallbackNormal[2]}));
    EXPECT_EQ((floats{loader.normals[12], loader.normals[13], loader.normals[14]}),
              (floats{kMeshFallbackNormal[0], kMeshFallbackNormal[1], kMeshFallbackNormal[2]}));
    // Tiny faces still get their true direction although their length underflows in float.
    cObjLoader tiny;
    load_text(tiny, dir, "v 0 0 0\nv 1e-30 0 0\nv 0 1e-30 0\nf 1 2 3\n");
    tiny.smooth_normals();
    EXPECT_EQ(tiny.normals, (floats{0, 0, 1, 0, 0, 1, 0, 0, 1}));
    // Microscopic faces whose squared normal length is a subnormal float: still unit length,
    // here (0, -1, 1) / sqrt(2).
    cObjLoader micro;
    load_text(micro, dir, "v 0 0 0\nv 1e-11 0 0\nv 0 1e-11 1e-11\nf 1 2 3\n");
    micro.smooth_normals();
    ASSERT_EQ(micro.normals.size(), 9u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(micro.normals[3 * i], 0.0f) << i;
        EXPECT_NEAR(micro.normals[3 * i + 1], -0.70710678, 1e-7) << i;
        EXPECT_NEAR(micro.normals[3 * i + 2], 0.70710678, 1e-7) << i;
    }
}

TEST(ObjSmoothNormals, a_face_of_fewer_than_three_corners_ends_the_process) {
    cExitRecorder exits;
    auto result = assemble("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nf 1 2\n");
    EXPECT_EQ(result.messages,
              "Malformed face. 2 vertices in face. Aborting triangulation\n"
              "# warning, created smooth normals...\n"
              "Malformed polygon in cObjLoader::smooth_normals - exiting!\n");
    EXPECT_EQ(cExitRecorder::calls(), 1);
    EXPECT_EQ(cExitRecorder::status(), -1);
    EXPECT_FALSE(result.accepted);
    EXPECT_TRUE(result.mesh.indices.empty());
}

TEST(ObjSmoothNormalsDeathTest, the_default_exit_status_is_255) {
    cTempDir dir;
    std::string path = dir.write("mesh.obj", "v 0 0 0\nv 1 0 0\nf -1 -2 -3\n");
    cIndexedMesh mesh;
    EXPECT_EXIT(load_indexed_mesh(path, mesh), ::testing::ExitedWithCode(255),
                "Malformed polygon in cObjLoader::smooth_normals - exiting!");
}

// ---- vertex numbering ----

TEST(ObjBuildArrays, vertices_are_numbered_by_position_index_not_by_first_use) {
    auto result = assemble("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 3 1 2\n");
    EXPECT_EQ(result.messages, "# warning, created smooth normals...\n");
    EXPECT_EQ(result.mesh.indices, (indices_t{2, 0, 1}));
    EXPECT_EQ(result.mesh.positions, (floats{0, 0, 0, 1, 0, 0, 0, 1, 0}));
    EXPECT_EQ(result.mesh.flags, kMeshHasNormals);
    EXPECT_TRUE(result.mesh.texcoords.empty());
}

TEST(ObjBuildArrays, a_cube_has_24_vertices_with_face_normals_and_8_with_smooth_ones) {
    auto faceted = assemble(std::string(kCubePositions) + kCubeNormals + kCubeFacesWithNormals);
    EXPECT_EQ(faceted.messages, "");
    EXPECT_EQ(faceted.mesh.positions.size(), 24u * 3);
    EXPECT_EQ(faceted.mesh.indices.size(), 36u);
    EXPECT_EQ(faceted.mesh.flags, kMeshHasNormals);
    // Vertex 0 is (position 1, normal 1), vertex 1 (position 1, normal 3), vertex 2 (1, 5).
    EXPECT_EQ(normal_of(faceted.mesh, 0), (floats{0, 0, -1}));
    EXPECT_EQ(normal_of(faceted.mesh, 1), (floats{0, -1, 0}));
    EXPECT_EQ(normal_of(faceted.mesh, 2), (floats{-1, 0, 0}));
    // First triangle: corners (1//1, 4//1, 3//1) -> vertices of positions 1, 4, 3 with normal 1.
    EXPECT_EQ(faceted.mesh.indices[0], 0u);
    EXPECT_EQ(faceted.mesh.indices[1], 9u);
    EXPECT_EQ(faceted.mesh.indices[2], 6u);

    auto smooth = assemble(std::string(kCubePositions) + kCubeFaces);
    EXPECT_EQ(smooth.messages, "# warning, created smooth normals...\n");
    EXPECT_EQ(smooth.mesh.positions.size(), 8u * 3);
    EXPECT_EQ(smooth.mesh.indices.size(), 36u);
    EXPECT_EQ(smooth.mesh.flags, kMeshHasNormals);
    const float third = 1.0f / std::sqrt(3.0f);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(normal_of(smooth.mesh, 0)[i], -third, 1e-6);  // outwards
}

TEST(ObjBuildArrays, corners_with_equal_indices_share_a_vertex_and_different_texcoords_do_not) {
    auto shared = assemble("v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvn 0 0 1\n"
                           "f 1/1/1 2/1/1 3/1/1\nf 1/1/1 3/1/1 4/1/1\n");
    EXPECT_EQ(shared.mesh.positions.size(), 4u * 3);
    EXPECT_EQ(shared.mesh.indices, (indices_t{0, 1, 2, 0, 2, 3}));
    EXPECT_EQ(shared.mesh.flags, kMeshHasTexcoords | kMeshHasNormals);

    auto split = assemble("v 0 0 0\nv 1 0 0\nv 1 1 0\nvt 0.5 0.5\nvt 0.25 0.25\nvn 0 0 1\nvn 0 0 -1\n"
                          "f 1/2/1 2/1/1 3/1/1\nf 1/1/1 3/1/1 2/1/1\nf 1/2/2 2/1/2 3/1/2\n");
    // Position 1 comes as (n1, t2), (n1, t1), (n2, t2): ordered (n1, t1), (n1, t2), (n2, t2).
    EXPECT_EQ(split.mesh.texcoords.size(), 7u * 2);
    EXPECT_EQ(split.mesh.indices, (indices_t{1, 3, 5, 0, 5, 3, 2, 4, 6}));
    EXPECT_EQ((floats{split.mesh.texcoords[0], split.mesh.texcoords[1]}), (floats{0.5f, 0.5f}));
    EXPECT_EQ((floats{split.mesh.texcoords[2], split.mesh.texcoords[3]}), (floats{0.25f, 0.25f}));
}

TEST(ObjBuildArrays, a_position_shared_by_many_pairs_still_numbers_them_in_order) {
    // 100 distinct normals at position 1, given in descending order.
    std::string text = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
    for (int n = 1; n <= 100; ++n) text += "vn 0 0 " + std::to_string(n) + "\n";
    for (int n = 100; n >= 1; --n) text += "f 1//" + std::to_string(n) + " 2//1 3//1\nf 1//" + std::to_string(n) + " 3//1 2//1\n";
    auto result = assemble(text);
    ASSERT_EQ(result.mesh.positions.size(), 102u * 3);
    for (uint32_t v = 0; v < 100; ++v) ASSERT_EQ(normal_of(result.mesh, v)[2], float(v + 1)) << v;
    for (int f = 0; f < 200; ++f) {
        ASSERT_EQ(result.mesh.indices[3 * f], uint32_t(99 - f / 2)) << f;
        ASSERT_EQ(result.mesh.indices[3 * f + 1], f % 2 ? 101u : 100u) << f;
    }
}

// The assembly written the plain way, with ordered tables, straight from the parsed data.
TEST(ObjBuildArrays, random_meshes_assemble_like_the_ordered_table_reference) {
    std::mt19937 random(99);
    auto pick = [&](int n) { return int(random() % unsigned(n)); };
    for (int round = 0; round < 150; ++round) {
        const int positions = 1 + pick(40), normals = 1 + pick(8), texcoords = 1 + pick(8);
        const bool with_normals = pick(3) != 0, with_texcoords = pick(2) != 0;
        std::string text;
        for (int i = 0; i < positions; ++i) text += "v " + std::to_string(pick(9)) + " " + std::to_string(pick(9)) + " " + std::to_string(pick(9)) + "\n";
        if (with_normals) for (int i = 0; i < normals; ++i) text += "vn 0 " + std::to_string(i) + " 1\n";
        if (with_texcoords) for (int i = 0; i < texcoords; ++i) text += "vt " + std::to_string(i) + " 0.5\n";
        const int face_count = 1 + pick(120);
        for (int f = 0; f < face_count; ++f) {
            if (pick(10) == 0) text += "g\n";
            text += "f";
            const int corners = 3 + (pick(4) == 0 ? pick(4) : 0);
            for (int c = 0; c < corners; ++c) {
                text += " " + std::to_string(1 + pick(positions));
                if (with_texcoords || with_normals) text += "/";
                if (with_texcoords) text += std::to_string(1 + pick(texcoords));
                if (with_normals) text += "/" + std::to_string(1 + pick(normals));
            }
            text += "\n";
        }

        cTempDir dir;
        cObjLoader loader;
        load_text(loader, dir, text);
        ASSERT_FALSE(loader.refused()) << text;
        cIndexedMesh mesh;
        stderr_of([&] {
            loader.triangulate();
            loader.build_arrays(mesh.flags, mesh.positions, mesh.normals, mesh.texcoords, mesh.indices, mesh.ranges);
        });

        std::map<std::tuple<int32_t, int32_t, int32_t>, uint32_t> table;
        std::multimap<int32_t, std::size_t> groups;
        for (std::size_t f = 0; f < loader.faces.size(); ++f) {
            ints p = loader.position_indices(f), n = loader.normal_indices(f), t = loader.texcoord_indices(f);
            for (std::size_t i = 0; i < p.size(); ++i) table.emplace(std::make_tuple(p[i], n[i], with_texcoords ? t[i] : -1), 0);
            groups.emplace(loader.faces[f].group, f);
        }
        floats expected_positions, expected_normals, expected_texcoords;
        uint32_t next = 0;
        for (auto& [key, vertex] : table) {
            vertex = next++;
            auto [p, n, t] = key;
            for (int k = 0; k < 3; ++k) expected_positions.push_back(loader.positions[4 * p + k]);
            for (int k = 0; k < 3; ++k) expected_normals.push_back(loader.normals[3 * n + k]);
            if (with_texcoords) for (int k = 0; k < 2; ++k) expected_texcoords.push_back(loader.texcoords[2 * t + k]);
        }
        indices_t expected_indices;
        ranges_t expected_ranges;
        int32_t last_group = -1, face_counter = 0;
        for (auto& [group, f] : groups) {
            if (group != last_group) expected_ranges.push_back({face_counter * 3, group}), last_group = group;
            ints p = loader.position_indices(f), n = loader.normal_indices(f), t = loader.texcoord_indices(f);
            for (std::size_t i = 0; i < p.size(); ++i) expected_indices.push_back(table[{p[i], n[i], with_texcoords ? t[i] : -1}]);
            ++face_counter;
        }
        if (expected_ranges.empty()) expected_ranges.push_back({0, 0});
        expected_ranges.front().first = 0;  // faces before the first "g" are drawn with the first range
        expected_ranges.push_back({face_counter * 3, -1});

        ASSERT_EQ(mesh.positions, expected_positions) << text;
        ASSERT_EQ(mesh.normals, expected_normals) << text;
        ASSERT_EQ(mesh.texcoords, expected_texcoords) << text;
        ASSERT_EQ(mesh.indices, expected_indices) << text;
        ASSERT_EQ(mesh.ranges, expected_ranges) << text;
        ASSERT_EQ(mesh.flags, loader.flags());
    }
}

// ---- group ranges ----

TEST(ObjBuildArrays, ranges_follow_the_groups_in_ascending_order) {
    auto plain = assemble(std::string(kCubePositions) + kCubeFaces);
    EXPECT_EQ(plain.mesh.ranges, (ranges_t{{0, 0}, {36, -1}}));

    // Two groups of quads: the triangles that triangulation appended at the end for group 0
    // are sorted back into group 0's range.
    auto grouped = assemble(std::string(kCubePositions) + "usemtl a\ng first\nf 1 4 3 2\nf 5 6 7 8\n"
                                                          "g second\nf 1 2 6 5\n");
    EXPECT_EQ(grouped.mesh.ranges, (ranges_t{{0, 0}, {12, 1}, {18, -1}}));
    EXPECT_EQ(grouped.mesh.flags, kMeshHasNormals | kMeshHasMaterials);
    ASSERT_EQ(grouped.mesh.indices.size(), 18u);
    // Group 0 holds (1 4 3), (5 6 7), then (1 3 2), (5 7 8): positions 1..8 are vertices 0..7.
    EXPECT_EQ(indices_t(grouped.mesh.indices.begin(), grouped.mesh.indices.begin() + 12),
              (indices_t{0, 3, 2, 4, 5, 6, 0, 2, 1, 4, 6, 7}));

    // Faces before the first "g" come first, inside the first group's range, so that a model
    // drawn range by range ("usemtl") draws them too; the groups keep their positions.
    auto leading = assemble("v 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl m\nf 1 2 3\ng a\nf 1 2 3\ng b\ng c\nf 3 2 1\n");
    EXPECT_EQ(leading.mesh.ranges, (ranges_t{{0, 0}, {6, 2}, {9, -1}}));
}

TEST(ObjBuildArrays, a_face_of_fewer_than_three_corners_in_a_file_with_normals_refuses_the_load) {
    auto result = assemble("v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nf 1//1 2//1 3//1\nf 1//1 2//1\ng a\nf 1//1 2//1 3//1\n");
    EXPECT_EQ(result.messages, "Malformed face. 2 vertices in face. Aborting triangulation\n"
                               "## ERROR in \"" + result.path + "\" line 6: the face has 2 corners, fewer than three; "
                               "the file is not loaded\n");
    EXPECT_FALSE(result.accepted);
    EXPECT_TRUE(result.mesh.indices.empty() && result.mesh.ranges.empty());
}

// ---- the loading sequence, bounds, file check ----

TEST(ObjLoading, the_mesh_of_a_refused_file_is_empty_and_the_box_of_no_vertices_is_zero) {
    auto refused = assemble("v 0 0 0\nf 1 2 3\n");
    EXPECT_FALSE(refused.accepted);
    EXPECT_TRUE(refused.mesh.positions.empty() && refused.mesh.indices.empty() && refused.mesh.ranges.empty());
    cBoundingBox box = bounding_box_of(refused.mesh.positions);
    EXPECT_EQ((floats{box.min_x, box.min_y, box.min_z, box.max_x, box.max_y, box.max_z}), (floats(6, 0.0f)));

    auto empty = assemble("# nothing\n");
    EXPECT_TRUE(empty.accepted);
    EXPECT_EQ(empty.mesh.ranges, (ranges_t{{0, 0}, {0, -1}}));
}

TEST(ObjLoading, the_bounding_box_grows_from_the_first_vertex) {
    cBoundingBox box = bounding_box_of({2, -3, 4, -1, 5, 4.5f, 0, 0, -7});
    EXPECT_EQ((floats{box.min_x, box.min_y, box.min_z, box.max_x, box.max_y, box.max_z}),
              (floats{-1, -3, -7, 2, 5, 4.5f}));
    box = bounding_box_of({2, -3, 4});
    EXPECT_EQ((floats{box.min_x, box.min_y, box.min_z, box.max_x, box.max_y, box.max_z}), (floats{2, -3, 4, 2, -3, 4}));
}

TEST(ObjLoading, only_obj_extensions_are_supported_case_sensitively) {
    EXPECT_TRUE(is_supported_mesh_file("model.obj"));
    EXPECT_TRUE(is_supported_mesh_file("a.b/model.obj"));
    EXPECT_TRUE(is_supported_mesh_file("data/models/duck.obj"));
    EXPECT_FALSE(is_supported_mesh_file("model.OBJ"));
    EXPECT_FALSE(is_supported_mesh_file("model.obj2"));
    EXPECT_FALSE(is_supported_mesh_file("model"));
    EXPECT_FALSE(is_supported_mesh_file("picture.png"));
    EXPECT_FALSE(is_supported_mesh_file(""));
}

// ---- unify_by_position ----

TEST(ObjUnify, every_position_becomes_one_vertex_in_order_of_first_use) {
    cTempDir dir;
    cObjLoader loader;
    load_text(loader, dir, "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 9 9 9\nvt 0.5 0.5\nvt 1 1\nf 3/2 1/1 2/1\nf 2 3 1\n");
    // The second face has no texture coordinates, which the load refuses; unify is only
    // offered on data that was read consistently, so build that case by hand.
    ASSERT_TRUE(loader.refused());
    cObjLoader fresh;
    load_text(fresh, dir, "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 9 9 9\nvt 0.5 0.5\nvt 1 1\nf 3/2 1/1 2/1\nf 2/1 3/2 1/2\n");
    std::string err = stderr_of([&] { fresh.unify_by_position(); });
    EXPECT_EQ(err, "");
    EXPECT_EQ(fresh.positions, (floats{0, 1, 0, 1, 0, 0, 0, 1, 1, 0, 0, 1}));
    EXPECT_EQ(fresh.texcoords, (floats{1, 1, 0.5f, 0.5f, 0.5f, 0.5f}));
    EXPECT_EQ(fresh.position_indices(1), (ints{2, 0, 1}));
    EXPECT_EQ(fresh.texcoord_indices(1), (ints{2, 0, 1}));
    EXPECT_EQ(fresh.normal_indices(0), (ints{0, 1, 2}));
    EXPECT_EQ(fresh.normals.size(), 9u);
}
