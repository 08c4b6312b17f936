// The sync device: the value of a named track at a music time, for the host and for render
// modules (through iSync). Turns milliseconds into rows, keeps a name -> track registry and
// reads a track's file on its first request. Opens no connection and takes no edits.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "host/sync/sync_config.h"
#include "host/sync/sync_store.h"
#include "sync.h"

class cSyncDevice final : public iSync {
public:
    double bpm = kSyncBeatsPerMinute;
    double rows_per_beat = kSyncRowsPerBeat;
    double rows_per_second = 0.0;  // bpm / 60 * rows per beat, set at construction

    cSyncDevice();

    // Creates the track store on base_path (kept as given) and says so on standard error:
    // "# SYNC connected to localhost" or "# SYNC: ERROR - failed creation". A second call
    // keeps the store it already has. Returns whether a store exists.
    bool open_store(const std::string& base_path = kSyncBasePath);

    // Asks the store for the track of that name (reading its file the first time the store
    // sees the name) and registers it. False only without a store or name.
    bool register_track(const char* name);

    // The track's value at time_ms. The first request for a name registers it; later ones
    // are a hash lookup and a track evaluation, with no allocation and no file access.
    // 0 for every name while there is no store.
    float get_value(const char* name, const int64_t& time_ms) override;

    // The track of that name, registered (and its file read) first when it is new; null
    // without a store. The development mode replaces tracks' keys through it between frames.
    cSyncTrack* track(const char* name);
    // The track of that name when some request has registered it, or else null.
    cSyncTrack* registered_track(const char* name) const;

    const cSyncStore* store() const { return store_.get(); }
    std::size_t registered_count() const { return registry_.size(); }

private:
    // Lets the registry be searched with the caller's string as it is (no temporary copy).
    struct cNameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
    };

    std::unique_ptr<cSyncStore> store_;  // owns every track
    std::unordered_map<std::string, cSyncTrack*, cNameHash, std::equal_to<>> registry_;  // views into store_
};
