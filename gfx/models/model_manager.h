// cModelManager: the models of one graphics context by name. Loads each mesh file once,
// uploads it and keeps the model until the process ends; a name, once asked for, stays
// taken. Needs a current GL context to load. Never deletes a model.
#pragma once
#include <string>
#include <unordered_map>

#include "model.h"

class cModelManager {
public:
    // Loads path under name unless the name is taken ("# already inserted model ..."). An
    // unsupported file type and a file the loader refuses store nothing, silently.
    void load_model(const std::string& name, const std::string& path);
    // The model stored under name; an unknown name is entered with no model and gives null.
    iModel* model(const std::string& name);

private:
    std::unordered_map<std::string, iModel*> models_;
};
