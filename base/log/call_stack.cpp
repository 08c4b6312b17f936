// print_call_stack over glibc's backtrace and elfutils' libdw for symbol and line lookup.
// A debugging aid: nothing in the show calls it.
#include <cxxabi.h>
#include <elfutils/libdwfl.h>
#include <execinfo.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>

#include "console.h"

namespace {

constexpr int max_frames = 200;

// "ns::cFoo::bar(int) const" -> "ns::cFoo::bar": the name without its parameter list.
std::string undecorated(const char* symbol) {
    int status = 0;
    char* demangled = abi::__cxa_demangle(symbol, nullptr, nullptr, &status);
    std::string name = (status == 0 && demangled) ? demangled : symbol;
    std::free(demangled);
    static const std::string anonymous = "(anonymous namespace)";
    int depth = 0;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name.compare(i, anonymous.size(), anonymous) == 0) {
            i += anonymous.size() - 1;
            continue;
        }
        if (name[i] == '<') ++depth;
        if (name[i] == '>') --depth;
        if (name[i] == '(' && depth == 0) return name.substr(0, i);
    }
    return name;
}

}  // namespace

void print_call_stack() {
    void* frames[max_frames];
    int count = backtrace(frames, max_frames);

    static const Dwfl_Callbacks callbacks = {
        dwfl_linux_proc_find_elf, dwfl_standard_find_debuginfo, nullptr, nullptr};
    Dwfl* dwfl = dwfl_begin(&callbacks);
    if (dwfl) {
        dwfl_report_begin(dwfl);
        dwfl_linux_proc_report(dwfl, getpid());
        dwfl_report_end(dwfl, nullptr, nullptr);
    }

    std::cerr << "## CALLSTACK" << std::endl;
    for (int i = 0; i < count && dwfl; ++i) {
        // A return address points after the call; look the call itself up.
        Dwarf_Addr address = reinterpret_cast<uintptr_t>(frames[i]) - (i > 0 ? 1 : 0);
        Dwfl_Module* module = dwfl_addrmodule(dwfl, address);
        if (!module) continue;
        const char* symbol = dwfl_module_addrname(module, address);
        if (!symbol) continue;
        std::string name = undecorated(symbol);
        Dwfl_Line* line = dwfl_module_getsrc(module, address);
        int line_number = 0;
        if (line && dwfl_lineinfo(line, nullptr, &line_number, nullptr, nullptr, nullptr) &&
            name.find("VSDebugLib::") == std::string::npos) {
            std::cerr << "\t!" << name << "() Line " << static_cast<unsigned>(line_number) << "\n";
        }
        if (name == "main") break;
    }
    std::cerr.flush();
    if (dwfl) dwfl_end(dwfl);
}
