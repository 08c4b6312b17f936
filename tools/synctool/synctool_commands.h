// The four subcommands of the track tool (compile, dump, eval, plot) and their dispatch.
// Each returns the process status: 0 done, 1 refused or failed (with "## ERROR" lines on
// standard error), 2 for a usage error (one line). Nothing here calls exit.
#pragma once
#include <string>
#include <vector>

// args are the command line without the program name.
int run_synctool(const std::vector<std::string>& args);

int run_compile(const std::vector<std::string>& args);
int run_dump(const std::vector<std::string>& args);
int run_eval(const std::vector<std::string>& args);
int run_plot(const std::vector<std::string>& args);
