// A test render module whose CreateScene returns null, as when its allocation fails: the
// host must keep it without a scene. Built against the plug-in contract alone.
#include "render_module_base.h"

DEMO_MODULE_EXPORT cRenderModuleBase* CreateScene() { return nullptr; }

DEMO_MODULE_EXPORT void DeleteScene(cRenderModuleBase** scene) {
    if (!scene) return;
    delete *scene;
    *scene = nullptr;
}
