// The development mode's entry: the player started with --dev. The show as the release player
// starts it, in a resizable window, with the console copied to the terminal, then the
// development loop. Returns once the loop has ended and what it started is torn down.
#pragma once

#include "authoring/dev/dev_options.h"

// The process's exit status, for main to return: 0 when the show was ended from its window,
// 128 + N after signal N (the process then ends by that signal at the end of its exit).
int run_dev_mode(const cDevOptions& options);
