// Console conventions of the host: every report is one line on standard output (information)
// or standard error (problems), and the process entry points both streams at log files.
// Also the soft assertion and the call-stack printer. No logging library, no levels.
#pragma once

// Points standard output at "stdout.txt" and standard error at "stderr.txt" in the current
// directory. A file that cannot be created leaves its stream where it was and says so in one
// line on that stream. Returns true when both streams were redirected. With owner_only the
// files are readable by their owner alone, also when they were there already.
bool redirect_console(bool owner_only = false);

// The soft assertion: stops for attention (breaks into an attached debugger, or waits for
// Enter when standard input is a terminal), then writes "## ASSERT FAILED: " + message on
// standard error when message is not null, and returns. It never ends the process.
void assert_failed(const char* message);
// From now on the soft assertion never waits for Enter (it still breaks into a debugger):
// for the development mode, whose terminal is read and never answered.
void assertions_never_wait();

// Writes "## CALLSTACK" and then "\t!name() Line N" for every frame with a known source line,
// innermost first, at most 200 frames, stopping after the frame named exactly "main".
void print_call_stack();
