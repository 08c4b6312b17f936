// The release as people get it, made by cpack from this build: the archive copied alone into a
// new folder, unpacked and played from another current directory with the build and source
// trees out of reach (every library it loads that a desktop does not have comes from the
// archive), then again from a read-only copy of it; the newest symbol versions its files ask
// for against the README's oldest distributions; the Debian package's dependencies, contents,
// lintian's verdict, and a play once installed into a throw-away root.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "release/release_support.h"
#include "support/screen_and_wait.h"
#include "support/run_process.h"
#include "support/started_program.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kVersion = DEMO_PROJECT_VERSION;
const std::string kArchiveFolder = "demoplayer-" + kVersion + "-linux-x86_64";
const std::string kArchive = kArchiveFolder + ".tar.gz";
const std::string kDebian = "demoplayer_" + kVersion + "_amd64.deb";

// What the README says the machine gives: the C and C++ runtime, GL, X11 and Wayland, ALSA and
// PulseAudio, OpenSSL, zlib, xz and zstd. Names as NEEDED entries ask for them.
const std::regex kMachineLibrary(
    "(ld-linux-x86-64\\.so\\.2|lib(c|m|dl|pthread|rt)\\.so\\.[0-9]+|libstdc\\+\\+\\.so\\.6|libgcc_s\\.so\\.1"
    "|libGL.*|libEGL\\.so.*|libgbm\\.so.*|libdrm\\.so.*|libX.*|libxcb.*|libxkbcommon\\.so.*|libwayland-.*"
    "|libasound\\.so.*|libpulse.*|libssl\\.so.*|libcrypto\\.so.*|libz\\.so.*|liblzma\\.so.*|libzstd\\.so.*)");

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

void press(const std::string& key) {
    cProcessResult r = run_process({"/usr/bin/env", "xdotool", "key", key});
    ASSERT_TRUE(r.exited && r.status == 0) << r.err;
}

// "libSDL2-2.0.so.0.2600.5" -> "libSDL2-2.0": a library whatever its version's spelling.
std::string library_stem(const std::string& file_name) { return file_name.substr(0, file_name.find(".so")); }

// Every file below root with its size and time: what a run may not change.
std::map<std::string, std::string> listing(const std::string& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        std::string facts = entry.is_regular_file() ? std::to_string(entry.file_size()) : "folder";
        facts += " " + std::to_string(entry.last_write_time().time_since_epoch().count());
        files[fs::relative(entry.path(), root).string()] = facts;
    }
    return files;
}

// The shared objects mapped into a process, by path.
std::set<std::string> mapped_libraries(pid_t pid) {
    std::set<std::string> paths;
    for (const std::string& line : lines_of(slurp("/proc/" + std::to_string(pid) + "/maps"))) {
        const size_t slash = line.find('/');
        if (slash == std::string::npos) continue;
        const std::string path = line.substr(slash);
        if (contains(fs::path(path).filename().string(), ".so")) paths.insert(path);
    }
    return paths;
}

// A dotted version compared part by part: 2.34 < 2.35, 3.4.9 < 3.4.30.
std::vector<int> version_parts(const std::string& text) {
    std::vector<int> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, '.');) parts.push_back(std::stoi(part));
    return parts;
}
bool version_less(const std::string& a, const std::string& b) { return version_parts(a) < version_parts(b); }

// ---- the packages, made once for every test ----

class ReleasePackages : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        packages_ = std::make_unique<cTempDir>();
        made_ = shell(std::string(DEMO_CPACK_COMMAND) + " --config " + sh_quote(std::string(DEMO_BINARY_DIR) + "/CPackConfig.cmake") +
                          " -B " + sh_quote(packages_->path()),
                      600, DEMO_BINARY_DIR);
        namespaces_ = mount_namespaces_allowed();
        if (!namespaces_)
            std::cout << "# note: mount namespaces are refused here: the players run with the build and source "
                         "trees in reach, and the read-only case is left out"
                      << std::endl;
    }
    static void TearDownTestSuite() { packages_.reset(); }

    void SetUp() override { ASSERT_EQ(made_.status, 0) << "cpack failed:\n" << made_.out << made_.err; }

    static std::string package(const std::string& name) { return *packages_ / name; }

    // The archive copied alone into a fresh folder and unpacked there; the unpacked show's root.
    std::string unpack_archive() {
        const std::string archive = unpacked_ / kArchive;
        fs::copy_file(package(kArchive), archive);
        cProcessResult r = shell("tar -xzf " + sh_quote(archive) + " -C " + sh_quote(unpacked_.path()));
        EXPECT_EQ(r.status, 0) << r.err;
        fs::remove(archive);
        return unpacked_ / kArchiveFolder;
    }

    // Plays program out of the tree's reach from an empty folder with an empty home, until it has
    // drawn for a moment; calls during() with the running process, then ends it with Escape.
    // Returns what the player wrote on its terminal.
    template <typename F>
    std::string play(const std::string& program, const std::string& show_log, const std::string& read_only,
                     const std::vector<std::string>& env, F during) {
        std::vector<std::string> argv{program};
        if (namespaces_) argv = out_of_tree(argv, read_only);
        cStartedProgram player(argv, elsewhere_.path(), env, {"LD_LIBRARY_PATH", "LD_PRELOAD", "XDG_STATE_HOME"});
        // The scene's last program is compiled in its init: frames follow.
        EXPECT_TRUE(wait_until([&] { return contains(slurp(show_log), "compiled data/shaders/tunnel.vert"); }, 120s))
            << show_log << ":\n" << slurp(show_log) << player.err();
        std::this_thread::sleep_for(2s);
        EXPECT_TRUE(player.running()) << player.err();
        during(player);
        press("Escape");
        int status = -1;
        EXPECT_TRUE(player.wait_for_exit(30s, status));
        EXPECT_EQ(status, 0) << player.err();
        EXPECT_TRUE(file_names_in(elsewhere_.path()).empty()) << "the player wrote into its current directory";
        return player.out();
    }

    static std::unique_ptr<cTempDir> packages_;
    static cProcessResult made_;
    static bool namespaces_;
    cTempDir unpacked_;
    cTempDir elsewhere_;  // the current directory the players start in
    cTempDir home_;
};

std::unique_ptr<cTempDir> ReleasePackages::packages_;
cProcessResult ReleasePackages::made_;
bool ReleasePackages::namespaces_ = false;

}  // namespace

TEST_F(ReleasePackages, the_archive_plays_from_anywhere_with_the_libraries_a_desktop_lacks_taken_from_itself) {
    const std::string root = unpack_archive();
    EXPECT_EQ(file_names_in(unpacked_.path()), std::vector<std::string>{kArchiveFolder}) << "one folder, named like the archive";
    EXPECT_EQ(file_names_in(root), (std::vector<std::string>{"README.txt", "bin", "data", "lib"}));
    EXPECT_EQ(file_names_in(root + "/bin"), (std::vector<std::string>{"demoplayer", "demoplayer_probe", "render_versewall.so"}));
    EXPECT_TRUE(fs::exists(root + "/data/sync/_kick.track"));
    EXPECT_FALSE(fs::exists(root + "/data/sync/show.tracks")) << "the development mode's source stays out";
    EXPECT_FALSE(fs::exists(root + "/data/muzak/recut.timeline.json")) << "the editor's timeline stays out";

    // Every library the archive's files ask for is in lib/ or is one the machine gives.
    std::string elf_files;
    for (const char* folder : {"/bin", "/lib"})
        for (const std::string& name : file_names_in(root + folder)) elf_files += " " + sh_quote(root + folder + "/" + name);
    cProcessResult dynamic = shell("readelf -d --wide" + elf_files);
    ASSERT_EQ(dynamic.status, 0) << dynamic.err;
    const std::vector<std::string> bundled = file_names_in(root + "/lib");
    std::set<std::string> needed;
    const std::regex needed_entry("\\(NEEDED\\)\\s+Shared library: \\[([^\\]]+)\\]");
    for (std::sregex_iterator it(dynamic.out.begin(), dynamic.out.end(), needed_entry), end; it != end; ++it)
        needed.insert((*it)[1]);
    for (const std::string& name : needed) {
        const bool in_archive = std::find(bundled.begin(), bundled.end(), name) != bundled.end();
        EXPECT_TRUE(in_archive || std::regex_match(name, kMachineLibrary)) << name << " is neither bundled nor the machine's";
        EXPECT_FALSE(in_archive && std::regex_match(name, kMachineLibrary)) << name << " is the machine's and must not be bundled";
    }
    EXPECT_TRUE(needed.count("libSDL2-2.0.so.0") && needed.count("libfreeimage.so.3")) << "the player's own needs were read";

    std::set<std::string> loaded;
    play(root + "/bin/demoplayer", root + "/bin/stdout.txt", "", {"HOME=" + home_.path()},
         [&](cStartedProgram& player) { loaded = mapped_libraries(player.pid()); });
    ASSERT_FALSE(loaded.empty());
    std::set<std::string> bundled_stems;
    for (const std::string& name : bundled) bundled_stems.insert(library_stem(name));
    int from_archive = 0;
    for (const std::string& path : loaded) {
        EXPECT_FALSE(path.rfind(DEMO_SOURCE_DIR, 0) == 0 || path.rfind(DEMO_BINARY_DIR, 0) == 0) << path;
        if (path.rfind(root + "/", 0) == 0) {
            ++from_archive;
            continue;
        }
        // A library the archive carries is never taken from the system instead.
        EXPECT_FALSE(bundled_stems.count(library_stem(fs::path(path).filename().string())))
            << path << " was loaded from the system although the archive carries it";
    }
    EXPECT_GE(from_archive, static_cast<int>(bundled.size())) << "every bundled library and the module copy are in use";

    const std::string out = slurp(root + "/bin/stdout.txt");
    EXPECT_EQ(out.rfind("cwd: " + root + "\n", 0), 0u) << out;
    EXPECT_TRUE(contains(out, "# bass streaming file \"" + root + "/data/muzak/recut.mp3\"")) << out;
    EXPECT_FALSE(contains(slurp(root + "/bin/stderr.txt"), "## ERROR")) << slurp(root + "/bin/stderr.txt");
    EXPECT_TRUE(fs::exists(root + "/bin/dll_cache/render_versewall.so")) << "the module cache is made where it is missing";
    EXPECT_TRUE(file_names_in(home_.path()).empty()) << "nothing goes to the home of a show that can write its folder";
}

TEST_F(ReleasePackages, a_read_only_show_keeps_its_logs_and_module_copies_in_the_users_state_folder_and_says_so) {
    if (!namespaces_) GTEST_SKIP() << "no mount namespaces here to make the folder read-only";
    const std::string root = unpack_archive();
    const auto before = listing(unpacked_.path());

    // The base directories' default, then $XDG_STATE_HOME.
    const std::string by_default = home_ / ".local/state/demoplayer";
    cTempDir state_home;
    const std::string chosen = state_home / "demoplayer";
    for (const auto& [state, env] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {by_default, {"HOME=" + home_.path()}}, {chosen, {"HOME=" + home_.path(), "XDG_STATE_HOME=" + state_home.path()}}}) {
        const std::string terminal = play(root + "/bin/demoplayer", state + "/stdout.txt", root, env, [](cStartedProgram&) {});
        const std::string note = "# note: the show's folder \"" + root + "\" is read-only; its logs and module copies go to \"" +
                                 state + "\"\n";
        EXPECT_EQ(terminal, note) << "one line on the terminal, naming the place";
        const std::string log = slurp(state + "/stdout.txt");
        EXPECT_EQ(log.rfind(note + "cwd: " + root + "\n", 0), 0u) << log;
        EXPECT_FALSE(contains(slurp(state + "/stderr.txt"), "## ERROR")) << slurp(state + "/stderr.txt");
        EXPECT_TRUE(fs::exists(state + "/dll_cache/render_versewall.so"));
        EXPECT_EQ(fs::status(state).permissions() & fs::perms::all, fs::perms::owner_all) << "the state folder is the user's alone";
    }
    EXPECT_EQ(listing(unpacked_.path()), before) << "the read-only show was left as it was";
}

TEST_F(ReleasePackages, the_readme_names_the_newest_symbol_versions_the_archive_needs_and_the_oldest_distributions_have_them) {
    const std::string root = unpack_archive();
    std::string elf_files;
    for (const char* folder : {"/bin", "/lib"})
        for (const std::string& name : file_names_in(root + folder)) elf_files += " " + sh_quote(root + folder + "/" + name);
    cProcessResult versions = shell("readelf -V --wide" + elf_files);
    ASSERT_EQ(versions.status, 0) << versions.err;

    // The newest version of each family a file's "version needs" section asks for.
    std::map<std::string, std::string> newest;
    bool in_needs = false;
    const std::regex need("Name: (GLIBC|GLIBCXX|CXXABI)_([0-9.]+)");
    for (const std::string& line : lines_of(versions.out)) {
        if (contains(line, "section '.gnu.version")) in_needs = contains(line, "'.gnu.version_r'");
        std::smatch m;
        if (!in_needs || !std::regex_search(line, m, need)) continue;
        std::string& top = newest[m[1]];
        if (top.empty() || version_less(top, m[2])) top = m[2];
    }
    ASSERT_EQ(newest.size(), 3u) << versions.out.substr(0, 2000);

    const std::string readme = slurp(root + "/README.txt");
    EXPECT_TRUE(contains(readme, "glibc " + newest["GLIBC"] + " and the C++ runtime of GCC 12 (GLIBCXX_" + newest["GLIBCXX"] +
                                     ", CXXABI_" + newest["CXXABI"] + ")"))
        << "the README's claim is stale: the archive needs glibc " << newest["GLIBC"] << ", GLIBCXX_" << newest["GLIBCXX"]
        << ", CXXABI_" << newest["CXXABI"];

    // What each distribution ships (glibc, and the libstdc++ of its GCC), from their release notes.
    struct cDistribution {
        const char* name;
        const char* glibc;
        const char* glibcxx;
        const char* cxxabi;
        bool claimed;
    };
    for (const cDistribution& d : std::vector<cDistribution>{{"Debian 12", "2.36", "3.4.30", "1.3.13", true},
                                                              {"Ubuntu 22.04", "2.35", "3.4.30", "1.3.13", true},
                                                              {"Fedora 36", "2.35", "3.4.30", "1.3.13", true},
                                                              {"Debian 11", "2.31", "3.4.28", "1.3.12", false},
                                                              {"Ubuntu 20.04", "2.31", "3.4.28", "1.3.12", false},
                                                              {"Red Hat Enterprise Linux 9", "2.34", "3.4.29", "1.3.13", false}}) {
        EXPECT_TRUE(contains(readme, d.name)) << d.name;
        const bool has_all = !version_less(d.glibc, newest["GLIBC"]) && !version_less(d.glibcxx, newest["GLIBCXX"]) &&
                             !version_less(d.cxxabi, newest["CXXABI"]);
        EXPECT_EQ(has_all, d.claimed) << d.name << (d.claimed ? " lacks a version the archive needs" : " would run it after all");
    }
}

TEST_F(ReleasePackages, the_debian_package_depends_on_what_its_programs_need_passes_lintian_and_plays_once_installed) {
    if (!fs::exists(package(kDebian))) GTEST_SKIP() << "no dpkg-shlibdeps here: cpack made no Debian package";
    const std::string deb = package(kDebian);

    // Depends: the packages of the libraries the programs need, as dpkg-shlibdeps reads them.
    cProcessResult fields = shell("dpkg-deb -f " + sh_quote(deb) + " Depends");
    ASSERT_EQ(fields.status, 0) << fields.err;
    std::set<std::string> depends;
    std::istringstream entries(fields.out);
    for (std::string entry; std::getline(entries, entry, ',');) {
        entry.erase(0, entry.find_first_not_of(" \n"));
        depends.insert(entry.substr(0, entry.find_first_of(" (\n")));
    }
    EXPECT_EQ(depends, (std::set<std::string>{"libc6", "libcpp-httplib0.11", "libfftw3-single3", "libfreeimage3", "libgcc-s1",
                                              "libsdl2-2.0-0", "libsndfile1", "libstdc++6"}))
        << fields.out;
    EXPECT_TRUE(contains(fields.out, "libc6 (>= 2.34)")) << fields.out;

    cProcessResult contents = shell("dpkg-deb -c " + sh_quote(deb));
    ASSERT_EQ(contents.status, 0) << contents.err;
    for (const char* path : {"./usr/bin/demoplayer -> ../lib/demoplayer/bin/demoplayer", "./usr/lib/demoplayer/bin/demoplayer\n",
                             "./usr/lib/demoplayer/bin/demoplayer_probe\n", "./usr/lib/demoplayer/bin/render_versewall.so\n",
                             "./usr/lib/demoplayer/data/sync/_kick.track\n", "./usr/share/doc/demoplayer/copyright\n",
                             "./usr/share/doc/demoplayer/changelog.gz\n"})
        EXPECT_TRUE(contains(contents.out, path)) << path << " missing in\n" << contents.out;
    EXPECT_FALSE(contains(contents.out, "/usr/lib/demoplayer/lib/")) << "the package takes Debian's libraries, it carries none";
    EXPECT_FALSE(contains(contents.out, "show.tracks"));

    cProcessResult lint = shell("command -v lintian >/dev/null || { echo 'lintian is not installed (.ci/install-deps)'; exit 99; }; "
                                "lintian " + sh_quote(deb), 300);
    ASSERT_NE(lint.status, 99) << lint.out;
    for (const std::string& line : lines_of(lint.out)) EXPECT_NE(line.rfind("E: ", 0), 0u) << line;

    // Installed by dpkg into a throw-away root (the libraries it depends on are this machine's).
    cTempDir root;
    fs::create_directories(root / "var/lib/dpkg/info");
    fs::create_directories(root / "var/lib/dpkg/updates");
    root.write("var/lib/dpkg/status", "");
    cProcessResult installed = shell("dpkg --root=" + sh_quote(root.path()) + " --log=/dev/null --force-depends -i " + sh_quote(deb));
    ASSERT_EQ(installed.status, 0) << installed.out << installed.err;
    const std::string show = root / "usr/lib/demoplayer";
    play(root / "usr/bin/demoplayer", show + "/bin/stdout.txt", "", {"HOME=" + home_.path()}, [](cStartedProgram&) {});
    EXPECT_EQ(slurp(show + "/bin/stdout.txt").rfind("cwd: " + show + "\n", 0), 0u) << "the show found through the command's link";
    EXPECT_FALSE(contains(slurp(show + "/bin/stderr.txt"), "## ERROR")) << slurp(show + "/bin/stderr.txt");
}
