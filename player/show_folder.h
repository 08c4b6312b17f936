// The show folder of the running player, found from the player's own program (show/bin/demoplayer)
// so that it plays from wherever it was unpacked and whatever the current directory; and the
// place of its logs and module copies: the show's bin/, or the user's state directory when the
// show's folder cannot be written. Uses /proc/self/exe and the console's redirection.
#pragma once
#include <string>

struct cShowPlaces {
    std::string show_directory;          // the current directory once entered
    std::string log_directory;           // where stdout.txt and stderr.txt are
    std::string module_cache_directory;  // absolute, ending in "/"
    bool in_state_directory = false;     // the show's folder is read-only
};

// Makes the folder of the player's own program the current directory (show/bin/). Where the
// program cannot be found (no /proc), the current directory stays: the player was then started
// from show/bin/ as before.
void enter_program_directory();

// From show/bin/ as the current directory: points the console at the log files (in show/bin/,
// or in the state directory, saying so on the terminal first), makes the module cache where it
// is missing, then enters show/.
cShowPlaces enter_show_folder();
