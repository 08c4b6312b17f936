// What one live reload came to, for the console, the read-out and the tools listening: the
// file, whether it took, one line about it (the first line of an error), and the lines the
// console is to get. Reloaders make outcomes and never print them; the development loop tells
// each once. Plain record and its console writer.
#pragma once
#include <string>
#include <utility>
#include <vector>

// One console line: a problem ("## ERROR: ...", "# WARNING: ...") goes to standard error,
// information ("# note: ...") to standard output.
struct cConsoleLine {
    bool problem = false;
    std::string text;  // the whole line, without its line end
};

struct cReloadOutcome {
    bool ok = true;
    std::string path;     // relative to the show directory
    std::string message;  // one line for the read-out and the tools; empty: nothing to show
    std::vector<cConsoleLine> console;  // in the order they are written; may be empty

    cReloadOutcome() = default;
    cReloadOutcome(bool took, std::string file, std::string line)
        : ok(took), path(std::move(file)), message(std::move(line)) {}

    // Adds a line for standard output, or for standard error.
    cReloadOutcome& info(std::string line) & {
        console.push_back({false, std::move(line)});
        return *this;
    }
    cReloadOutcome&& info(std::string line) && { return std::move(info(std::move(line))); }
    cReloadOutcome& problem(std::string line) & {
        console.push_back({true, std::move(line)});
        return *this;
    }
    cReloadOutcome&& problem(std::string line) && { return std::move(problem(std::move(line))); }
};

// Writes the outcome's console lines, each to its stream, each line flushed as it ends.
void tell_console(const cReloadOutcome& outcome);

// The first line of a multi-line text (a compiler's log), without its line end.
std::string first_line_of(const std::string& text);
