// File-system utilities of the host: paths, directory search, copy, delete, times, sizes,
// error texts, and the player's own whole-file read (the reader itself is file_read.h). Paths
// use "/" (a "\" in a path is taken as "/"). Trouble is reported as one console line on
// standard error; nothing here throws.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/files/file_read.h"

std::string current_directory();                       // empty when the query fails
bool set_current_directory(const std::string& path);   // no message
// Every "\" becomes "/"; a relative path is joined onto the current directory (a trailing
// separator is kept); an absolute path is returned as it is.
std::string absolute_path(std::string path);
std::string file_name_of(const std::string& path);     // last piece split at "/" and "\"
std::string extension_of(const std::string& path);     // last piece split at "."
// Pieces between delimiter characters; always one more piece than delimiters in text.
std::vector<std::string> split(const std::string& text, const std::string& delimiters);
// Appends the bare names of the non-directory entries matching pattern ("dir/render*.so"),
// sorted by name so that load order does not depend on the file system.
void find_files(const std::string& pattern, std::vector<std::string>& out);
bool copy_file(const std::string& source, const std::string& destination, bool overwrite);
// Every byte to the descriptor, on through interruptions and short writes; false with errno
// set (no message: the caller knows which file it was).
bool write_all(int fd, const char* data, size_t size);
bool write_all(int fd, const std::string& bytes);
bool delete_file(const std::string& path);
int64_t file_time(const std::string& path);            // seconds since 1970; 0 on failure
int64_t file_size(const std::string& path);            // bytes; 0 on failure
bool file_exists(const std::string& path);
// The platform's text for an errno value, ending with a line break; empty for 0.
std::string error_text(int32_t code);
// Reads the whole file into out, for the player's own files. False, silently, when the file does
// not exist; false with the assertion "wtf" when it cannot be opened (or is no plain file);
// false with "read empty file..." when empty.
bool read_file(const std::string& path, std::string& out);
