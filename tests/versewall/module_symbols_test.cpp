// The built plug-in as a file: it exports CreateScene and DeleteScene and nothing else, and it
// needs nothing of the host: no host library among its dependencies and no symbol that only
// the host program could provide.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_process.h"

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The last whitespace-separated field of an nm line is the symbol's name.
std::string symbol_of(const std::string& line) {
    const size_t at = line.find_last_of(" \t");
    return at == std::string::npos ? line : line.substr(at + 1);
}

bool starts_with(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

TEST(versewall_library, exports_exactly_create_and_delete_scene) {
    const cProcessResult nm = run_process({"/usr/bin/nm", "-D", "--defined-only", DEMO_VERSEWALL_MODULE});
    ASSERT_TRUE(nm.exited && nm.status == 0) << nm.err;
    std::set<std::string> exported;
    for (const auto& line : lines_of(nm.out))
        if (!line.empty()) exported.insert(symbol_of(line));
    EXPECT_EQ(exported, (std::set<std::string>{"CreateScene", "DeleteScene"})) << nm.out;
}

TEST(versewall_library, depends_on_system_libraries_only) {
    const cProcessResult elf = run_process({"/usr/bin/readelf", "-d", DEMO_VERSEWALL_MODULE});
    ASSERT_TRUE(elf.exited && elf.status == 0) << elf.err;
    const std::vector<std::string> system = {"libstdc++.so", "libm.so", "libgcc_s.so", "libc.so", "ld-linux",
                                             "libasan.so", "libubsan.so", "libdl.so", "libpthread.so"};
    int needed = 0;
    for (const auto& line : lines_of(elf.out)) {
        if (line.find("(NEEDED)") == std::string::npos) continue;
        ++needed;
        const size_t open = line.find('['), close = line.find(']');
        ASSERT_NE(open, std::string::npos) << line;
        const std::string name = line.substr(open + 1, close - open - 1);
        bool known = false;
        for (const auto& prefix : system) known = known || starts_with(name, prefix);
        EXPECT_TRUE(known) << "the module needs " << name;
    }
    EXPECT_GT(needed, 0);
}

TEST(versewall_library, leaves_no_symbol_for_the_host_to_resolve) {
    // The dynamic loader binds every reference against the module's own dependencies: a name
    // that only the program loading it could provide shows up as undefined here.
    const cProcessResult ldd = run_process({"/usr/bin/ldd", "-r", DEMO_VERSEWALL_MODULE});
    ASSERT_TRUE(ldd.exited && ldd.status == 0) << ldd.err;
    const std::string all = ldd.out + ldd.err;
    EXPECT_EQ(all.find("undefined symbol"), std::string::npos) << all;
    EXPECT_EQ(all.find("not found"), std::string::npos) << all;
    for (const auto& line : lines_of(ldd.out)) {
        const size_t arrow = line.find("=> ");
        if (arrow == std::string::npos) continue;
        const std::string path = line.substr(arrow + 3);
        EXPECT_TRUE(starts_with(path, "/lib") || starts_with(path, "/usr/lib")) << "loaded from outside the system: " << line;
    }
}
