// The model table of the graphics context. Messages go to standard error; the loader's own
// come while load_model_file runs. Models are owned here and deliberately never freed.
#include "gfx/models/model_manager.h"

#include <filesystem>
#include <iostream>

#include "gfx/models/gpu_model.h"
#include "mesh_files/obj/mesh_exit.h"
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
    paths_[name] = path;
    std::cerr << "done" << std::endl;
}

iModel* cModelManager::model(const std::string& name) {
    // operator[] enters the unknown name with no model, so the name stays taken.
    return models_[name];
}

// ---- reloading ----

namespace {

std::string normal_path(const std::string& path) { return std::filesystem::path(path).lexically_normal().string(); }

// The loader's exits become refusals while a reload runs: a broken file must not end the show.
bool g_exit_requested = false;
void refuse_instead_of_exit(int) { g_exit_requested = true; }

}  // namespace

bool cModelManager::uses_file(const std::string& path) const {
    const std::string wanted = normal_path(path);
    for (const auto& entry : paths_) {
        if (normal_path(entry.second) == wanted) return true;
    }
    return false;
}

int cModelManager::reload_file(const std::string& path, std::string& error) {
    const std::string changed = normal_path(path);
    int reloaded = 0;
    for (const auto& [name, file] : paths_) {
        if (normal_path(file) != changed) continue;
        auto* model = static_cast<cModel*>(models_[name]);  // the manager only ever stores cModel
        g_exit_requested = false;
        const tMeshExitHook previous = set_mesh_exit_hook(refuse_instead_of_exit);
        cModel* fresh = is_supported_mesh_file(file) ? load_model_file(file) : nullptr;
        set_mesh_exit_hook(previous);
        if (!fresh || g_exit_requested || fresh->mesh.indices.empty()) {
            error = "the loader refused the file";
            delete fresh;
            continue;
        }
        std::cerr << "uploading " << file << "... ";
        model->mesh = std::move(fresh->mesh);
        model->box = fresh->box;
        model->upload(true);
        delete fresh;  // its own buffers were never filled
        std::cerr << "done" << std::endl;
        ++reloaded;
    }
    return reloaded;
}
