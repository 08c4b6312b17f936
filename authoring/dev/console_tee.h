// The development mode's console: every line still lands in "stdout.txt" and "stderr.txt" (for
// their owner alone: they hold the editor's token), and also on the terminal the player was
// started from, where the person at work reads it. The files are written directly by whoever
// writes a line; the terminal gets a copy from one thread, and from a crash's handler. Never
// changes what is written or its order within a stream.
#pragma once

// In place of redirect_console: standard output and error become the log files (standard
// output line-buffered), and a thread copies what they gain onto the streams they were before.
// At the end of the process, and when it crashes (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT:
// a line naming the signal first), everything written is copied before it goes. When the
// files cannot be made it falls back to redirect_console (which says why) and returns false.
bool redirect_console_with_tee();
