// The track source on disk: read whole, with what tells whether another program is still
// writing it, and replaced only over the very text an edit was based on. A replacement keeps a
// copy of that text as "<source>.bak", puts the new text in place atomically and flushed to
// the disk, and gives back an outside save that landed meanwhile. No other file is written here.
#pragma once
#include <cstdint>
#include <string>

#include "base/files/file_stamp.h"

struct cSourceRead {
    std::string text;
    cFileStamp stamp;
    // It changed while it was read, or another program has it open for writing (where the
    // system can tell: a file of the user's on a local disk).
    bool changing = false;
    // Since its last change, by the system clock (negative for a time in the future).
    double age_seconds = 0;
};

// False, with the reason in error, when the file cannot be read.
bool read_source_file(const std::string& path, cSourceRead& read, std::string& error);
bool read_source_file(const std::string& path, std::string& text, std::string& error);

// One replacement of the source, in steps, so that an edit can put its other files in place
// between them and give the source back when they fail. Whatever it leaves beside the source
// (its new text never put in place, the displaced file) goes with the object.
class cSourceReplacement {
public:
    explicit cSourceReplacement(const std::string& path);
    ~cSourceReplacement();
    cSourceReplacement(const cSourceReplacement&) = delete;
    cSourceReplacement& operator=(const cSourceReplacement&) = delete;

    // Keeps based_on, the text the edit was made on, as path + ".bak" (a copy of its own,
    // flushed), and writes text beside the source, flushed, with the source's permissions.
    // False (reason in error) when either cannot be written; the source is untouched.
    bool prepare(const std::string& text, const std::string& based_on, std::string& error);

    enum class cPut { done, changed_outside, failed };
    // Puts the new text at path in one step. What that displaced must be based_on, and no other
    // program may be writing it; otherwise it goes back to path (changed_outside: another
    // program saved meanwhile, and its save stays). failed: nothing changed (reason in error).
    cPut put(std::string& error);
    // After done: the displaced source goes back to path (a later step of the edit failed),
    // unless another program has saved there since.
    void take_back();
    // After done: the displaced source goes and the rename is made durable.
    void finish();

private:
    std::string path_, based_on_;
    std::string temp_;       // the new text until it is put in place; then the displaced file
    cFileStamp ours_;      // the new text's file
    cFileStamp displaced_; // the file the new text displaced
    bool prepared_ = false, placed_ = false, finished_ = false;
    bool exchanged_ = false; // placed by exchanging names (the displaced file kept at temp_)

    bool holds_based_on(const std::string& path);
    void swap_back();
};

// prepare, put and finish in one: true when text is in place; false (reason in error) when
// nothing was written or another program changed the file meanwhile (its change stays).
bool replace_source_file(const std::string& path, const std::string& text, const std::string& based_on,
                         std::string& error);
