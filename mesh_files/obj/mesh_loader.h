// The mesh loader interface: the steps a loader offers (iMeshLoader), the parsed data it holds
// (iMeshLoader_data), the records of both, and the check which files a loader exists for.
// No file access here; the one loader is cObjLoader (obj_loader.h).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// One corner's three zero-based indices. A face's three index lists share one run of corners
// in the loader's corner pool: element i of its position list is corners[first + i].position,
// and so on, so each list can be shorter than the others (a slot past a list's end holds -1).
struct cObjCorner {
    int32_t position = -1;
    int32_t texcoord = -1;
    int32_t normal = -1;
};

// A face record: its three index lists (as lengths into the corner pool) and its group number,
// the number of "g" lines read before it minus one.
struct cObjFace {
    uint32_t first = 0;           // first corner of the face in the pool
    uint32_t position_count = 0;  // length of each index list
    uint32_t texcoord_count = 0;
    uint32_t normal_count = 0;
    int32_t group = -1;
    uint32_t line = 0;            // line of the "f" statement, for reports
};

// A range of the index array: the first index of a group and the group's number. The list
// ends with (total index count, -1).
struct cGroupRange {
    int32_t first = 0;
    int32_t group = 0;
    bool operator==(const cGroupRange&) const = default;
};

class iMeshLoader {
public:
    virtual ~iMeshLoader() = default;                       // slot 0
    virtual void load_file(const std::string& path) = 0;    // slot 1
    virtual void triangulate() = 0;                         // slot 2
    virtual void unify_by_position() = 0;                   // slot 3
    virtual void smooth_normals() = 0;                      // slot 4
};

class iMeshLoader_data {
public:
    virtual ~iMeshLoader_data() = default;

    std::vector<float> positions;   // x, y, z, w per "v" line
    std::vector<float> normals;     // x, y, z per "vn" line, or one per position when smoothed
    std::vector<float> texcoords;   // u, v per "vt" line
    std::vector<cObjFace> faces;    // in file order; triangulation appends at the end
    std::vector<cObjCorner> corners;  // the index lists of all faces

    // The index lists of one face, copied out.
    std::vector<int32_t> position_indices(std::size_t face) const;
    std::vector<int32_t> texcoord_indices(std::size_t face) const;
    std::vector<int32_t> normal_indices(std::size_t face) const;
};

// True when a loader exists for the path: its extension (the text after the last ".") is
// "obj" or ".obj", compared case-sensitively.
bool is_supported_mesh_file(const std::string& path);
