// Helpers of the release tests: shell command lines for the packaging tools, and programs run
// where the tree they were built from is out of reach (a mount namespace of their own in which
// the build and source folders are empty, and a show folder may be made read-only).
#pragma once
#include <string>
#include <vector>

#include "support/run_process.h"
#include "support/temp_dir.h"

inline std::string sh_quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

inline cProcessResult shell(const std::string& line, double timeout_seconds = 300, const std::string& cwd = "") {
    cProcessOptions options;
    options.timeout_seconds = timeout_seconds;
    options.cwd = cwd;
    return run_process({"/bin/sh", "-c", line}, options);
}

// Mounts over the build folder, then the source folder (which may hold it), and binds the
// read-only folder onto itself without write access; then runs the program in the same process.
constexpr const char* kOutOfTreeScript =
    "set -e\n"
    "for tree in \"$1\" \"$2\"; do [ -d \"$tree\" ] && mount -t tmpfs -o size=1m,mode=0755 tmpfs \"$tree\"; done\n"
    "if [ -n \"$3\" ]; then mount --bind \"$3\" \"$3\"; mount -o remount,ro,bind \"$3\"; fi\n"
    "shift 3\n"
    "exec \"$@\"\n";

// Whether this process may make mount namespaces (root, or the capability to).
inline bool mount_namespaces_allowed() {
    cTempDir probe;
    return shell("unshare --mount --propagation private /bin/sh -c " +
                 sh_quote("mount -t tmpfs tmpfs " + sh_quote(probe.path())), 30)
               .status == 0;
}

// The command line that runs argv with the build and source trees hidden (and read_only, when
// given, unwritable). The process keeps its id through the wrappers (each replaces itself).
inline std::vector<std::string> out_of_tree(const std::vector<std::string>& argv, const std::string& read_only = "") {
    std::vector<std::string> wrapped = {"/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c",
                                        kOutOfTreeScript, "sh", DEMO_BINARY_DIR, DEMO_SOURCE_DIR, read_only};
    wrapped.insert(wrapped.end(), argv.begin(), argv.end());
    return wrapped;
}
