// The processor count of a capture and the processes worth starting. Linux sched_getaffinity;
// standard library otherwise. Prints nothing: the caller says what the note says.
#include "tools/democapture/capture_cores.h"

#include <sched.h>

#include <algorithm>
#include <thread>

int32_t usable_cores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
    return static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
}

int32_t useful_jobs(int32_t asked, int32_t cores, std::string& note) {
    const int32_t jobs = std::max(1, std::min(asked, cores));
    if (jobs < asked) {
        note = "--jobs " + std::to_string(asked) + " runs " +
               (jobs == 1 ? std::string("as one process") : std::to_string(jobs) + " processes") + ": this " +
               "capture may use " + std::to_string(cores) + (cores == 1 ? " core" : " cores") +
               ", and each process keeps one busy by itself; more would only take turns on " +
               (cores == 1 ? "it" : "them") + " and finish later";
    }
    return jobs;
}
