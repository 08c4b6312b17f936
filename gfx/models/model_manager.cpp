// The model table of the graphics context. Messages go to standard error; the loader's own
// come while load_model_file runs. Models are owned here and deliberately never freed.
#include "gfx/models/model_manager.h"

#include <iostream>

#include "gfx/models/gpu_model.h"
#include "mesh_files/obj/mesh_loader.h"

void cModelManager::load_model(const std::string& name, const std::string& path) {
    if (models_.count(name) != 0) {
        std::cerr << "# already inserted model " << name << std::endl;
        return;
    }
    if (!is_supported_mesh_file(path)) return;
    cModel* model = load_model_file(path);
    if (!model) return;
    std::cerr << "uploading " << path << "... ";
    model->upload(true);
    models_[name] = model;
    std::cerr << "done" << std::endl;
}

iModel* cModelManager::model(const std::string& name) {
    // operator[] enters the unknown name with no model, so the name stays taken.
    return models_[name];
}
