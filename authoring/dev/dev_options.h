// The player's command line: nothing (the show as it ships), "--windowed" (the same in a
// window), or "--dev" with its own options.
// Parsing only; never prints, never reads the environment.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "authoring/dev/dev_config.h"

struct cDevOptions {
    // Where the browser editor's server listens (loopback only); 0: no editor.
    int32_t editor_port = dev_config::kDefaultEditorPort;
    // The program that tries a rebuilt module library in a process of its own: the player
    // sets itself. Not from the command line; empty (a harness that is not the player): none.
    std::string library_probe_program;
};

struct cPlayerOptions {
    bool dev = false;
    bool windowed = false;  // the release player in a window instead of full screen
    cDevOptions dev_options;
};

// "--dev", "--editor-port N" and "--editor-port=N" (N a whole number from 0 to 65535, only
// together with --dev), and "--windowed", each at most once, in any order. False, with the
// reason in words, for anything else; options is then unspecified.
bool parse_player_options(const std::vector<std::string>& args, cPlayerOptions& options, std::string& reason);
