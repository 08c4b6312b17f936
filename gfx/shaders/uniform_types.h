// Which table a GL uniform type belongs to, and the sampler types with their texture targets
// and the names the mismatch report prints. Pure lookups; must never call GL.
#pragma once
#include <cstdint>

enum class uniform_table { vector, matrix, sampler, none };

uniform_table table_of_uniform_type(uint32_t gl_type);

// The texture target a sampler type reads; 0 for anything else.
uint32_t texture_target_of_sampler(uint32_t sampler_type);

// "GL_SAMPLER_2D" etc.; "unknown target" for anything else.
const char* sampler_type_name(uint32_t sampler_type);
// "GL_TEXTURE_2D" etc.; "unknown target" for anything else.
const char* texture_target_name(uint32_t target);
