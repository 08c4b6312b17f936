// Keeps the promise that a capture leaves no half-written file behind: files and folders being
// written are held here, and every abnormal end of the process (a failure that calls exit, an
// uncaught exception, SIGINT, SIGTERM, SIGHUP, a crash) stops the child processes and removes
// them first. Signal-safe by construction: fixed slots, no allocation in the clean-up.
#pragma once
#include <sys/types.h>

#include <string>

namespace partial_files {

// Installs the signal handlers, the exit hook and the terminate hook. Call once, early.
// SIGPIPE and SIGXFSZ are ignored: a dead encoder or a file-size limit shows up as a failed
// write, which the capture reports and cleans up after.
void install();

// Holds a file that is being written; it is removed if the process ends while held.
// Returns the slot, or -1 when every slot is taken (the file is then not protected).
int hold(const std::string& path);
// Holds a folder of work files: on an abnormal end the plain files directly in it are removed,
// then the folder itself. With files_too false only an empty folder is removed.
int hold_folder(const std::string& path, bool files_too = true);
// The file or folder is finished (renamed into place) or already removed: stop holding it.
void release(int slot);
// A held file now exists. Once the process's end has begun its clean-up (a signal handled on
// another thread), the file is removed at once: the clean-up may have looked for it before it
// was made.
void made(const std::string& path);

// A child process to stop, with signal, and wait for before held files are removed: SIGKILL
// for an encoder (its output is removed anyway), SIGTERM for a chunk capture (which then
// removes its own unfinished files). Returns false when every child slot is taken.
bool add_child(pid_t pid, int signal);
void remove_child(pid_t pid);

// Stops the children and removes everything held. Safe inside a signal handler.
void abandon_all();

// Removes the plain files in folder and the folder itself, with system calls only (safe inside
// a signal handler). Returns false when something could not be removed.
bool remove_folder(const char* folder);

}  // namespace partial_files
