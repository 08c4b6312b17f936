// Whole-file reads: every one in the tree comes here. Quiet (the callers report in their own
// words), binary, a pipe or a device refused unless asked for, a size limit and a cancel where
// a caller has one. POSIX open/read/stat only, so that even the trial program links it alone.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

// What a whole-file read takes besides a plain file, and how much of it.
struct cReadOptions {
    // A pipe, a terminal or a device too, read until it ends (the read may wait on its writer).
    // Otherwise such a file is refused and never waited on.
    bool streams_too = false;
    // At most this many bytes, from the start; the rest is left unread.
    uint64_t max_bytes = UINT64_MAX;
    // Looked at between slices of the read, so that a huge file does not hold up a cancel.
    const std::atomic<bool>* cancelled = nullptr;
};
// Why a read failed. code is the system's errno for it (ENOENT, EISDIR, EACCES, EIO...; 0 for
// a file that is no plain file, ECANCELED for a cancel).
struct cReadOutcome {
    // cannot_look: the path itself cannot be looked at (a folder on the way that is no folder or
    // cannot be searched); cannot_open: the file is there but does not open.
    enum eFailure { none, missing, cannot_look, directory, not_regular, cannot_open, cannot_read, cancelled };
    eFailure failure = none;
    int code = 0;
    bool ok() const { return failure == none; }
    // In words: "it does not exist", "it is a directory", "it is not a regular file", or the
    // system's text ("Permission denied").
    std::string reason() const;
};
// Reads the whole file into out (left as it was on failure) and writes nothing anywhere.
cReadOutcome read_whole_file(const std::string& path, std::string& out, const cReadOptions& options);
// The same with the reason in words: for the tools and the development mode, which report in
// their own words. A pipe or a device is refused, never waited on.
bool read_whole_file(const std::string& path, std::string& out, std::string& reason);
// Why read_whole_file could not read path, in words, without reading it; empty when it names a
// regular file that opens for reading. Writes nothing.
std::string unreadable_reason(const std::string& path);
