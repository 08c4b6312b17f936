// A 5 x 7 pixel font for labels (the track tool's plots, the player's on-screen read-out):
// digits, lower-case letters (upper case is drawn with the same shapes) and the punctuation
// that numbers, times, track names and compiler messages need. Plain data; no allocation, no files.
#pragma once

constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;
constexpr int kGlyphAdvance = 6;  // one blank column between characters

// Seven rows of five characters, '#' for a set pixel, for c; a hollow box for characters
// the font does not have.
const char* const* glyph_rows(char c);
