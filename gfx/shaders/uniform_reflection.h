// Asking GL for a linked program's active uniforms and sorting them into the tables of a
// program record; sampler units are handed out in the order reflection meets the samplers.
// Depends on the GL entry-point table and the host's assertion; never changes GL state.
#pragma once
#include <cstdint>

#include "gfx/shaders/shader_program.h"

// Fills the three tables of record from program. A uniform of another type runs the assertion
// "unknown uniform-type" and is skipped.
void reflect_uniforms(uint32_t program, cShaderProgram& record);
