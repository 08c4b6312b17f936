// Shader compilation and program linking with their reports. Depends on the GL entry-point
// table and read_file; never throws and never deletes a shader or program.
#include "gfx/shaders/shader_compiler.h"

#include <iostream>
#include <vector>

#include "gfx/gl/gl_entry_points.h"
#include "base/files/file_utils.h"

namespace {

const char* type_name(uint32_t type) {
    return type == GL_VERTEX_SHADER ? "GL_VERTEX_SHADER_ARB" : "GL_FRAGMENT_SHADER_ARB";
}

void write_log(const std::string& prefix, GLint length, const std::vector<char>& log) {
    if (length < 1) return;
    std::cout << prefix << "## InfoLog:" << log.data() << std::endl;
}

}  // namespace

std::string write_shader_info_log(const std::string& prefix, uint32_t shader) {
    GLint length = 0;
    glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    std::vector<char> log(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\0');
    if (length > 0) glGetShaderInfoLog(shader, length, nullptr, log.data());
    write_log(prefix, length, log);
    return log.data();
}

std::string write_program_info_log(const std::string& prefix, uint32_t program) {
    GLint length = 0;
    glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
    std::vector<char> log(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\0');
    if (length > 0) glGetProgramInfoLog(program, length, nullptr, log.data());
    write_log(prefix, length, log);
    return log.data();
}

bool compile_shader_file(uint32_t type, const std::string& path, uint32_t& shader, std::string* log) {
    std::string source;
    // A reload (the caller wants the log) names a file that cannot be read, with the reason,
    // before reading it: the reading's own assertion says neither, and may wait on a terminal.
    if (log) {
        const std::string reason = unreadable_reason(path);
        if (!reason.empty()) {
            shader = glCreateShader(type);
            *log = "\"" + path + "\" cannot be read: " + reason;
            std::cerr << "## ERROR: " << *log << std::endl;
            return false;
        }
    }
    // read_file reports an empty file itself; a missing one fails quietly.
    if (!read_file(path, source)) {
        shader = glCreateShader(type);
        if (log) *log = "\"" + path + "\" " + (file_exists(path) ? "is empty" : "cannot be read");
        return false;
    }
    return compile_shader_text(type, path, source, shader, log);
}

bool compile_shader_text(uint32_t type, const std::string& label, const std::string& source, uint32_t& shader,
                         std::string* log) {
    shader = glCreateShader(type);
    // The length goes along, so the whole file reaches the compiler even past a stray NUL.
    const GLchar* text = source.data();
    const GLint length = static_cast<GLint>(source.size());
    glShaderSource(shader, 1, &text, &length);
    glCompileShader(shader);
    GLint status = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
    if (status != GL_TRUE) {
        std::cerr << "## ERROR: compilation of " << label << " failed" << std::endl;
        std::string text_of_log = write_shader_info_log(std::string("# ") + type_name(type) + "\n", shader);
        if (log) *log = std::move(text_of_log);
    }
    return status == GL_TRUE;
}

bool link_program(uint32_t vertex_shader, uint32_t fragment_shader, const std::string& vertex_path,
                  const std::string& fragment_path, uint32_t& program, std::string* log) {
    program = glCreateProgram();
    glAttachShader(program, vertex_shader);
    glAttachShader(program, fragment_shader);
    glLinkProgram(program);
    GLint status = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &status);
    if (status != GL_TRUE) {
        std::cout << "## ERROR: linking of \n\t" << vertex_path << "\t\t" << fragment_path << "\nfailed" << std::endl;
        std::string text_of_log = write_program_info_log("Linking", program);
        if (log) *log = std::move(text_of_log);
    }
    return status == GL_TRUE;
}
