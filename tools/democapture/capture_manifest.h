// What a finished range capture records about itself, so that chunks can be joined and a join
// can refuse what would not give the capture of one run: the output kind, the frame grid and
// the range on it, the picture's size and sampling, the video quality, and the show and build
// that made it (capture_identity.h). Written as the file
// democapture.txt in a PNG folder (one line per field) and as the "comment" tag of a video
// (fields separated by ';'). Pure text; no files here.
#pragma once
#include <cstdint>
#include <string>

struct cRangeManifest {
    std::string output;       // "png", "h264" or "ffv1"
    int32_t fps = 0;
    int64_t first_frame = 0;  // on the show's frame grid
    int64_t frames = 0;
    int64_t from_ms = 0;      // the range as asked, for messages
    int64_t to_ms = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t supersample = 1;
    int32_t crf = -1;         // H.264 only
    std::string show;         // the show's digest
    std::string build;        // democapture's build id

    int64_t end_frame() const { return first_frame + frames; }
};

// The text, with separator between the lines ('\n' for the file, ';' for a tag).
std::string manifest_text(const cRangeManifest& manifest, char separator);
// Reads either form. False with error (what is wrong with it) when text is not a manifest.
bool parse_manifest(const std::string& text, cRangeManifest& manifest, std::string& error);
// The settings that must agree for two captures to join: "" when they do, else what differs.
std::string manifest_mismatch(const cRangeManifest& a, const cRangeManifest& b);
