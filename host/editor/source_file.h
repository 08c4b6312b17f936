// The track source on disk: read whole, and replaced safely. A write goes to a temporary file
// in the same folder, is flushed to the disk and renamed over the source, after the previous
// source has been kept as "<source>.bak" (a second name for the file as it was, so nothing is
// copied). No other file is ever written here.
#pragma once
#include <string>

// False, with the reason in error, when the file cannot be read.
bool read_source_file(const std::string& path, std::string& text, std::string& error);

// Keeps the file at path as path + ".bak" (previous is written there instead when the folder
// takes no second names), then puts text at path atomically and flushed to the disk, with the
// source's own permissions. On failure (reason in error) the source is as it was.
bool replace_source_file(const std::string& path, const std::string& text, const std::string& previous,
                         std::string& error);
