// The indexed triangle mesh a load produces, and the loading sequence that makes it from a
// file: the same steps for the model manager and for the inspection tool. No GL here.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "mesh_files/obj/mesh_loader.h"
#include "model.h"

struct cIndexedMesh {
    uint8_t flags = 0;                // kMeshHas... of mesh_config.h
    std::vector<float> positions;     // x, y, z per vertex
    std::vector<float> normals;       // x, y, z per vertex
    std::vector<float> texcoords;     // u, v per vertex; empty without texture coordinates
    std::vector<uint32_t> indices;    // three per triangle
    std::vector<cGroupRange> ranges;  // ascending groups, then (index count, -1)
};

// Constructs a cObjLoader and runs load_file, triangulate and build_arrays into mesh. Returns
// false when the loader refused the file (mesh is then empty); the loader's fatal conditions
// end the process through mesh_exit before that.
bool load_indexed_mesh(const std::string& path, cIndexedMesh& mesh);

// The box over positions (x, y, z per vertex), grown from the first vertex; all zeros when
// there is no vertex.
cBoundingBox bounding_box_of(const std::vector<float>& positions);
