// The uniform-type and sampler tables. Uses GL's enum values only; never calls GL.
#include "gfx/shaders/uniform_types.h"

#include "gfx/gl/gl_entry_points.h"

namespace {

struct cSamplerKind {
    uint32_t sampler_type;
    uint32_t target;
    const char* sampler_name;
    const char* target_name;
};

constexpr cSamplerKind sampler_kinds[] = {
    {GL_SAMPLER_1D, GL_TEXTURE_1D, "GL_SAMPLER_1D", "GL_TEXTURE_1D"},
    {GL_SAMPLER_2D, GL_TEXTURE_2D, "GL_SAMPLER_2D", "GL_TEXTURE_2D"},
    {GL_SAMPLER_3D, GL_TEXTURE_3D, "GL_SAMPLER_3D", "GL_TEXTURE_3D"},
    {GL_SAMPLER_CUBE, GL_TEXTURE_CUBE_MAP, "GL_SAMPLER_CUBE", "GL_TEXTURE_CUBE_MAP"},
    {GL_SAMPLER_2D_RECT, GL_TEXTURE_RECTANGLE, "GL_SAMPLER_2D_RECT", "GL_TEXTURE_RECTANGLE"},
};

constexpr const char* unknown_name = "unknown target";

}  // namespace

uniform_table table_of_uniform_type(uint32_t gl_type) {
    switch (gl_type) {
        case GL_FLOAT:
        case GL_FLOAT_VEC2:
        case GL_FLOAT_VEC3:
        case GL_FLOAT_VEC4: return uniform_table::vector;
        case GL_FLOAT_MAT2:
        case GL_FLOAT_MAT3:
        case GL_FLOAT_MAT4:
        case GL_FLOAT_MAT3x4: return uniform_table::matrix;
        default: break;
    }
    return texture_target_of_sampler(gl_type) != 0 ? uniform_table::sampler : uniform_table::none;
}

uint32_t texture_target_of_sampler(uint32_t sampler_type) {
    for (const auto& kind : sampler_kinds)
        if (kind.sampler_type == sampler_type) return kind.target;
    return 0;
}

const char* sampler_type_name(uint32_t sampler_type) {
    for (const auto& kind : sampler_kinds)
        if (kind.sampler_type == sampler_type) return kind.sampler_name;
    return unknown_name;
}

const char* texture_target_name(uint32_t target) {
    for (const auto& kind : sampler_kinds)
        if (kind.target == target) return kind.target_name;
    return unknown_name;
}
