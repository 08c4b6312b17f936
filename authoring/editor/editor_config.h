// Fixed numbers of the browser editor: its address, its limits and the sizes of what it
// sends. Only constants here; nothing that allocates, listens or reads files.
#pragma once
#include <cstddef>
#include <cstdint>

#include "host/show/host_constants.h"

namespace editor_config {

// The editor listens on the loopback interface only, at this port unless told otherwise.
constexpr const char* listen_host = "127.0.0.1";
constexpr int default_port = 8917;

// 128 random bits, written as 32 hexadecimal digits.
constexpr std::size_t token_bytes = 16;
constexpr const char* token_header = "X-Editor-Token";
constexpr const char* token_query = "token";
// The cookie is named per port: browsers share cookies between the ports of one host.
constexpr const char* token_cookie_prefix = "editor_token_";

// Bodies above this are refused before they are read, however they are sent.
constexpr std::size_t max_body_bytes = 1024 * 1024;
// A request line with its headers above this is refused.
constexpr std::size_t max_head_bytes = 16 * 1024;

// Requests are read whole by one thread for every connection, then answered by a few workers;
// each open page holds a thread of its own for its event stream, from a pool of their own,
// with room for a page that replaces the oldest while that one is still saying goodbye.
constexpr std::size_t request_threads = 4;
// Whole requests waiting for a worker; beyond this they are answered 503 at once.
constexpr std::size_t max_queued_requests = 32;
constexpr std::size_t max_event_streams = 8;
constexpr std::size_t stream_threads = max_event_streams + 2;
// Connections that have not sent a whole request yet, idle ones included; beyond this the one
// waiting longest is closed, so that no crowd of slow clients keeps a page out.
constexpr std::size_t max_waiting_connections = 64;
// A request must arrive whole within this time of its first byte, whatever pace it comes at;
// a connection that sends nothing is closed after the second one.
constexpr int request_deadline_ms = 5000;
constexpr int idle_connection_ms = 5000;
// After a refusal, what the client still sends is read and dropped for at most this long, so
// that it gets to read the answer rather than a reset connection.
constexpr int drain_ms = 1000;
// An event stream that falls this many messages behind is closed; the page reconnects and
// gets the whole state again.
constexpr std::size_t max_queued_events = 256;
// A quiet event stream sends a comment this often, so a page notices a dead connection.
constexpr int keep_alive_seconds = 15;
// The player's time goes to every page this often, besides every change of play state.
constexpr int player_push_ms = 1000;
// One write of an answer gives up after this long without the client reading.
constexpr int write_timeout_ms = 5000;
// While the music is being decoded the waveform is refused with this hint to ask again.
constexpr int peaks_retry_seconds = 1;

// A source that another program changed is taken (a new version, on every page) only when it
// is whole: it parses, and has been quiet this long (no change of its size or times, and no
// program holding it open for writing). A text editor that empties the file and writes it in
// pieces takes microseconds to milliseconds between them; a change a page sends meanwhile is
// refused with the reason and tried again by the page once the file settles.
constexpr int source_settle_ms = 500;

// A preview of a change (the show playing a dragged key) that nobody has renewed for this long
// ends: the page renews it while a drag is held, so only a page gone mid-drag lets it lapse.
constexpr int preview_idle_ms = 4000;
// How long after the editor removed a track file (a renamed or deleted track) the show's report
// of that removal is its own doing, not news for the pages.
constexpr int removal_report_ms = 10000;

// Edits remembered for undo (the oldest go first).
constexpr std::size_t history_depth = 200;
// Undo and redo labels sent to the pages.
constexpr std::size_t history_shown = 50;

// The waveform: minimum and maximum of every 5 ms of music, as signed bytes.
constexpr int peak_buckets_per_second = 200;

// The music's timeline (sections), written beside the music by the music generator, relative to
// the show directory; the beats to the bar.
constexpr const char* timeline_path = "data/muzak/recut.timeline.json";
constexpr int beats_per_bar = host_constants::beats_per_bar;

}  // namespace editor_config
