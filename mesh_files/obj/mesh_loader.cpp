// The supported-file check and the list accessors of the parsed data. Depends on the host's
// path helpers; never opens a file.
#include "mesh_files/obj/mesh_loader.h"

#include "base/files/file_utils.h"

namespace {

template <typename Field>
std::vector<int32_t> list_of(const iMeshLoader_data& data, std::size_t face, uint32_t cObjFace::*count,
                             Field field) {
    std::vector<int32_t> out;
    if (face >= data.faces.size()) return out;
    const cObjFace& f = data.faces[face];
    out.reserve(f.*count);
    for (uint32_t i = 0; i < f.*count; ++i) out.push_back(data.corners[f.first + i].*field);
    return out;
}

}  // namespace

std::vector<int32_t> iMeshLoader_data::position_indices(std::size_t face) const {
    return list_of(*this, face, &cObjFace::position_count, &cObjCorner::position);
}

std::vector<int32_t> iMeshLoader_data::texcoord_indices(std::size_t face) const {
    return list_of(*this, face, &cObjFace::texcoord_count, &cObjCorner::texcoord);
}

std::vector<int32_t> iMeshLoader_data::normal_indices(std::size_t face) const {
    return list_of(*this, face, &cObjFace::normal_count, &cObjCorner::normal);
}

bool is_supported_mesh_file(const std::string& path) {
    std::string extension = extension_of(path);
    return extension == "obj" || extension == ".obj";
}
