// The module manager over real plug-ins (built from tests/plugins) in a show layout of its
// own: load order, cache clearing, the console reports of every failure, and scenes only
// for modules that can make one.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/files/file_utils.h"
#include "host/modules/module_manager.h"
#include "host/sync/sync_device.h"
#include "module_input.h"
#include "support/capture_stream.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// What a module sees in these tests: no graphics context (the recorder never draws), the
// real sync device of the show directory, and a music time the test sets.
class cTestModuleInput final : public iModuleInput {
public:
    explicit cTestModuleInput(cSyncDevice* sync) : sync_(sync) {}
    igfxContext* gfx() override { return nullptr; }
    iSync* sync() override { return sync_; }
    int32_t time_ms() override { return time; }
    float time_seconds() override { return static_cast<float>(time_ms()) / 1000.0f; }
    float spectrum_energy(int32_t, int32_t, float) override { return 0.0f; }
    int32_t time = 0;

private:
    cSyncDevice* sync_;
};

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines = split(text, "\n");
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

// A show directory with bin/ and bin/dll_cache/, made the current directory for the test.
class ModuleManagerShow : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(show_ / "bin/dll_cache");
        before_ = current_directory();
        ASSERT_TRUE(set_current_directory(show_.path()));
        cwd_ = current_directory();
        bin_ = absolute_path("bin/");
        cache_ = absolute_path("bin/dll_cache/");
    }
    void TearDown() override { set_current_directory(before_); }

    // Puts a built test plug-in into bin/, under its own or another name.
    void install(const std::string& plugin, const std::string& as = "") {
        std::string from = std::string(DEMO_TEST_PLUGIN_DIR) + "/" + plugin;
        ASSERT_TRUE(fs::exists(from)) << from << " was not built";
        fs::copy_file(from, bin_ + (as.empty() ? plugin : as), fs::copy_options::overwrite_existing);
    }
    // Runs load_all on a new manager, keeping what it wrote on standard error.
    cModuleManager& load_all() {
        manager_ = std::make_unique<cModuleManager>(bin_, cache_, "render*.so");
        cCaptureStream err(STDERR_FILENO);
        manager_->load_all();
        err_ = err.stop();
        return *manager_;
    }
    std::vector<std::string> cache_files() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(cache_)) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    cTempDir show_;
    std::string before_, cwd_, bin_, cache_;
    std::unique_ptr<cModuleManager> manager_;
    std::string err_;
};

}  // namespace

TEST_F(ModuleManagerShow, loads_every_module_in_the_order_found_and_only_good_ones_get_scenes) {
    install("render_recorder.so");
    install("render_recorder.so", "render_a_recorder.so");
    install("render_null_scene.so");
    install("render_no_create.so");
    install("render_garbage.so");
    install("render_recorder.so", "other.so");  // not a module: wrong name

    cModuleManager& manager = load_all();
    const auto& modules = manager.modules();
    ASSERT_EQ(modules.size(), 5u) << err_;
    std::vector<std::string> names;
    for (const auto& module : modules) names.push_back(module->file_name);
    EXPECT_EQ(names, (std::vector<std::string>{"render_a_recorder.so", "render_garbage.so", "render_no_create.so",
                                               "render_null_scene.so", "render_recorder.so"}));

    for (int i : {0, 4}) {
        const cCodeModule& recorder = *modules[i];
        SCOPED_TRACE(recorder.file_name);
        EXPECT_NE(recorder.library, nullptr);
        EXPECT_EQ(recorder.loaded_path, cache_ + recorder.file_name) << "the cached copy is what gets loaded";
        EXPECT_GT(recorder.file_time, 0);
        EXPECT_NE(recorder.create_entry, nullptr);
        EXPECT_NE(recorder.delete_entry, nullptr);
        ASSERT_NE(recorder.scene, nullptr);
        EXPECT_STREQ(recorder.scene->name(), "scene_recorder");
    }
    EXPECT_NE(modules[0]->library, modules[4]->library) << "each file is a library of its own";

    const cCodeModule& garbage = *modules[1];
    EXPECT_EQ(garbage.library, nullptr);
    EXPECT_EQ(garbage.loaded_path, "");
    EXPECT_EQ(garbage.file_time, 0);
    EXPECT_EQ(garbage.scene, nullptr);

    const cCodeModule& no_create = *modules[2];
    EXPECT_NE(no_create.library, nullptr);
    EXPECT_EQ(no_create.create_entry, nullptr);
    EXPECT_NE(no_create.delete_entry, nullptr);
    EXPECT_EQ(no_create.scene, nullptr);

    const cCodeModule& null_scene = *modules[3];
    EXPECT_NE(null_scene.library, nullptr);
    EXPECT_NE(null_scene.create_entry, nullptr);
    EXPECT_EQ(null_scene.scene, nullptr);

    // both recorders were created, in load order; "other.so" never was
    EXPECT_EQ(slurp("recorder.log"), "create\ncreate\nname\nname\n");
    EXPECT_EQ(cache_files(), (std::vector<std::string>{"render_a_recorder.so", "render_garbage.so",
                                                       "render_no_create.so", "render_null_scene.so",
                                                       "render_recorder.so"}));
}

TEST_F(ModuleManagerShow, a_file_that_is_no_library_gives_the_error_block_with_loader_text_and_cwd) {
    install("render_garbage.so");
    cModuleManager& manager = load_all();
    ASSERT_EQ(manager.modules().size(), 1u);
    std::string path = cache_ + "render_garbage.so";
    std::vector<std::string> lines = lines_of(err_);
    ASSERT_EQ(lines.size(), 3u) << err_;
    EXPECT_EQ(lines[0], "## ERROR: code module-load failed: \"" + path + "\"");
    EXPECT_EQ(lines[1].rfind("##        ", 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find(path), std::string::npos) << "the loader's own text names the file: " << lines[1];
    EXPECT_EQ(lines[1].find("cwd"), std::string::npos);
    EXPECT_EQ(lines[2], "##        cwd: \"" + cwd_ + "\"");
    EXPECT_EQ(err_.back(), '\n');
}

TEST_F(ModuleManagerShow, stale_libraries_in_the_cache_are_deleted_whatever_their_names) {
    install("render_recorder.so");
    show_.write("bin/dll_cache/render_old.so", "stale module");
    show_.write("bin/dll_cache/libsomething.so", "stale library");
    show_.write("bin/dll_cache/render_recorder.so", "stale copy of a module");
    show_.write("bin/dll_cache/notes.txt", "not a library");

    cModuleManager& manager = load_all();
    EXPECT_EQ(err_, "");
    EXPECT_EQ(cache_files(), (std::vector<std::string>{"notes.txt", "render_recorder.so"}));
    ASSERT_EQ(manager.modules().size(), 1u);
    EXPECT_NE(manager.modules()[0]->scene, nullptr) << "the fresh copy replaced the stale one";
}

TEST_F(ModuleManagerShow, a_missing_cache_directory_gives_copy_errors_and_load_is_still_tried) {
    install("render_recorder.so");
    install("render_null_scene.so");
    fs::remove_all(cache_);

    cModuleManager& manager = load_all();
    ASSERT_EQ(manager.modules().size(), 2u);
    for (const auto& module : manager.modules()) {
        EXPECT_EQ(module->scene, nullptr);
        EXPECT_EQ(module->library, nullptr);
    }
    std::vector<std::string> lines = lines_of(err_);
    ASSERT_EQ(lines.size(), 8u) << err_;
    EXPECT_EQ(lines[0], "## ERROR: copy failed: No such file or directory");
    EXPECT_EQ(lines[1], "## ERROR: code module-load failed: \"" + cache_ + "render_null_scene.so\"");
    EXPECT_EQ(lines[4], "## ERROR: copy failed: No such file or directory");
    EXPECT_EQ(lines[5], "## ERROR: code module-load failed: \"" + cache_ + "render_recorder.so\"");
    EXPECT_EQ(lines[7], "##        cwd: \"" + cwd_ + "\"");
    EXPECT_FALSE(fs::exists(cache_)) << "the manager does not create the cache directory";
}

TEST_F(ModuleManagerShow, no_modules_gives_the_warning_with_the_search_and_the_cwd) {
    show_.write("bin/readme.txt", "no modules here");
    cModuleManager& manager = load_all();
    EXPECT_TRUE(manager.modules().empty());
    EXPECT_EQ(err_, "# warning: didn't find any dlls in \"" + bin_ + "render*.so\"\n# cwd: " + cwd_ + "\n");
}

TEST_F(ModuleManagerShow, a_module_built_against_the_contract_alone_loads_and_runs) {
    install("render_recorder.so");
    show_.write("data/sync/_recorder_probe.track",
                std::string("\x01\x00\x00\x00" "\x00\x00\x00\x00" "\x00\x00\x40\x3f" "\x00", 13));  // one key: 0.75
    cSyncDevice sync;
    {
        cCaptureStream err(STDERR_FILENO);
        ASSERT_TRUE(sync.open_store("data/sync/"));
    }
    cTestModuleInput input(&sync);

    cModuleManager& manager = load_all();
    ASSERT_EQ(manager.modules().size(), 1u);
    cCodeModule& module = *manager.modules()[0];
    ASSERT_NE(module.scene, nullptr) << err_;
    module.scene->init(&input);
    input.time = 1234;
    EXPECT_STREQ(module.scene->name(), "scene_recorder");
    module.scene->render(&input);
    EXPECT_EQ(slurp("recorder.log"), "create\ninit gfx=0 sync=1 probe=0.75\nname\nrender 1234\n");
    EXPECT_EQ(sync.registered_count(), 1u) << "the module's track lives in the host's sync device";

    // The delete entry frees the scene inside the module and clears the pointer; a cleared
    // pointer is only cleared again.
    module.delete_entry(&module.scene);
    EXPECT_EQ(module.scene, nullptr);
    module.delete_entry(&module.scene);
    EXPECT_EQ(module.scene, nullptr);
    EXPECT_EQ(slurp("recorder.log"), "create\ninit gfx=0 sync=1 probe=0.75\nname\nrender 1234\ndelete\n");
}

// Replacing a module while the show runs. A refused library, at any step, changes nothing and
// leaves no copy behind; a good one is made and readied while the old scene still runs, and
// only then is the old one deleted, leaving its copy alone in the cache. A module that never
// loaded, and a file new to the show, are taken the same way. Nothing is said: the caller tells.
TEST_F(ModuleManagerShow, a_replacement_is_whole_or_nothing_and_the_old_scene_goes_once_the_new_one_is_ready) {
    install("render_recorder.so");
    install("render_garbage.so");
    cModuleManager& manager = load_all();
    cCodeModule* recorder = manager.find("render_recorder.so");
    ASSERT_TRUE(recorder && recorder->scene) << err_;
    const cRenderModuleBase* old_scene = recorder->scene;
    const void* old_library = recorder->library;
    fs::remove("recorder.log");

    cCaptureStream out(STDOUT_FILENO);
    cCaptureStream err(STDERR_FILENO);
    std::optional<cModuleRefusal> init_says;
    cModuleReplaceSteps steps;
    steps.init_scene = [&](cRenderModuleBase& scene) {
        scene.init(nullptr);
        return init_says;
    };
    auto replace = [&](const std::string& plugin, const std::string& as) {
        install(plugin, as);
        return manager.replace_module(as, steps);
    };
    cModuleReplacement result = replace("render_no_create.so", "render_recorder.so");
    EXPECT_EQ(result.result, cModuleReplacement::refused);
    EXPECT_EQ(result.refusal.reason, "it lacks the export CreateScene");
    result = replace("render_garbage.so", "render_recorder.so");
    EXPECT_EQ(result.refusal.reason, "it cannot be loaded");
    EXPECT_NE(result.refusal.detail.find("render_recorder."), std::string::npos) << "the loader's words";
    result = replace("render_null_scene.so", "render_recorder.so");
    EXPECT_EQ(result.refusal.reason, "its CreateScene returned no scene");
    init_says = cModuleRefusal{"its scene's init cannot load an image", "\"x.png\": gone"};
    result = replace("render_recorder.so", "render_recorder.so");
    EXPECT_EQ(result.result, cModuleReplacement::refused);
    EXPECT_EQ(result.refusal.detail, "\"x.png\": gone");
    EXPECT_EQ(slurp("recorder.log"), "create\ninit gfx=0 sync=0 probe=0\ndelete\n") << "the refused scene went";
    init_says.reset();
    steps.copy_is_current = [] { return false; };
    EXPECT_EQ(manager.replace_module("render_recorder.so", steps).result, cModuleReplacement::written_again);
    steps.copy_is_current = nullptr;
    EXPECT_EQ(recorder->scene, old_scene);
    EXPECT_EQ(recorder->library, old_library);
    EXPECT_EQ(cache_files(), (std::vector<std::string>{"render_garbage.so", "render_recorder.so"}));

    fs::remove("recorder.log");
    ASSERT_EQ(manager.replace_module("render_recorder.so", steps).result, cModuleReplacement::replaced);
    EXPECT_EQ(slurp("recorder.log"), "create\ninit gfx=0 sync=0 probe=0\ndelete\n")
        << "made and readied, then the old one went";
    ASSERT_NE(recorder->scene, nullptr);
    EXPECT_NE(recorder->scene, old_scene);
    EXPECT_NE(recorder->loaded_path, cache_ + "render_recorder.so");
    EXPECT_EQ(cache_files(), (std::vector<std::string>{"render_garbage.so", file_name_of(recorder->loaded_path)}));

    ASSERT_EQ(replace("render_recorder.so", "render_garbage.so").result, cModuleReplacement::replaced);
    EXPECT_NE(manager.find("render_garbage.so")->scene, nullptr);
    ASSERT_EQ(replace("render_recorder.so", "render_new.so").result, cModuleReplacement::replaced);
    ASSERT_EQ(manager.modules().size(), 3u);
    EXPECT_EQ(manager.modules().back()->file_name, "render_new.so");
    EXPECT_NE(manager.modules().back()->scene, nullptr);
    EXPECT_EQ(cache_files().size(), 3u) << "one copy for each module, the one in use";
    EXPECT_EQ(out.stop(), "");
    EXPECT_EQ(err.stop(), "");
}
