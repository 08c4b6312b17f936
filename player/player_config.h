// Fixed names of the player's own start: where a show that cannot write its own folder keeps
// its logs and module copies. Constants only; no code.
#pragma once

namespace player_config {

// The user's state directory (the XDG base directories): $XDG_STATE_HOME when it is an
// absolute path, otherwise ~/.local/state; the player's own folder inside it.
constexpr const char* kStateHomeVariable = "XDG_STATE_HOME";
constexpr const char* kDefaultStateHome = ".local/state";
constexpr const char* kStateFolderName = "demoplayer";
// Created for the user alone, as the base directories ask of a state directory they make.
constexpr unsigned kStateFolderMode = 0700;
// A show installed below /usr (a package's, or one installed by root) is never written, even by
// root: those files belong to the package manager.
constexpr const char* kSystemPrefix = "/usr/";
// The modules' copies, in the show's bin/ or in the state directory.
constexpr const char* kModuleCacheFolder = "dll_cache/";
constexpr unsigned kCacheFolderMode = 0755;

}  // namespace player_config
