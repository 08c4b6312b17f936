// The trial of a module library, in the process started for it (the small trial program
// beside the player, or the player itself): load the library, resolve its two exports, say
// how it went through the report descriptor and the exit status, and end at once. Uses the
// dynamic loader service alone, so that the trial program links nothing else.
#pragma once

// Ends the process with kProbeLoads, kProbeNotLoaded (the loader's message written to
// kProbeReportFd, or to standard error where that is not open), kProbeLacksCreate or
// kProbeLacksDelete. Calls nothing of the library but what loading runs, and no exit steps.
[[noreturn]] void run_library_trial(const char* library);

// The trial program's whole command line: "PROGRAM --probe-library LIBRARY". Its status, or
// a line on standard error and status 2 for any other command line.
int library_trial_main(int argc, char** argv);
