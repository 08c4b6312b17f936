// Fuzzes the track source compiler: parsing any text, and for accepted sources the way on to
// the show (encoding into ".track" bytes and decoding them back, the canonical text form read
// back, the compiled tracks evaluated). Problems must name real lines and columns; accepted
// tracks must be well-formed and survive every round trip bit for bit.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "host/sync/sync_track.h"
#include "host/sync/track_file.h"
#include "host/sync/track_source.h"
#include "host/sync/track_text.h"

namespace {

bool same_keys(const std::vector<cSyncKey>& a, const std::vector<cSyncKey>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].row != b[i].row || a[i].interpolation != b[i].interpolation) return false;
        if (std::memcmp(&a[i].value, &b[i].value, sizeof(float)) != 0) return false;
    }
    return true;
}

// The compiled keys as the show holds them, evaluated on, between and around every key.
void check_evaluation(const std::vector<cSyncKey>& keys) {
    cSyncTrack track;
    track.key_count = static_cast<int32_t>(keys.size());
    if (!keys.empty()) {
        track.keys = std::make_unique<cSyncKey[]>(keys.size());
        std::copy(keys.begin(), keys.end(), track.keys.get());
    }
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const double row = keys[i].row;
        for (double at : {row - 0.5, row, row + 0.5}) {
            double value = value_at(track, at);
            FUZZ_CHECK(std::isfinite(value) && std::isfinite(static_cast<float>(value)),
                       "a compiled track reads finite values");
        }
        FUZZ_CHECK(value_at(track, row) == keys[i].value, "on its row a compiled key reads its own value");
        if (i + 1 < keys.size()) {
            double value = value_at(track, (row + keys[i + 1].row) / 2.0);
            FUZZ_CHECK(std::isfinite(value) && std::isfinite(static_cast<float>(value)),
                       "a compiled track reads finite values between keys");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const cParsedSource parsed = parse_track_source(text);
    const int line_count = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
    for (const cSourceProblem& problem : parsed.problems) {
        FUZZ_CHECK(problem.line >= 1 && problem.line <= line_count, "a problem names a line of the text");
        FUZZ_CHECK(problem.column >= 1, "a problem names a column");
        FUZZ_CHECK(!problem.message.empty(), "a problem says what is wrong");
    }
    if (!parsed.ok()) return 0;
    FUZZ_CHECK(!parsed.tracks.empty(), "an accepted source defines a track");

    std::string canonical;
    for (const cSourceTrack& track : parsed.tracks) {
        FUZZ_CHECK(is_valid_track_name(track.name), "accepted names are valid file names");
        for (std::size_t i = 0; i < track.keys.size(); ++i) {
            const cSyncKey& key = track.keys[i];
            FUZZ_CHECK(std::isfinite(key.value), "accepted values are finite");
            FUZZ_CHECK(!interpolation_name(key.interpolation).empty(), "accepted interpolations have names");
            FUZZ_CHECK(i == 0 || key.row > track.keys[i - 1].row, "accepted keys go strictly forward");
        }
        // Compiled bytes: the fixed size, decoded back bit for bit.
        const std::string bytes = encode_track(track.keys);
        FUZZ_CHECK(bytes.size() == 4 + 9 * track.keys.size(), "a track file is 4 + 9 n bytes");
        std::vector<cSyncKey> decoded;
        std::string error;
        FUZZ_CHECK(decode_track(bytes, decoded, error), "compiled bytes decode");
        FUZZ_CHECK(same_keys(decoded, track.keys), "compiled bytes decode to the same keys");
        check_evaluation(decoded);
        canonical += format_track(track.name, track.keys);
    }

    // The canonical text (what dump writes) reads back as the same tracks, and is its own
    // canonical form.
    const cParsedSource again = parse_track_source(canonical);
    FUZZ_CHECK(again.ok(), "the canonical text is accepted");
    FUZZ_CHECK(again.tracks.size() == parsed.tracks.size(), "the canonical text has the same tracks");
    for (std::size_t t = 0; t < parsed.tracks.size(); ++t) {
        FUZZ_CHECK(again.tracks[t].name == parsed.tracks[t].name, "the canonical text keeps the names");
        FUZZ_CHECK(same_keys(again.tracks[t].keys, parsed.tracks[t].keys), "the canonical text keeps every key");
    }
    // Each lookup scans the whole text, so the first and the last track stand for all.
    for (std::size_t t : {std::size_t{0}, parsed.tracks.size() - 1}) {
        FUZZ_CHECK(canonical_track_lines(canonical, parsed.tracks[t].name) ==
                       format_track(parsed.tracks[t].name, parsed.tracks[t].keys),
                   "canonical lines of the canonical text are the text itself");
    }
    return 0;
}
