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

    // Loads the file at path again into every model made from it (paths compared in their
    // normal form), in place: the same objects and GL buffers, so holders of the pointer draw
    // the new mesh. Unlike a first load nothing here ends the process: a file the loader
    // refuses leaves the model as it was, with the reason in error. Returns how many models
    // took the new mesh.
    int reload_file(const std::string& path, std::string& error);
    // Whether some model was made from the file at path.
    bool uses_file(const std::string& path) const;

private:
    std::unordered_map<std::string, iModel*> models_;
    std::unordered_map<std::string, std::string> paths_;  // name -> the file it was made from
};
