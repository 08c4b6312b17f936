// cModel: a static triangle mesh in GL buffers, drawn whole, by group ranges, or group by
// group; and load_model_file, which makes one from a mesh file. Only made and drawn while the
// GL context is current. Never frees itself: the model manager keeps models for good.
#pragma once
#include <cstdint>
#include <string>

#include "gfx/models/buffer_object.h"
#include "mesh_files/obj/indexed_mesh.h"
#include "model.h"

class cModel : public iModel {
public:
    // Empty arrays; the four buffers (3, 3, 2 and 1 components) get their GL names now.
    cModel();
    virtual ~cModel() = default;
    cModel(const cModel&) = delete;
    cModel& operator=(const cModel&) = delete;

    void draw(igfxContext& ctx) override;
    void draw_groups(igfxContext& ctx, int32_t count, const int32_t* groups) override;
    int32_t group_count() override;
    cBoundingBox bounds() override;
    // A group outside 0 .. group_count() - 1 draws nothing.
    void draw_group(igfxContext& ctx, int32_t group) override;
    void bind_buffers() override;
    void unbind_buffers() override;

    // Fills the four GL buffers from the arrays; with release_cpu_copies the vertex arrays
    // then hold a single 0 each (indices and ranges stay: drawing needs their counts).
    void upload(bool release_cpu_copies);

    cIndexedMesh mesh;      // flags, vertex arrays, indices and group ranges
    cBufferObject position_buffer{3};
    cBufferObject normal_buffer{3};
    cBufferObject texcoord_buffer{2};
    cBufferObject index_buffer{1};
    cBoundingBox box;
};

// Makes a model from a mesh file: the loader's whole sequence into the model's arrays, then
// the bounding box. Null when the loader refused the file.
cModel* load_model_file(const std::string& path);
