// Keeps the promise that a capture leaves no half-written file behind: files being written are
// held here, and every abnormal end of the process (a failure that calls exit, an uncaught
// exception, SIGINT, SIGTERM, SIGHUP, a crash) stops the encoder and removes them first.
// Signal-safe by construction: fixed slots, no allocation in the clean-up.
#pragma once
#include <sys/types.h>

#include <string>

namespace partial_files {

// Installs the signal handlers, the exit hook and the terminate hook. Call once, early.
void install();

// Holds a file that is being written; it is removed if the process ends while held.
// Returns the slot, or -1 when every slot is taken (the file is then not protected).
int hold(const std::string& path);
// The file is finished (renamed into place) or already removed: stop holding it.
void release(int slot);

// A child (the encoder) to stop before held files are removed; 0 for none.
void set_child(pid_t pid);

// Stops the child and removes every held file. Safe inside a signal handler.
void abandon_all();

}  // namespace partial_files
