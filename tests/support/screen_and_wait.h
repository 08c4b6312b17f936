// What the e2e tests read off a running program: a pixel of the X screen (Xvfb's root window,
// through ImageMagick's import) and a condition polled until it holds or a time limit passes.
#pragma once
#include <chrono>
#include <regex>
#include <string>
#include <thread>

#include "support/run_process.h"

struct cColour {
    int r = -1, g = -1, b = -1;  // -1: the screen could not be read
};

inline cColour screen_pixel(int x, int y) {
    cProcessResult r = run_process({"/usr/bin/env", "import", "-window", "root", "-depth", "8", "-crop",
                                    "1x1+" + std::to_string(x) + "+" + std::to_string(y), "txt:-"});
    cColour c;
    std::smatch m;
    if (std::regex_search(r.out, m, std::regex("#([0-9A-Fa-f]{2})([0-9A-Fa-f]{2})([0-9A-Fa-f]{2})"))) {
        c.r = std::stoi(m[1], nullptr, 16);
        c.g = std::stoi(m[2], nullptr, 16);
        c.b = std::stoi(m[3], nullptr, 16);
    }
    return c;
}

// True once condition() holds; false when it still does not after limit.
template <typename F>
bool wait_until(F condition, std::chrono::milliseconds limit = std::chrono::seconds(20),
                std::chrono::milliseconds poll = std::chrono::milliseconds(25)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(poll);
    }
    return condition();
}
