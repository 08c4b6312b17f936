// The loading sequence shared by the model manager and the inspection tool, and the bounding
// box of a mesh. Depends on cObjLoader; never touches GL.
#include "mesh_files/obj/indexed_mesh.h"

#include "mesh_files/obj/obj_loader.h"

bool load_indexed_mesh(const std::string& path, cIndexedMesh& mesh) {
    cObjLoader loader;
    loader.load_file(path);
    loader.triangulate();
    loader.build_arrays(mesh.flags, mesh.positions, mesh.normals, mesh.texcoords, mesh.indices, mesh.ranges);
    return !loader.refused();
}

cBoundingBox bounding_box_of(const std::vector<float>& positions) {
    cBoundingBox box;
    if (positions.size() < 3) return box;
    box.min_x = box.max_x = positions[0];
    box.min_y = box.max_y = positions[1];
    box.min_z = box.max_z = positions[2];
    for (std::size_t i = 3; i + 2 < positions.size(); i += 3) {
        const float x = positions[i], y = positions[i + 1], z = positions[i + 2];
        if (x < box.min_x) box.min_x = x;
        if (y < box.min_y) box.min_y = y;
        if (z < box.min_z) box.min_z = z;
        if (x > box.max_x) box.max_x = x;
        if (y > box.max_y) box.max_y = y;
        if (z > box.max_z) box.max_z = z;
    }
    return box;
}
