// Where a capture reads and writes: the show directory (given, or found beside the tool) and
// the checks of the output places before any frame is rendered. File system only; no GL.
// Never leaves a file behind: probes are removed at once.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/files/atomic_file.h"

// The show next to the running tool (<build>/tools/democapture -> <build>/show), absolute.
std::string default_show_directory();

// True when dir is a show directory worth capturing: it holds data/ and the music under it.
// Otherwise error says what is missing.
bool check_show_directory(const std::string& dir, std::string& error);

// What a check of an output place found: usable; refused (the command line names something
// that cannot be an output: a file for a folder, a folder that does not exist); or unwritable
// (the place exists but takes no files: read-only, no permission, full).
enum class ePlace { usable, refused, unwritable };

// Creates dir (and its parents) when needed and proves that files can be written into it.
// The folders it creates are remembered for remove_empty_created_folders.
ePlace prepare_out_directory(const std::string& dir, std::string& error);

// Removes the folders prepare_out_directory created in this process that are still empty,
// innermost first: a run that ends without output (a refusal, a failure before the first
// frame) leaves no folder behind. A folder holding anything stays.
void remove_empty_created_folders();

// Checks that a video can be written to file: its folder exists and takes files, and the name
// is not a directory. partial receives the temporary name next to the target that the video is
// written under until it is complete; the file is created empty (and so reserved).
ePlace prepare_video_target(const std::string& file, std::string& partial, std::string& error);

// The temporary name next to path that an unfinished copy of it is written under.
std::string partial_name_for(const std::string& path);

// How the capture writes its files through the atomic writer: 0644 less the umask, and every
// temporary held by partial_files until it is in place or gone.
const cAtomicWriteOptions& capture_write_options();

// Writes bytes as the file path: under a held temporary name next to it, renamed into place
// when complete. On failure nothing is left (an older file of that name stays as it was) and
// error says why, with the system's reason (a full disk, a read-only file system).
bool write_file_in_place(const std::string& path, const uint8_t* data, size_t bytes, std::string& error);

// path made absolute against the current directory, with "." and ".." resolved lexically.
std::string absolute_from_here(const std::string& path);
