// Temporary files beside the file they will replace: "." + the file's name + "." + six letters
// or digits (one at least a capital or a digit), in the same folder, so that a rename puts one in place and the show, which opens
// only the names it knows, never reads one. The same pattern tells a stale one at start.
// Creating one never touches the process's umask (other threads create files meanwhile).
#pragma once
#include <sys/types.h>

#include <string>

// Creates and opens (read-write, close-on-exec) a new temporary file for target with mode as a
// new file gets it (the umask applies); its path goes to path. -1 with errno set on failure.
int create_sibling_temp(const std::string& target, mode_t mode, std::string& path);
// Gives the file at existing a second name among target's temporaries (a hard link); false
// with errno set when the folder takes no second names or the link fails.
bool link_sibling_temp(const std::string& existing, const std::string& target, std::string& path);
// True when name, a bare file name, has the pattern of a temporary; target_name receives the
// name of the file it was made for.
bool sibling_temp_target(const std::string& name, std::string& target_name);
