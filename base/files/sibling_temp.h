// Temporary files beside the file they will replace: "." + the file's name + "." + six letters
// or digits (one at least a capital or a digit), in the same folder, so that a rename puts one
// in place and a program that opens only the names it knows never reads one. The same pattern
// tells a stale one at start. Creating one never touches the process's umask (other threads
// create files meanwhile), and never replaces or removes an existing file.
#pragma once
#include <sys/types.h>

#include <string>

// A fresh candidate name for target's temporary (nothing is created; the name may be taken).
std::string sibling_temp_candidate(const std::string& target);
// A list that removes what a process leaves when it dies half-way (a signal handler's): told a
// temporary's name before the file is made, and given the slot back once it is gone or in place.
struct cTempRegistry {
    int (*hold)(const std::string& path) = nullptr;  // the slot, or -1 when it keeps nothing
    void (*release)(int slot) = nullptr;
    // Told once the file exists: a clean-up that ran between the hold and the file's making
    // found nothing to remove, and must be finished here.
    void (*made)(const std::string& path) = nullptr;
};

// Creates and opens (read-write, close-on-exec) a new temporary file for target with mode as a
// new file gets it (the umask applies); its path goes to path. -1 with errno set on failure.
// With a registry, the name is held there first and its slot goes to slot (-1 after a failure).
int create_sibling_temp(const std::string& target, mode_t mode, std::string& path,
                        const cTempRegistry* registry = nullptr, int* slot = nullptr);
// Gives the file at existing a second name among target's temporaries (a hard link); false
// with errno set when the folder takes no second names or the link fails. The registry as above.
bool link_sibling_temp(const std::string& existing, const std::string& target, std::string& path,
                       const cTempRegistry* registry = nullptr, int* slot = nullptr);
// True when name, a bare file name, has the pattern of a temporary; target_name receives the
// name of the file it was made for.
bool sibling_temp_target(const std::string& name, std::string& target_name);
