// Edits of the track source text that keep everything they do not touch: comments, blank
// lines, the order of tracks and keys, line ends, untouched lines byte for byte. Pure text
// work over the parser's line numbers; it never decides whether the result is a good source
// (the track compiler does, on the text it returns) and never touches files.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/sync/sync_track.h"
#include "host/sync/track_source.h"

// One change of one key: an existing key (from_row) changed into `to` or removed, or a new
// key (`to` without from_row).
struct cKeyEdit {
    std::string track;
    std::optional<int32_t> from_row;
    std::optional<cSyncKey> to;
};

struct cTextEdit {
    bool ok = false;
    std::string text;    // the whole new source when ok
    std::string error;   // why the edit names something the source does not have
};

// Applies key edits of any tracks at once. parsed must be the problem-free parse of text.
// A key that keeps its place among the keys it did not pass keeps its line (and its comment);
// a key that passes others, or a new one, goes after the key before it, or after a comment
// that marks a position ("# -- verse1, 32:0 --") at or before its row.
cTextEdit edit_keys(std::string_view text, const cParsedSource& parsed, const std::vector<cKeyEdit>& edits);

// Renames a track on its header line, keeping the line's spacing and comment.
cTextEdit rename_track(std::string_view text, const cParsedSource& parsed, std::string_view from, std::string_view to);

// Appends "track NAME" after a blank line at the end of the source.
cTextEdit add_track(std::string_view text, std::string_view name);

// A track's block is its header, its lines up to the next track's block, and the comment lines
// right above its header when a blank line stands before them (never the first track's: those
// describe the file). Blank lines around blocks keep one between every two.
// Removes the track's block with the blank lines that separated it.
cTextEdit delete_track(std::string_view text, const cParsedSource& parsed, std::string_view name);
// Moves the track's block before the block of track `before`, or after the last block when
// `before` is empty.
cTextEdit move_track(std::string_view text, const cParsedSource& parsed, std::string_view name,
                     std::string_view before);
