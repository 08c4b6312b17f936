// Entry point of synctool: hands the command line to the subcommand dispatcher.
// Depends on synctool_commands; holds no logic of its own.
#include <string>
#include <vector>

#include "tools/synctool/synctool_commands.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return run_synctool(args);
}
