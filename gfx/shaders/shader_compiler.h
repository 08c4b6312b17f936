// Compiling one shader from a source file and linking a program, with the console reports of
// both (compile errors and information logs). Depends on the GL entry-point table and the
// host's file reading; never registers anything and never deletes GL objects.
#pragma once
#include <cstdint>
#include <string>

// Creates a shader object of type (GL_VERTEX_SHADER or GL_FRAGMENT_SHADER), compiles the file
// at path into it and returns the compile status. shader receives the object's name. When
// log is given (a reload) it receives the compiler's log of a failed compile, or the file and
// why it could not be read (also written on standard error; the file is then not opened).
bool compile_shader_file(uint32_t type, const std::string& path, uint32_t& shader, std::string* log = nullptr);
// The same for source text held in memory; label names it in the reports.
bool compile_shader_text(uint32_t type, const std::string& label, const std::string& source, uint32_t& shader,
                         std::string* log = nullptr);

// Creates a program from the two shaders and links it. On failure reports it with both paths
// and returns false (log, when given, receives the linker's log). program receives the name
// either way.
bool link_program(uint32_t vertex_shader, uint32_t fragment_shader, const std::string& vertex_path,
                  const std::string& fragment_path, uint32_t& program, std::string* log = nullptr);

// Writes prefix + "## InfoLog:" + the log of a shader or program on standard output, or
// nothing when GL holds no log. Returns the log.
std::string write_shader_info_log(const std::string& prefix, uint32_t shader);
std::string write_program_info_log(const std::string& prefix, uint32_t program);
