// Drawing and uploading of cModel, and load_model_file. GL calls go through the host's
// entry-point table; the render state is applied through the graphics context before each
// draw. Never reads past the group ranges, whatever group a module asks for.
#include "gfx/models/gpu_model.h"

#include "igfx_context.h"
#include "mesh_files/obj/mesh_config.h"

cModel::cModel() = default;

void cModel::upload(bool release_cpu_copies) {
    const std::size_t position_floats = mesh.positions.size() / 3 * 3;
    const std::size_t normal_floats = mesh.normals.size() / 3 * 3;
    const std::size_t texcoord_floats = mesh.texcoords.size() / 2 * 2;
    position_buffer.fill(GL_ARRAY_BUFFER, position_floats * sizeof(float), mesh.positions.data());
    normal_buffer.fill(GL_ARRAY_BUFFER, normal_floats * sizeof(float), mesh.normals.data());
    texcoord_buffer.fill(GL_ARRAY_BUFFER, texcoord_floats * sizeof(float),
                         texcoord_floats > 0 ? mesh.texcoords.data() : nullptr);
    index_buffer.fill(GL_ELEMENT_ARRAY_BUFFER, mesh.indices.size() * sizeof(uint32_t), mesh.indices.data());
    if (release_cpu_copies) {
        mesh.positions.assign(1, 0.0f);
        mesh.normals.assign(1, 0.0f);
        mesh.texcoords.assign(1, 0.0f);
        mesh.positions.shrink_to_fit();
        mesh.normals.shrink_to_fit();
        mesh.texcoords.shrink_to_fit();
    }
}

void cModel::bind_buffers() {
    position_buffer.bind_attribute(0);
    if (mesh.flags & kMeshHasNormals) normal_buffer.bind_attribute(1);
    if (mesh.flags & kMeshHasTexcoords) texcoord_buffer.bind_attribute(2);
    index_buffer.bind_element_array();
}

void cModel::unbind_buffers() {
    position_buffer.unbind();
    index_buffer.unbind();
    if (mesh.flags & kMeshHasTexcoords) texcoord_buffer.unbind();
    if (mesh.flags & kMeshHasNormals) normal_buffer.unbind();
}

int32_t cModel::group_count() {
    return mesh.ranges.empty() ? 0 : static_cast<int32_t>(mesh.ranges.size() - 1);
}

cBoundingBox cModel::bounds() { return box; }

void cModel::draw(igfxContext& ctx) {
    ctx.apply_state();
    bind_buffers();
    if (mesh.flags & kMeshHasMaterials) {
        for (int32_t g = 0; g < group_count(); ++g) draw_group(ctx, g);
    } else {
        glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(mesh.indices.size()), GL_UNSIGNED_INT, nullptr);
    }
    unbind_buffers();
}

void cModel::draw_groups(igfxContext& ctx, int32_t count, const int32_t* groups) {
    ctx.apply_state();
    bind_buffers();
    for (int32_t i = 0; groups && i < count; ++i) draw_group(ctx, groups[i]);
    unbind_buffers();
}

void cModel::draw_group(igfxContext& ctx, int32_t group) {
    ctx.apply_state();
    if (group < 0 || group >= group_count()) return;
    const int32_t first = mesh.ranges[static_cast<std::size_t>(group)].first;
    const int32_t count = mesh.ranges[static_cast<std::size_t>(group) + 1].first - first;
    if (count <= 0) return;
    const std::size_t offset = static_cast<std::size_t>(first) * sizeof(uint32_t);
    glDrawElements(GL_TRIANGLES, count, GL_UNSIGNED_INT, reinterpret_cast<const void*>(offset));
}

cModel* load_model_file(const std::string& path) {
    cModel* model = new cModel();
    if (!load_indexed_mesh(path, model->mesh)) {
        delete model;  // its buffers give their GL names back
        return nullptr;
    }
    model->box = bounding_box_of(model->mesh.positions);
    return model;
}
