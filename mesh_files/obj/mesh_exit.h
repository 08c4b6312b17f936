// The one way the mesh loader ends the process: an empty path, an unreadable file and a face
// of fewer than three corners in smooth_normals all come through mesh_exit. The hook is
// std::exit unless a tool replaces it to report the condition instead of dying.
#pragma once

// A hook that returns lets the loader carry on as "refused": it gives up the load and
// produces nothing, so callers must check the loader afterwards.
using tMeshExitHook = void (*)(int status);

// Installs hook (null restores std::exit) and returns the previous one.
tMeshExitHook set_mesh_exit_hook(tMeshExitHook hook);

// Flushes both console streams and calls the hook with status.
void mesh_exit(int status);
