// The program registry and the uniform setters. Depends on the GL entry-point table; throws
// only the out-of-range error of an unknown name.
#include "gfx/shaders/shader_manager.h"

#include <algorithm>
#include <filesystem>
#include <iostream>

#include "gfx/gl/gl_entry_points.h"
#include "gfx/shaders/shader_compiler.h"
#include "gfx/shaders/uniform_reflection.h"
#include "gfx/shaders/uniform_types.h"

namespace {

std::string normal_path(const std::string& path) { return std::filesystem::path(path).lexically_normal().string(); }

// A program and the shaders attached to it. Deleting the program while it is current leaves
// it to GL to free once it is not; the shaders, flagged, go with it.
void delete_program_and_shaders(uint32_t program) {
    GLuint shaders[2] = {0, 0};
    GLsizei count = 0;
    glGetAttachedShaders(program, 2, &count, shaders);
    glDeleteProgram(program);
    for (GLsizei i = 0; i < count; ++i) glDeleteShader(shaders[i]);
}

// A uniform the old version had and the new one lacks stays in the tables at location -1, which
// GL ignores; a module that still sets it goes on instead of failing the lookup. Samplers keep
// units of their own past the new ones, so binding their textures disturbs nothing.
void keep_missing_uniforms(const std::string& name, const cShaderProgram& old, cShaderProgram& fresh) {
    std::vector<std::string> gone;
    auto keep = [&](const auto& old_table, auto& new_table) {
        for (const auto& [uniform, entry] : old_table) {
            if (new_table.count(uniform) != 0) continue;
            auto kept = entry;
            kept.location = -1;
            new_table.emplace(uniform, kept);
            if (entry.location != -1) gone.push_back(uniform);
        }
    };
    keep(old.vectors, fresh.vectors);
    keep(old.matrices, fresh.matrices);
    int32_t unit = static_cast<int32_t>(fresh.samplers.size());
    for (const auto& [uniform, entry] : old.samplers) {
        if (fresh.samplers.count(uniform) != 0) continue;
        fresh.samplers.emplace(uniform, cSamplerUniform{-1, entry.type, unit++});
        if (entry.location != -1) gone.push_back(uniform);
    }
    std::sort(gone.begin(), gone.end());
    for (const std::string& uniform : gone) {
        std::cerr << "# warning: program \"" << name << "\" has no uniform \"" << uniform
                  << "\" any more; setting it does nothing" << std::endl;
    }
}

}  // namespace

void cShaderManager::load_shader(const std::string& name, const std::string& vertex_path,
                                 const std::string& fragment_path) {
    uint32_t vertex = 0, fragment = 0;
    // Both are compiled, so one run reports the errors of both files.
    const bool vertex_ok = compile_shader_file(GL_VERTEX_SHADER, vertex_path, vertex);
    const bool fragment_ok = compile_shader_file(GL_FRAGMENT_SHADER, fragment_path, fragment);
    if (!vertex_ok || !fragment_ok) return;
    link_and_register(name, vertex, fragment, vertex_path, fragment_path, true);
}

void cShaderManager::load_shader_text(const std::string& name, const std::string& vertex_label,
                                      const std::string& vertex_source, const std::string& fragment_label,
                                      const std::string& fragment_source) {
    uint32_t vertex = 0, fragment = 0;
    const bool vertex_ok = compile_shader_text(GL_VERTEX_SHADER, vertex_label, vertex_source, vertex);
    const bool fragment_ok = compile_shader_text(GL_FRAGMENT_SHADER, fragment_label, fragment_source, fragment);
    if (!vertex_ok || !fragment_ok) return;
    link_and_register(name, vertex, fragment, vertex_label, fragment_label, false);
}

bool cShaderManager::link_and_register(const std::string& name, uint32_t vertex, uint32_t fragment,
                                       const std::string& vertex_label, const std::string& fragment_label,
                                       bool from_files) {
    uint32_t program = 0;
    if (!link_program(vertex, fragment, vertex_label, fragment_label, program)) return false;
    std::cout << "# note: compiled " << vertex_label << " " << fragment_label << std::endl;

    cShaderProgram record;
    record.program = program;
    if (from_files) {
        record.vertex_path = vertex_label;
        record.fragment_path = fragment_label;
    }
    reflect_uniforms(program, record);
    programs_[name] = std::move(record);
    return true;
}

// ---- reloading ----

cShaderManager::cReload cShaderManager::reload_file(const std::string& path) {
    cReload result;
    for (const std::string& name : programs_using({path})) {
        std::string log;
        if (reload_program(name, programs_.at(name), log)) {
            result.reloaded.push_back(name);
        } else {
            result.kept.push_back(name);
            if (result.error.empty()) result.error = log;
        }
    }
    return result;
}

bool cShaderManager::uses_file(const std::string& path) const {
    const std::string wanted = normal_path(path);
    for (const auto& entry : programs_) {
        const cShaderProgram& record = entry.second;
        if (record.vertex_path.empty()) continue;
        if (normal_path(record.vertex_path) == wanted || normal_path(record.fragment_path) == wanted) return true;
    }
    return false;
}

std::vector<std::string> cShaderManager::programs_using(const std::vector<std::string>& paths) const {
    std::vector<std::string> changed;
    for (const std::string& path : paths) changed.push_back(normal_path(path));
    auto is_changed = [&](const std::string& path) {
        return std::find(changed.begin(), changed.end(), normal_path(path)) != changed.end();
    };
    std::vector<std::string> names;
    for (const auto& [name, record] : programs_) {
        if (record.vertex_path.empty()) continue;
        if (is_changed(record.vertex_path) || is_changed(record.fragment_path)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());  // reports in a stable order
    return names;
}

bool cShaderManager::rebuild(const std::string& name, std::string& log) {
    auto it = programs_.find(name);
    if (it == programs_.end() || it->second.vertex_path.empty()) {
        log = "no program \"" + name + "\" is made from files";
        return false;
    }
    return reload_program(name, it->second, log, false);
}

bool cShaderManager::reload_program(const std::string& name, cShaderProgram& record, std::string& log,
                                    bool announce) {
    uint32_t vertex = 0, fragment = 0, program = 0;
    std::string vertex_log, fragment_log;
    // Both are compiled, so one save reports the errors of both files.
    const bool vertex_ok = compile_shader_file(GL_VERTEX_SHADER, record.vertex_path, vertex, &vertex_log);
    const bool fragment_ok = compile_shader_file(GL_FRAGMENT_SHADER, record.fragment_path, fragment, &fragment_log);
    bool ok = vertex_ok && fragment_ok;
    log = !vertex_ok ? vertex_log : fragment_log;
    if (ok) ok = link_program(vertex, fragment, record.vertex_path, record.fragment_path, program, &log);
    // The shaders are flagged for deletion at once: GL frees them with the program they serve.
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    if (!ok) {
        if (program != 0) glDeleteProgram(program);
        if (log.empty()) log = "the program could not be made";
        std::cerr << "## ERROR: program \"" << name << "\" keeps its previous version" << std::endl;
        return false;
    }
    if (announce) std::cout << "# note: compiled " << record.vertex_path << " " << record.fragment_path << std::endl;

    cShaderProgram fresh;
    fresh.program = program;
    fresh.vertex_path = record.vertex_path;
    fresh.fragment_path = record.fragment_path;
    reflect_uniforms(program, fresh);
    keep_missing_uniforms(name, record, fresh);
    delete_program_and_shaders(record.program);
    record = std::move(fresh);
    return true;
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
