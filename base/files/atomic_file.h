// Files written whole or not at all: the bytes go into a temporary beside the target
// (sibling_temp.h), flushed to the disk when asked, and one rename puts the file in place, so a
// reader sees the old file or the whole new one, never a part. Uses POSIX files; never leaves
// its temporary behind, and never changes the process's umask (other threads create files).
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "base/files/file_stamp.h"
#include "base/files/sibling_temp.h"

struct cAtomicWriteOptions {
    // A new file gets this mode less the umask, as any file a program creates.
    mode_t create_mode = 0666;
    // A file that is replaced keeps its own permissions (where the target is a link, those of
    // the file it names); false: the new file's mode is that of a new file.
    bool keep_mode = true;
    // >= 0: exactly this mode, whatever was there before and whatever the umask.
    int exact_mode = -1;
    // The bytes are flushed to the disk before the file is put in place (and, by
    // write_file_atomically, the folder's entry after it).
    bool durable = false;
    // Told of the temporary's name before it is made (see sibling_temp.h).
    const cTempRegistry* registry = nullptr;
};

// One file on its way to its place. Each step answers false with error() holding the errno of
// the failure; whatever the steps did, a temporary that was not put in place (or released) is
// removed when the object goes.
class cAtomicFile {
public:
    explicit cAtomicFile(std::string target, const cAtomicWriteOptions& options = {});
    ~cAtomicFile();
    cAtomicFile(cAtomicFile&& other) noexcept;
    cAtomicFile& operator=(cAtomicFile&& other) noexcept;
    cAtomicFile(const cAtomicFile&) = delete;
    cAtomicFile& operator=(const cAtomicFile&) = delete;

    // Creates the temporary, open for writing, with the mode the options give.
    bool create();
    // Instead of new bytes: the temporary is a second name of the file at existing (a hard
    // link; it fails on a file system without them).
    bool link_from(const std::string& existing);
    bool write(const char* data, size_t size);
    bool write(std::string_view bytes) { return write(bytes.data(), bytes.size()); }
    // Ends the writing: flushed when durable, then closed. stamp, when given, receives the
    // temporary's stamp before it is closed.
    bool close(cFileStamp* stamp = nullptr);
    // Puts the temporary at the target (closing it first). replace false: only where nothing is
    // there, in one step (EEXIST otherwise), so a file made there meanwhile is never replaced.
    bool commit(bool replace = true);
    // Removes the temporary now (it is not put in place).
    void discard();
    // Hands the temporary over to the caller, closed: it is no longer removed here. Its path.
    std::string release();

    int fd() const { return fd_; }
    const std::string& target() const { return target_; }
    const std::string& temp_path() const { return temp_; }
    int error() const { return error_; }

private:
    std::string target_;
    cAtomicWriteOptions options_;
    std::string temp_;
    int fd_ = -1;
    int slot_ = -1;  // the registry's
    int error_ = 0;

    bool fail();
    void forget();
};

// Writes bytes as path in one step. False, with the errno in error_code, when it cannot; nothing
// is left behind then, and a file that was there stays as it was.
bool write_file_atomically(const std::string& path, std::string_view bytes, int& error_code,
                           const cAtomicWriteOptions& options = {});

// Makes the renames in the folder that holds path durable (fsync of the folder); quiet.
void sync_folder_of(const std::string& path);
