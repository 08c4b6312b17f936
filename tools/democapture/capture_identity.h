// What a capture was made from, kept in its record so that a join refuses chunks of different
// shows or builds: a digest of the show and the build id of this program. Reads files and this
// program's own headers only; no GL, no output.
//
// The show counts as every file under its data/ (music, sync tracks, shaders, textures, models;
// each by its path there and its bytes) and its scene modules, bin/render*.so. Hidden files
// (names starting with '.', the temporary files of editors and tools) are not read by the show
// and do not count. The build is the GNU build id the linker put into this program, or where
// it put none, a digest of the program file.
#pragma once
#include <string>

// Hexadecimal digest of the show in show_dir. False with error when a file of it cannot be read.
bool show_identity(const std::string& show_dir, std::string& identity, std::string& error);

// This program's build id, in hexadecimal.
std::string build_identity();
