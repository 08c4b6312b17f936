// How many processes a --jobs capture is worth on this machine: a capture keeps one core busy
// with its rendering, so processes beyond the cores this process may use only take turns on
// them, each with a start-up of its own, and finish later than fewer would. Reads the affinity
// mask; starts nothing.
#pragma once
#include <cstdint>
#include <string>

// The processors this process may run on (its affinity mask, not the machine's count); at least 1.
int32_t usable_cores();

// The processes to start for --jobs asked on cores: at most one per core. When that is fewer,
// note says so and why.
int32_t useful_jobs(int32_t asked, int32_t cores, std::string& note);
