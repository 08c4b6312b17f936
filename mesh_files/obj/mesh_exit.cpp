// The replaceable process exit of the mesh loader. Depends only on the standard library;
// never ends the process by any other path than the hook.
#include "mesh_files/obj/mesh_exit.h"

#include <cstdlib>
#include <iostream>

namespace {

void exit_process(int status) { std::exit(status); }

tMeshExitHook g_exit_hook = exit_process;

}  // namespace

tMeshExitHook set_mesh_exit_hook(tMeshExitHook hook) {
    tMeshExitHook previous = g_exit_hook;
    g_exit_hook = hook ? hook : exit_process;
    return previous;
}

void mesh_exit(int status) {
    std::cout.flush();
    std::cerr.flush();
    g_exit_hook(status);
}
