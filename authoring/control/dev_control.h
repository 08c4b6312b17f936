// The development mode's control surface for tools that drive the playing show from other
// threads (the browser editor's server). Requests are queued and applied by the main loop
// between frames; the state is a snapshot published once per frame; events are delivered on
// the main thread between frames. Every operation is thread-safe. No GL, no files.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/sync/sync_track.h"

// The show as the last drawn frame saw it.
struct cDevState {
    int64_t music_ms = 0;       // the time the modules saw (the A/V offset included)
    bool paused = false;
    bool loop_on = false;
    int64_t loop_start_ms = 0;  // meaningful while loop_on
    int64_t loop_end_ms = 0;
    int32_t av_offset_ms = 0;
    uint64_t frame = 0;         // frames drawn since start
};

// The keys a tool wants a track to have for the moment (a change being dragged, not saved).
struct cDevTrackKeys {
    std::string name;
    std::vector<cSyncKey> keys;  // in increasing row order; none: the track reads 0
};

// Something that happened on the main thread that a tool may want to show.
struct cDevEvent {
    enum kind_t { tracks_reloaded, reload_failed, state_changed };
    kind_t kind = state_changed;
    std::string path;  // the file concerned, relative to the show directory ("data/sync/show.tracks")
    std::string text;  // tracks_reloaded: the source text now in effect; reload_failed: the message
};

class iDevControl {
public:
    virtual ~iDevControl() = default;
    virtual void request_seek(int64_t music_ms) = 0;          // clamped to the show
    virtual void request_pause(bool paused) = 0;
    virtual void request_toggle_pause() = 0;
    virtual void request_loop(int64_t start_ms, int64_t end_ms) = 0;  // end <= start clears it
    // Replaces every track with those of this track source text, between frames, exactly as a
    // reload of "data/sync/show.tracks" does but without reading the file. A text the track
    // compiler refuses changes nothing and is reported as a reload_failed event.
    virtual void request_tracks(std::string source_text) = 0;
    // Gives these tracks these keys in the running show, between frames, until the next reload
    // of each (a source text from a tool or the file, the track's own file written). Writes no
    // file and says nothing; a newer preview of a track replaces a waiting one.
    virtual void request_preview(std::vector<cDevTrackKeys> tracks) = 0;
    virtual cDevState state() const = 0;
    // The listener is called on the main thread between frames, never while a request is
    // being queued; it must not block. Returns an id for unsubscribe.
    virtual int subscribe(std::function<void(const cDevEvent&)> listener) = 0;
    virtual void unsubscribe(int id) = 0;
};
