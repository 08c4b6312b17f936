// The track source the editor's tests edit: comments between keys and after them, blank
// lines, and keys of every kind of line a hand-written source has.
#pragma once

inline constexpr const char* kSource =
    "# the test show\n"
    "\n"
    "track kick   # drums\n"
    "  # -- intro, 0:0 --\n"
    "  0:0      0          step\n"
    "  1:0      1          linear   # first hit\n"
    "  2:0      0.5        smooth\n"
    "  # -- verse, 4:0 --\n"
    "  4:0      0          step\n"
    "\n"
    "track word_t\n"
    "  0:0      0          linear\n"
    "  8:0      1          step\n";
