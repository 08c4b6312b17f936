// Live reload of the sync tracks: the track source "data/sync/show.tracks" compiled in memory
// by the same code as the track tool's compile, and single "_NAME.track" files written by
// other tools. A source with an error (an emptied one defines no track, which is one) and a
// file that is not a whole track file change nothing. Main thread only, between frames; never writes a file.
#pragma once
#include <optional>
#include <string>

#include "host/dev/reload_outcome.h"

class cSyncDevice;

class cTrackReloader {
public:
    explicit cTrackReloader(cSyncDevice& sync) : sync_(sync) {}

    // Every track the text names takes its keys from it, all in the same moment; tracks it
    // does not name keep theirs. label names the text in reports (a path, or where it came
    // from). A text with problems reports each with its line and column and changes nothing.
    cReloadOutcome apply_source(const std::string& text, const std::string& label);
    // Reads the track source from its file and applies it; text receives what was read. A text
    // that is the one last applied (the browser editor hands the show what it saves) changes
    // nothing and says nothing: the outcome is ok with an empty message.
    cReloadOutcome reload_source_file(std::string& text);
    // Reads one ".track" file again into its track, when the show has asked for that track (one
    // it never asked for is read on its first use anyway) and its keys differ from the track's;
    // otherwise the outcome's message is empty.
    cReloadOutcome reload_track_file(const std::string& path);
    // The source or a track file the show reads was removed: reported; the keys stay.
    std::optional<cReloadOutcome> removed(const std::string& path);

private:
    cSyncDevice& sync_;
    // The source text whose keys every track it names has now; empty once a track file changed
    // a track since.
    std::string applied_source_;
};
