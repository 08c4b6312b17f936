// cRenderModuleBase: the base class of every scene object, and the two exports a module
// library provides. The host finds CreateScene and DeleteScene by these exact, undecorated
// names. A scene is allocated and freed inside its own library only.
#pragma once

class iModuleInput;

class cRenderModuleBase {
public:
    virtual ~cRenderModuleBase() = default;           // slot 0
    virtual void init(iModuleInput* input) = 0;        // slot 1: once, at start-up
    virtual void render(iModuleInput* input) = 0;      // slot 2: every frame the module is on
    virtual void reserved() = 0;                       // slot 3: unused; implementations leave it empty
    virtual const char* name() = 0;                    // slot 4: also the name of its gating track
};

using CreateSceneFn = cRenderModuleBase* (*)();
using DeleteSceneFn = void (*)(cRenderModuleBase** scene);

// Only these two symbols leave a module library (it is built with hidden visibility).
#define DEMO_MODULE_EXPORT extern "C" __attribute__((visibility("default")))
