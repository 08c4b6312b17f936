// Watching the show's folders for changed files (inotify): what was written (closed after
// writing, or moved into place) and what was removed, coalesced per file and handed out once
// the folder has been quiet for a moment. Folders that go away (renamed, deleted) are looked
// for again; a lost event queue (a branch switch can overflow it) is made good by comparing
// the folders with what they held. Never reads a file's contents; main thread only.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/files/file_stamp.h"

struct cFileChange {
    enum kind_t { written, removed };
    kind_t kind = written;
    std::string path;  // as the folder was given, plus "/" and the file's name
    bool operator==(const cFileChange&) const = default;
};

class cFileWatcher {
public:
    // settle: how long the folders must be quiet before changes are handed out; max_settle:
    // the longest a change waits however busy they are; rewatch: how often a folder that is
    // not there is looked for.
    cFileWatcher(double settle_seconds, double max_settle_seconds, double rewatch_seconds);
    ~cFileWatcher();
    cFileWatcher(const cFileWatcher&) = delete;
    cFileWatcher& operator=(const cFileWatcher&) = delete;

    // False when the system gives no watcher (reported once by the constructor).
    bool ok() const { return fd_ >= 0; }
    // Starts watching a folder (relative to the current directory, or absolute). One that does
    // not exist yet is watched once it does.
    void watch(const std::string& folder);
    // Reads every waiting event without blocking and returns the changes that have settled,
    // each file once (the last thing that happened to it), sorted by path. now: seconds of a
    // monotonic clock. Events read now are taken as happened at the previous poll (they came
    // after it), so a loop that polls once a frame hands a change out in the first frame
    // after it, unless the frames are shorter than the settling time; but when the previous
    // poll read events too, they are taken as happened now, so changes that keep coming from
    // frame to frame wait until a frame brings none (or the longest wait is up).
    std::vector<cFileChange> poll(double now);
    // Whether changes are waiting to settle.
    bool pending() const { return !pending_.empty(); }

private:
    struct cFolder {
        std::string path;
        int wd = -1;             // -1 while it is not watched
        bool reported_gone = false;
        double retry_at = 0.0;
        std::map<std::string, cFileStamp> files;  // what it held, for lost events and returns
    };

    void add_watch(cFolder& folder, double now, bool returning);
    void lose(cFolder& folder, double now, const char* how);
    void read_events(double now);
    // Compares a folder with its snapshot and records the differences as changes.
    void rescan(cFolder& folder, double now);
    void note(const std::string& path, cFileChange::kind_t kind, double now);
    static std::map<std::string, cFileStamp> snapshot(const std::string& folder);

    int fd_ = -1;
    double settle_;
    double max_settle_;
    double rewatch_;
    std::vector<cFolder> folders_;
    std::map<std::string, cFileChange::kind_t> pending_;
    double first_pending_ = 0.0;
    double last_event_ = 0.0;
    double last_poll_ = -1.0;  // -1: never polled
    size_t noted_ = 0;         // changes noted since the last poll began
};
