// Trying a module library in a process of its own before the show depends on it: a library
// caught half-written or corrupt can crash the loader (its relocations and constructors run
// at load), and it must crash a trial process, never the playing one. This is the caller's
// side: which program runs the trial, starting it, and how it ended (the trial itself is
// library_trial.h). Uses the child processes of base/process; never loads the library into the calling process.
#pragma once
#include <string>

struct cLibraryProbe {
    enum outcome_t {
        loads,         // it loaded and has both exports
        not_loaded,    // the loader refused it; detail: the loader's message
        lacks_export,  // detail: the missing export's name
        crashed,       // detail: the signal's name, e.g. "SIGSEGV"
        hung,          // it did not finish in time and was ended
        not_run,       // no trial process could be started; detail: why
        failed,        // the trial ended otherwise; detail: its status
    };
    outcome_t outcome = not_run;
    std::string detail;
};

// Starts program as "program --probe-library library" in a process group of its own, without a
// terminal, and waits for it at most timeout_seconds.
cLibraryProbe probe_library(const std::string& program, const std::string& library, double timeout_seconds);

// The program to run trials with: the small trial program beside this process's own program
// when it is there (it starts in a few milliseconds), else this program itself (the player
// runs the same trial, but loads all its libraries first).
std::string library_probe_program();
