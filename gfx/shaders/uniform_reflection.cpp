// Uniform reflection of a linked program. Depends on the GL entry-point table and the host's
// assertion; never changes GL state.
#include "gfx/shaders/uniform_reflection.h"

#include <vector>

#include "gfx/gl/gl_entry_points.h"
#include "gfx/shaders/uniform_types.h"
#include "base/log/console.h"

void reflect_uniforms(uint32_t program, cShaderProgram& record) {
    GLint count = 0;
    glGetProgramiv(program, GL_ACTIVE_UNIFORMS, &count);
    if (count < 1) return;
    GLint max_length = 0;
    glGetProgramiv(program, GL_ACTIVE_UNIFORM_MAX_LENGTH, &max_length);
    std::vector<GLchar> name(static_cast<size_t>(max_length > 0 ? max_length : 1) + 1, '\0');

    int32_t next_unit = 0;
    for (GLint i = 0; i < count; ++i) {
        GLsizei length = 0;
        GLint size = 0;
        GLenum type = 0;
        name[0] = '\0';
        glGetActiveUniform(program, static_cast<GLuint>(i), static_cast<GLsizei>(name.size() - 1), &length, &size,
                           &type, name.data());
        const GLint location = glGetUniformLocation(program, name.data());
        switch (table_of_uniform_type(type)) {
            case uniform_table::vector: record.vectors[name.data()] = {location, type}; break;
            case uniform_table::matrix: record.matrices[name.data()] = {location, type}; break;
            case uniform_table::sampler: record.samplers[name.data()] = {location, type, next_unit++}; break;
            case uniform_table::none: assert_failed("unknown uniform-type"); break;
        }
    }
}
