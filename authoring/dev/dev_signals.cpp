// The development mode's ending signals over POSIX sigaction and the process's exit steps.
// The handler only stores the signal's number; everything else runs in the main thread.
#include "authoring/dev/dev_signals.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

volatile sig_atomic_t g_end_signal = 0;
int g_ending_by = 0;  // the signal to end by at the end of the exit; 0: end with main's status

// The first one asks; a second one (of either kind, the loop stuck in a module) ends the
// process at once, by default.
void note_signal(int number) {
    g_end_signal = number;
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(SIGINT, &fallback, nullptr);
    ::sigaction(SIGTERM, &fallback, nullptr);
}

void end_by_pending_signal() {
    const int number = g_ending_by;
    if (number == 0) return;
    // The exit flushes the C library's streams only after its last step, which this is.
    std::fflush(nullptr);
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(number, &fallback, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, number);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(number);
    ::_exit(128 + number);  // not reached: the default action of both is to end the process
}

}  // namespace

void prepare_end_by_signal() { std::atexit(end_by_pending_signal); }

void catch_end_signals() {
    struct sigaction action {};
    action.sa_handler = note_signal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

int end_signal() { return g_end_signal; }

const char* end_signal_text(int number) {
    switch (number) {
        case SIGINT: return "SIGINT (interrupted from the terminal)";
        case SIGTERM: return "SIGTERM (asked to end)";
        default: return "a signal";
    }
}

void end_by_signal_at_exit(int number) { g_ending_by = number; }
