// The development mode's entry: the player started with --dev. The show as the release player
// starts it, in a resizable window, with the console copied to the terminal, then the
// development loop. Never returns: the process ends from the loop.
#pragma once

#include "authoring/dev/dev_options.h"

[[noreturn]] void run_dev_mode(const cDevOptions& options);
