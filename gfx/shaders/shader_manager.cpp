// The program registry and the uniform setters. Depends on the GL entry-point table; throws
// only the out-of-range error of an unknown name.
#include "gfx/shaders/shader_manager.h"

#include <iostream>

#include "gfx/gl/gl_entry_points.h"
#include "gfx/shaders/shader_compiler.h"
#include "gfx/shaders/uniform_reflection.h"
#include "gfx/shaders/uniform_types.h"

void cShaderManager::load_shader(const std::string& name, const std::string& vertex_path,
                                 const std::string& fragment_path) {
    uint32_t vertex = 0, fragment = 0;
    // Both are compiled, so one run reports the errors of both files.
    const bool vertex_ok = compile_shader_file(GL_VERTEX_SHADER, vertex_path, vertex);
    const bool fragment_ok = compile_shader_file(GL_FRAGMENT_SHADER, fragment_path, fragment);
    if (!vertex_ok || !fragment_ok) return;

    uint32_t program = 0;
    if (!link_program(vertex, fragment, vertex_path, fragment_path, program)) return;
    std::cout << "# note: compiled " << vertex_path << " " << fragment_path << std::endl;

    cShaderProgram record;
    record.program = program;
    reflect_uniforms(program, record);
    programs_[name] = std::move(record);
}

const cShaderProgram* cShaderManager::find(const std::string& name) const {
    auto it = programs_.find(name);
    return it == programs_.end() ? nullptr : &it->second;
}

void cShaderManager::use_shader(const std::string& name) {
    const cShaderProgram* record = find(name);
    if (!record) record = find(default_program_name);
    if (!record) {
        if (!missing_default_reported_) {
            std::cerr << "## ERROR: program \"" << default_program_name << "\" is not loaded; \"" << name
                      << "\" is unknown too, the current program stays" << std::endl;
            missing_default_reported_ = true;
        }
        return;
    }
    glUseProgram(record->program);
}

void cShaderManager::set_texture(const std::string& program, const std::string& uniform, const cTexture* texture) {
    const cSamplerUniform& sampler = lookup_or_throw(lookup_or_throw(programs_, program).samplers, uniform);
    const uint32_t target = texture_target_of_sampler(sampler.type);
    if (!texture || texture->target != target) {
        std::cerr << "# ERROR: texture-target mismatch in " << program << std::endl
                  << "#        parm:      " << uniform << std::endl
                  << "#        sampler:   " << sampler_type_name(sampler.type) << std::endl
                  << "#        textarget: " << (texture ? texture_target_name(texture->target) : "no texture")
                  << std::endl;
        return;
    }
    glUniform1i(sampler.location, sampler.unit);
    glActiveTextureARB(GL_TEXTURE0 + static_cast<GLenum>(sampler.unit));
    glBindTexture(target, texture->name);
    glActiveTextureARB(GL_TEXTURE0);
}

void cShaderManager::set_matrix(const std::string& program, const std::string& uniform, const float* value) {
    const cUniform& matrix = lookup_or_throw(lookup_or_throw(programs_, program).matrices, uniform);
    glUniformMatrix4fv(matrix.location, 1, GL_FALSE, value);
}

void cShaderManager::set_vector(const std::string& program, const std::string& uniform, const float* value) {
    const cUniform& vector = lookup_or_throw(lookup_or_throw(programs_, program).vectors, uniform);
    glUniform4fv(vector.location, 1, value);
}
