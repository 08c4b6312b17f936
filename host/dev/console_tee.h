// The development mode's console: every line still lands in "stdout.txt" and "stderr.txt",
// and also on the terminal the player was started from, where the person at work reads it.
// Uses POSIX pipes and one copying thread; never changes what is written or its order within
// a stream.
#pragma once

// In place of redirect_console: standard output and error go through pipes to a thread that
// writes each into its file and onto the stream it came from before. At the end of the
// process everything written is copied before the files close. When the files or pipes
// cannot be made it falls back to redirect_console (which says why) and returns false.
bool redirect_console_with_tee();
