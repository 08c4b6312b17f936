// What one live reload came to, for the read-out and for the tools listening: the file, whether
// it took, and one line about it (the first line of an error). Plain record.
#pragma once
#include <string>

struct cReloadOutcome {
    bool ok = true;
    std::string path;     // relative to the show directory
    std::string message;  // one line: what was reloaded, or why not
};

// The first line of a multi-line text (a compiler's log), without its line end.
std::string first_line_of(const std::string& text);
