// What the development loop asks of each reloader of the show's files: which files are its
// own, and the changes to them. The loop hands every change to the first reloader that takes
// its path and knows no folder or file name itself. Interface only.
#pragma once
#include <string>
#include <vector>

#include "authoring/dev/file_watcher.h"
#include "authoring/dev/reload_outcome.h"

class iFileReloader {
public:
    virtual ~iFileReloader() = default;

    // Whether path (relative to the show directory, as the watcher names it) is one of its files.
    virtual bool takes(const std::string& path) const = 0;
    // Changes to its files from one hand-out of the watcher, in the order they came, at now
    // (seconds, monotonic). What can be told at once comes back; the work they start is told
    // by the reloader's own poll.
    virtual std::vector<cReloadOutcome> files_changed(const std::vector<cFileChange>& changes, double now) = 0;
};
