// One render-module library as the host keeps it: where it came from, the loaded copy, its
// two exports and its scene object. Plain record; the module manager fills it in. The
// scene belongs to the library and is never freed by the host.
#pragma once
#include <cstdint>
#include <string>

#include "render_module_base.h"

class cCodeModule {
public:
    std::string file_name;              // bare name as found in the source directory
    std::string loaded_path;            // full path of the loaded copy; empty when loading failed
    void* library = nullptr;            // loader handle; null when loading failed
    int64_t file_time = 0;              // modification time of the loaded copy; 0 when it failed
    CreateSceneFn create_entry = nullptr;
    DeleteSceneFn delete_entry = nullptr;  // kept with the module, never called by the host
    cRenderModuleBase* scene = nullptr;     // what CreateScene returned; null when none
};
