// The track source on disk: read whole, and replaced safely. A write goes to a temporary file
// in the same folder, is flushed to the disk and renamed over the source, after the previous
// source has been kept (the same way) as "<source>.bak". No other file is ever written here.
#pragma once
#include <string>

// False, with the reason in error, when the file cannot be read.
bool read_source_file(const std::string& path, std::string& text, std::string& error);

// Keeps previous as path + ".bak", then puts text at path; both atomically and flushed, with
// the source's own permissions. On failure (reason in error) the source is as it was.
bool replace_source_file(const std::string& path, const std::string& text, const std::string& previous,
                         std::string& error);
