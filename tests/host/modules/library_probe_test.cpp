// The trial process that opens a module library before the show depends on it, run by the
// trial program beside the player and by the player itself, over real libraries (a module, a
// text file, one without CreateScene, one whose loading crashes or never ends), and a program
// that is not there.
#include "host/modules/library_probe.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cerrno>
#include <string>

namespace {

const std::string kPlugins = DEMO_TEST_PLUGIN_DIR;
constexpr double kAmple = 60.0;  // seconds: a loaded machine can be slow to start a program

}  // namespace

TEST(LibraryProbe, a_trial_process_says_how_loading_went_and_nothing_of_it_reaches_the_caller) {
    for (const std::string program : {"demoplayer_probe", "demoplayer"}) {
        const std::string path = std::string(DEMO_SHOW_DIR) + "/bin/" + program;
        cLibraryProbe good = probe_library(path, kPlugins + "/render_probe.so", kAmple);
        EXPECT_EQ(good.outcome, cLibraryProbe::loads) << program << ": " << good.detail;

        cLibraryProbe text = probe_library(path, kPlugins + "/render_garbage.so", kAmple);
        EXPECT_EQ(text.outcome, cLibraryProbe::not_loaded) << program;
        EXPECT_NE(text.detail.find("render_garbage.so"), std::string::npos) << "the loader's message: " << text.detail;
        EXPECT_EQ(text.detail.find('\n'), std::string::npos) << text.detail;

        cLibraryProbe no_create = probe_library(path, kPlugins + "/render_no_create.so", kAmple);
        EXPECT_EQ(no_create.outcome, cLibraryProbe::lacks_export) << program;
        EXPECT_EQ(no_create.detail, "CreateScene");

        const std::string trap = kPlugins + "/render_load_trap.so";
        EXPECT_EQ(probe_library(path, trap, kAmple).outcome, cLibraryProbe::loads) << program << ": harmless unasked";
        ::setenv("DEMO_TEST_LOAD_TRAP", "crash", 1);
        cLibraryProbe crash = probe_library(path, trap, kAmple);
        EXPECT_EQ(crash.outcome, cLibraryProbe::crashed) << program;
        EXPECT_EQ(crash.detail, "SIGSEGV");
        ::setenv("DEMO_TEST_LOAD_TRAP", "hang", 1);
        EXPECT_EQ(probe_library(path, trap, 1.0).outcome, cLibraryProbe::hung) << program;
        ::unsetenv("DEMO_TEST_LOAD_TRAP");
        errno = 0;
        EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << program << ": no trial is left behind";
        EXPECT_EQ(errno, ECHILD);
    }

    cLibraryProbe nowhere = probe_library("/nonexistent/demoplayer_probe", kPlugins + "/render_probe.so", kAmple);
    EXPECT_EQ(nowhere.outcome, cLibraryProbe::not_run);
    EXPECT_NE(nowhere.detail.find("\"/nonexistent/demoplayer_probe\""), std::string::npos) << nowhere.detail;
}
