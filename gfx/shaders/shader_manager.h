// The shader manager: GLSL programs kept by name, each with its uniform tables, so callers set
// uniforms by program name and uniform name alone. Programs are registered once and never
// removed. Depends on the GL entry-point table; a GL context must be current for every call.
#pragma once
#include <string>
#include <unordered_map>

#include "gfx/shaders/shader_program.h"
#include "texture.h"

class cShaderManager {
public:
    // The program every unknown name in use_shader falls back to.
    static constexpr const char* default_program_name = "default_shader";

    cShaderManager() = default;
    cShaderManager(const cShaderManager&) = delete;
    cShaderManager& operator=(const cShaderManager&) = delete;

    // Compiles both files, links and registers name. Any failure is reported and registers
    // nothing, so a later call may try again.
    void load_shader(const std::string& name, const std::string& vertex_path, const std::string& fragment_path);
    bool has_shader(const std::string& name) const { return programs_.count(name) != 0; }
    // Makes the program current; an unregistered name selects "default_shader". Without a
    // registered default the current program stays and the missing default is reported once.
    void use_shader(const std::string& name);

    // The setters act on the current program; the names only find the uniform. An unknown
    // program or uniform name throws std::out_of_range.
    void set_texture(const std::string& program, const std::string& uniform, const cTexture* texture);
    void set_matrix(const std::string& program, const std::string& uniform, const float* value);
    void set_vector(const std::string& program, const std::string& uniform, const float* value);

    // The record of name, or null.
    const cShaderProgram* find(const std::string& name) const;

private:
    std::unordered_map<std::string, cShaderProgram> programs_;
    bool missing_default_reported_ = false;
};
