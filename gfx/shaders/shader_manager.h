// The shader manager: GLSL programs kept by name, each with its uniform tables, so callers set
// uniforms by program name and uniform name alone. Programs are registered once and never
// removed. Depends on the GL entry-point table; a GL context must be current for every call.
#pragma once
#include <string>
#include <unordered_map>
#include <vector>

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

    // Registers a program made from source text held in memory (the host's own programs);
    // the labels name the two sources in reports. Failures as in load_shader.
    void load_shader_text(const std::string& name, const std::string& vertex_label, const std::string& vertex_source,
                          const std::string& fragment_label, const std::string& fragment_source);

    // What reloading a changed file did.
    struct cReload {
        std::vector<std::string> reloaded;  // programs now made from the new file
        std::vector<std::string> kept;      // programs that failed and keep their previous version
        std::string error;                  // the first failure's compiler or linker log
    };
    // Compiles and links again every program made from the file at path (paths compared in
    // their normal form). A program that fails keeps its previous version, which stays in use;
    // one that succeeds replaces it under the same name, and a uniform the new version lacks
    // stays settable (to no effect), so callers that set it do not fail.
    cReload reload_file(const std::string& path);
    // Whether some program is made from the file at path.
    bool uses_file(const std::string& path) const;
    // The programs made from any of the files at paths, sorted by name, each once: a change of
    // several files at once rebuilds each program once.
    std::vector<std::string> programs_using(const std::vector<std::string>& paths) const;
    // Compiles and links one program again from its files, as reload_file does, but without
    // the line saying it was compiled (the caller sums a burst up). False when it keeps its
    // previous version or is not made from files (log: why).
    bool rebuild(const std::string& name, std::string& log);

private:
    // Links two compiled shaders and registers the program under name with its uniforms;
    // false after the link report. from_files: the labels are the source files' paths.
    bool link_and_register(const std::string& name, uint32_t vertex, uint32_t fragment, const std::string& vertex_label,
                           const std::string& fragment_label, bool from_files);
    // One program of reload_file; false when it keeps its previous version (log: why).
    bool reload_program(const std::string& name, cShaderProgram& record, std::string& log, bool announce = true);

    std::unordered_map<std::string, cShaderProgram> programs_;
    bool missing_default_reported_ = false;
};
