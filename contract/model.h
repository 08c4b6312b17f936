// iModel: a static triangle mesh held in GPU buffers, drawn by modules through the host.
// Seven operations in a fixed slot order (plug-in ABI), no virtual destructor: models live
// until the process ends and nobody deletes through this interface.
#pragma once
#include <cstdint>

class igfxContext;

// Axis-aligned box over a model's vertex positions.
struct cBoundingBox {
    float min_x = 0, min_y = 0, min_z = 0;
    float max_x = 0, max_y = 0, max_z = 0;
};

class iModel {
public:
    virtual void draw(igfxContext& ctx) = 0;                                           // slot 0
    virtual void draw_groups(igfxContext& ctx, int32_t count, const int32_t* groups) = 0;  // slot 1
    virtual int32_t group_count() = 0;                                                 // slot 2
    virtual cBoundingBox bounds() = 0;                                                 // slot 3
    virtual void draw_group(igfxContext& ctx, int32_t group) = 0;                      // slot 4: buffers bound
    virtual void bind_buffers() = 0;                                                   // slot 5
    virtual void unbind_buffers() = 0;                                                 // slot 6

protected:
    ~iModel() = default;
};
