// Helpers of the mesh tests: write OBJ text to a temporary file and load it with the loader's
// messages captured, and an exit hook that records the status instead of ending the test.
#pragma once
#include <unistd.h>

#include <string>

#include "mesh_files/obj/mesh_exit.h"
#include "mesh_files/obj/obj_loader.h"
#include "support/capture_stream.h"
#include "support/temp_dir.h"

// While alive, the loader's fatal conditions are recorded here instead of ending the process.
class cExitRecorder {
public:
    cExitRecorder() {
        calls() = 0;
        previous_ = set_mesh_exit_hook(record);
    }
    ~cExitRecorder() { set_mesh_exit_hook(previous_); }
    cExitRecorder(const cExitRecorder&) = delete;
    cExitRecorder& operator=(const cExitRecorder&) = delete;

    static int& calls() {
        static int count = 0;
        return count;
    }
    static int& status() {
        static int value = 0;
        return value;
    }

private:
    static void record(int code) {
        ++calls();
        status() = code;
    }
    tMeshExitHook previous_;
};

// Writes text as <dir>/<name> and runs load_file on it; returns what the loader wrote to
// standard error.
inline std::string load_text(cObjLoader& loader, const cTempDir& dir, const std::string& text,
                             const std::string& name = "mesh.obj") {
    std::string path = dir.write(name, text);
    cCaptureStream err(STDERR_FILENO);
    loader.load_file(path);
    return err.stop();
}

// The standard error of one call.
template <typename F>
std::string stderr_of(F body) {
    cCaptureStream err(STDERR_FILENO);
    body();
    return err.stop();
}

// What load_file writes around a clean parse of path.
inline std::string parse_frame(const std::string& path, const std::string& inner = "") {
    return "-\ncObjLoader::load_file parsing " + path + " ... " + inner + "done reading obj.\n-\n";
}
