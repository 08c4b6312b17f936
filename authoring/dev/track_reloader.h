// Live reload of the sync tracks: the track source "data/sync/show.tracks" compiled in memory
// by the same code as the track tool's compile, and single "_NAME.track" files written by
// other tools. A source with an error (an emptied one defines no track, which is one) and a
// file that is not a whole track file change nothing. Reading and parsing happen on a worker
// thread of the reloader's own, which touches nothing but what it shares with the reloader
// (so a huge source being parsed never holds up the end); the frame loop only swaps the
// prepared keys in between frames,
// so a frame sees all old keys or all new ones. The sync device is touched on the calling
// (main) thread only; never writes a file, and never prints: outcomes carry their console lines.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/files/file_stamp.h"
#include "authoring/dev/dev_config.h"
#include "authoring/dev/file_reloader.h"
#include "authoring/control/dev_control.h"
#include "authoring/dev/reload_outcome.h"
#include "host/sync/sync_config.h"

class cSyncDevice;
struct cSyncKey;

// What one reload of the tracks came to, once the main loop swapped it in.
struct cTrackUpdate {
    cReloadOutcome outcome;
    // The tracks now hold the keys of a source (a tool's text, or the file's, changed or not),
    // whose text this is: what the tools are told.
    bool source_in_effect = false;
    std::string source_text;
};

class cTrackReloader final : public iFileReloader {
public:
    // source_path: the track source file, watched for writes; stable_seconds: how long it must
    // stay the same (size and time) after a write before it is read.
    explicit cTrackReloader(cSyncDevice& sync, std::string source_path = kSyncSourcePath,
                            double stable_seconds = dev_config::kSourceStableSeconds);
    // Stops the worker; what waits is dropped. A job under way is not waited for: the worker
    // finishes it on its own, drops it and ends.
    ~cTrackReloader() override;
    cTrackReloader(const cTrackReloader&) = delete;
    cTrackReloader& operator=(const cTrackReloader&) = delete;

    // The source, and the "_NAME.track" files of the tracks' folder.
    bool takes(const std::string& path) const override;
    // A written source waits to settle (source_written), written track files go to the worker
    // (track_files_written), removals are told at once (removed).
    std::vector<cReloadOutcome> files_changed(const std::vector<cFileChange>& changes, double now) override;

    // ---- at once, on the calling thread ----
    // Every track the text names takes its keys from it, all in the same moment; tracks it
    // does not name keep theirs. label names the text in reports (a path, or where it came
    // from). A text with problems reports each with its line and column and changes nothing.
    cReloadOutcome apply_source(const std::string& text, const std::string& label);
    // Reads one ".track" file again into its track, when the show has asked for that track (one
    // it never asked for is read on its first use anyway) and its keys differ from the track's;
    // otherwise the outcome's message is empty.
    cReloadOutcome reload_track_file(const std::string& path);
    // The source or a track file the show reads was removed: reported; the keys stay.
    std::optional<cReloadOutcome> removed(const std::string& path);
    // A tool's keys for tracks, for the moment (a change it shows before saving it): taken as
    // they are, silently, until the next reload of each track.
    void preview(std::vector<cDevTrackKeys>& tracks);

    // ---- through the worker; the main loop, between frames ----
    // A tool's source text, applied as apply_source does. A newer source (a text, or the file)
    // replaces one still waiting for the worker, and the result of one being parsed.
    void submit_text(std::string text, std::string label);
    // The writer closed the source at now (seconds, monotonic): it is read once it has stayed
    // the same for the stable time. A text that is the one in effect (the browser editor hands
    // the show what it saves) changes nothing and says nothing, and still counts as in effect.
    void source_written(double now);
    // Track files written: read by the worker; those that changed a track are told in one line.
    void track_files_written(std::vector<std::string> paths);
    // Starts the read of a source that has settled, and swaps in what the worker has prepared,
    // in the order it was handed over: one update each (a burst of track files, one in all
    // but its failures, the first few of which come one by one).
    std::vector<cTrackUpdate> poll(double now);
    // Whether the worker has work waiting, under way, or done and not yet swapped in (a source
    // still settling does not count).
    bool busy() const;

private:
    struct cJob;
    struct cPrepared;
    struct cShared;
    void submit(cJob job);
    // Main thread: swaps in, or tells why not.
    void apply(cPrepared& prepared, std::vector<cTrackUpdate>& updates);
    cTrackUpdate apply_source_keys(cPrepared& prepared);
    void apply_track_files(cPrepared& prepared, std::vector<cTrackUpdate>& updates);
    void discard(std::unique_ptr<cSyncKey[]> keys);

    cSyncDevice& sync_;
    const std::string source_path_;
    const double stable_seconds_;

    // ---- main thread ----
    uint64_t next_serial_ = 1;
    // The job whose source every track it names now has, or 0 (none, or a track file or an
    // immediate apply came since).
    uint64_t applied_serial_ = 0;
    bool source_pending_ = false;
    cFileStamp source_stamp_;
    double source_checked_at_ = 0.0;
    std::vector<std::unique_ptr<cSyncKey[]>> garbage_;  // old keys, freed by the worker

    // With the worker, which holds it as long as it runs.
    std::shared_ptr<cShared> shared_;
    std::thread worker_;  // last: started once everything above exists
};
