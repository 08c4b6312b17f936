// How the development mode ends on SIGINT and SIGTERM: the handler only notes the signal, the
// loop ends at its next turn, the caller tears down in order and returns from main, the
// process goes through its exit steps (the console copied to the terminal) and then ends by
// that same signal, so that whoever started it sees the conventional status (130, 143). A
// second signal ends it at once. POSIX signals; the handler does nothing else.
#pragma once

// Registers the last step of the exit: call it before anything else registers an exit step,
// so that it runs after all of them.
void prepare_end_by_signal();
// Catches SIGINT and SIGTERM from now on.
void catch_end_signals();
// The signal that asked the show to end; 0 while none did.
int end_signal();
// "SIGINT (interrupted from the terminal)", "SIGTERM (asked to end)".
const char* end_signal_text(int number);
// Makes the last exit step end the process by the signal, with its default action, instead
// of with the status main returns.
void end_by_signal_at_exit(int number);
