// Capture throughput on this machine's GL, in one run: for 1280x720 and 1920x1080, rendering
// alone (nothing read back or encoded), then PNG files, an H.264 video and a lossless master,
// each as frames per second, as a share of rendering alone, and against the limit of the
// machine: its cores' time over the processor time a frame takes to render plus to encode
// (with the processor time the machine actually gave just before each run, since other work
// may share it).
// Then reading back and encoding alone (one frame rendered, read back and encoded as every
// frame), as a machine where rendering costs nothing would see it, for 1, 2 and 4 PNG threads.
// Last, --jobs 1, 2 and 4 against one process for a master and an H.264 video: whole runs, from
// start to the joined file, with the processes --jobs really started and the ratio to one process.
//   capture_bench [FROM_MS TO_MS]      (default 48000 52000: words, glow and the tunnel)
//   capture_bench jobs [FROM_MS TO_MS] (the --jobs table alone)
// Each figure is one run of democapture; the machine's load is printed with them.
#include <time.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "base/process/child_process.h"

namespace {

struct cRun {
    int status = -1;
    std::string out;
};

// Runs the tool with its standard output collected; its standard error (the progress bar and
// the show's warnings) is dropped.
cRun run_tool(const std::vector<std::string>& args) {
    cRun run;
    cChildOptions options;
    options.output.kind = cChildStream::pipe;
    options.errors.kind = cChildStream::null_device;
    cChildProcess tool;
    if (!tool.start(args, options)) return run;
    tool.collect(&run.out, nullptr);
    tool.wait();
    run.status = tool.end().exited ? tool.end().status : -1;
    return run;
}

// The number after label in the "# capture stats" block, or -1.
double stat_of(const std::string& out, const std::string& label) {
    const size_t at = out.find("#   " + label);
    if (at == std::string::npos) return -1;
    return std::atof(out.c_str() + at + 4 + label.size());
}

struct cFigures {
    double fps = -1;         // frames and finish, without start-up
    double cpu_render = -1;  // ms per frame
    double cpu_encode = -1;
};

cFigures capture(const std::string& tool, std::vector<std::string> args) {
    args.insert(args.begin(), tool);
    args.push_back("--stats");
    const cRun run = run_tool(args);
    cFigures f;
    if (run.status != 0) return f;
    f.fps = stat_of(run.out, "throughput");
    f.cpu_render = stat_of(run.out, "cpu render");
    f.cpu_encode = stat_of(run.out, "cpu encode");
    return f;
}

// The processor time the machine gives this program now, in cores: as many threads as cores
// spin for a second and count the time they got. On a machine shared with other work this is
// less than the core count, and it is what the limit of a capture is measured against.
double available_cores(int cores) {
    std::vector<double> got(static_cast<size_t>(cores), 0.0);
    std::vector<std::thread> spinners;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < cores; ++i) {
        spinners.emplace_back([&got, i, start] {
            volatile uint64_t sink = 0;
            while (std::chrono::steady_clock::now() - start < std::chrono::seconds(1)) sink = sink + 1;
            timespec t{};
            ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
            got[static_cast<size_t>(i)] = static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
        });
    }
    for (auto& t : spinners) t.join();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    double total = 0;
    for (double g : got) total += g;
    return total / wall;
}

std::string load_average() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// The processes a --jobs run started: its "capturing N chunks" line, else one.
int processes_of(const std::string& out) {
    const std::string mark = "# democapture: capturing ";
    const size_t at = out.find(mark);
    return at == std::string::npos ? 1 : std::atoi(out.c_str() + at + mark.size());
}

// Whole runs of each output in one process and with --jobs 1, 2 and 4, each timed from start
// to the finished file: start-ups, chunks and the join included.
int jobs_table(const std::string& tool, const std::string& work, const std::string& from, const std::string& to,
               int cores) {
    std::printf("\n# --jobs against one process, music %s to %s ms at 1280x720 and 60 fps, whole runs (start-ups,\n"
                "# chunks and join included). \"ratio\": one process's time over this run's; above 1 is faster.\n"
                "# \"processes\": what --jobs started (never more than the cores it may use; an H.264 video\n"
                "# splits only at its key frames). \"free\" and \"load\": the machine just before the run.\n",
                from.c_str(), to.c_str());
    std::printf("# %-8s %-6s %9s %9s %7s %6s %6s\n", "output", "jobs", "processes", "seconds", "ratio", "free", "load");
    int status = 0;
    for (const auto& [name, option, file] :
         {std::tuple<const char*, const char*, const char*>{"master", "--master", "/jobs.mkv"},
          {"H.264", "--video", "/jobs.mp4"}}) {
        double one = -1;
        for (int jobs : {0, 1, 2, 4}) {
            std::vector<std::string> args = {tool, option, work + file, "--from", from, "--to", to};
            if (jobs > 0) args.insert(args.end(), {"--jobs", std::to_string(jobs)});
            const double available = available_cores(cores);
            std::ifstream in("/proc/loadavg");
            std::string load;
            in >> load;
            const auto start = std::chrono::steady_clock::now();
            const cRun run = run_tool(args);
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::error_code ignored;
            std::filesystem::remove(work + file, ignored);
            if (run.status != 0) {
                status = 1;
                std::printf("  %-8s %-6s failed with status %d\n", name, jobs ? std::to_string(jobs).c_str() : "-",
                            run.status);
                continue;
            }
            if (jobs == 0) one = seconds;
            std::printf("  %-8s %-6s %9d %8.2fs %7.2f %6.2f %6s\n", name,
                        jobs ? std::to_string(jobs).c_str() : "one", processes_of(run.out), seconds,
                        one > 0 ? one / seconds : 0.0, available, load.c_str());
            std::fflush(stdout);
        }
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    const bool jobs_only = argc > 1 && std::string(argv[1]) == "jobs";
    const int first = jobs_only ? 2 : 1;
    const std::string from = argc > first + 1 ? argv[first] : "48000";
    const std::string to = argc > first + 1 ? argv[first + 1] : "52000";
    const std::string tool = std::string(DEMO_TOOLS_DIR) + "/democapture";
    char pattern[] = "/tmp/capture-bench-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (!made) {
        std::cerr << "## ERROR: capture_bench: cannot make a work folder" << std::endl;
        return 1;
    }
    const std::string work = made;
    const double cores = std::max(1u, std::thread::hardware_concurrency());
    if (jobs_only) {
        std::printf("# capture bench, %g cores, load %s\n", cores, load_average().c_str());
        const int status = jobs_table(tool, work, from, to, static_cast<int>(cores));
        std::printf("# load at the end: %s\n", load_average().c_str());
        std::error_code ignored;
        std::filesystem::remove_all(work, ignored);
        return status;
    }
    std::printf("# capture throughput, music %s to %s ms at 60 fps, %g cores, load %s\n", from.c_str(), to.c_str(),
                cores, load_average().c_str());
    std::printf("# limit: the cores' time over the processor time of rendering a frame (rendering alone) plus\n"
                "# encoding it (this run); a capture that overlaps them perfectly reaches it. \"free\" is the\n"
                "# processor time the machine gave one spinning thread per core just before the run: below the\n"
                "# core count, other work shares the machine and the run cannot reach the limit.\n");
    std::printf("# %-10s %-8s %8s %10s %12s %12s %6s %10s %9s\n", "size", "output", "fps", "of render", "cpu render",
                "cpu encode", "free", "limit fps", "of limit");
    int status = 0;
    auto row = [cores](const char* size, const char* output, const cFigures& f, double render_fps, double render_cpu,
                       double free_cores) {
        const double encode = f.cpu_encode < 0 ? 0 : f.cpu_encode;
        const double limit = render_cpu > 0 ? cores * 1000.0 / (render_cpu + encode) : 0;
        std::printf("  %-10s %-8s %8.2f %9.1f%% %9.1f ms %9.1f ms %6.2f %10.2f %8.1f%%\n", size, output, f.fps,
                    render_fps > 0 ? 100.0 * f.fps / render_fps : 0.0, f.cpu_render, encode, free_cores, limit,
                    limit > 0 ? 100.0 * f.fps / limit : 0.0);
        std::fflush(stdout);
    };
    const int core_count = static_cast<int>(cores);
    for (const char* size : {"1280x720", "1920x1080"}) {
        const std::vector<std::string> range = {"--from", from, "--to", to, "--size", size};
        auto with = [&range](std::vector<std::string> more) {
            more.insert(more.end(), range.begin(), range.end());
            return more;
        };
        double available = available_cores(core_count);
        const cFigures render = capture(tool, with({"--measure", "render"}));
        if (render.fps < 0) status = 1;
        row(size, "render", render, render.fps, render.cpu_render, available);
        const std::pair<const char*, std::vector<std::string>> outputs[] = {
            {"PNG", {"--out", work + "/frames"}},
            {"H.264", {"--video", work + "/bench.mp4"}},
            {"master", {"--master", work + "/bench.mkv"}},
        };
        for (const auto& [name, args] : outputs) {
            available = available_cores(core_count);
            const cFigures f = capture(tool, with(args));
            if (f.fps < 0) status = 1;
            row(size, name, f, render.fps, render.cpu_render, available);
            std::error_code ignored;
            std::filesystem::remove_all(work + "/frames", ignored);
        }
    }

    std::printf("\n# reading back and encoding alone at 1280x720 (one frame rendered, then read back and\n"
                "# encoded as every frame): what a machine where rendering is free would reach. H.264 codes a\n"
                "# repeated picture almost for free, so its figure is an upper bound.\n");
    std::printf("# %-18s %8s %12s %6s\n", "output", "fps", "cpu encode", "free");
    const std::vector<std::string> range = {"--from", from, "--to", to, "--measure", "output"};
    for (const char* threads : {"1", "2", "4"}) {
        std::vector<std::string> args = {"--out", work + "/frames", "--threads", threads};
        args.insert(args.end(), range.begin(), range.end());
        const double available = available_cores(core_count);
        const cFigures f = capture(tool, args);
        if (f.fps < 0) status = 1;
        std::printf("  PNG, %s thread%-6s %8.2f %9.1f ms %6.2f\n", threads, threads[0] == '1' ? "" : "s", f.fps,
                    f.cpu_encode, available);
        std::error_code ignored;
        std::filesystem::remove_all(work + "/frames", ignored);
    }
    for (const auto& [name, file] : {std::pair<const char*, std::string>{"H.264", "--video"}, {"master", "--master"}}) {
        std::vector<std::string> args = {file, work + (file == "--video" ? "/bench.mp4" : "/bench.mkv")};
        args.insert(args.end(), range.begin(), range.end());
        const double available = available_cores(core_count);
        const cFigures f = capture(tool, args);
        if (f.fps < 0) status = 1;
        std::printf("  %-18s %8.2f %9.1f ms %6.2f\n", name, f.fps, f.cpu_encode, available);
    }
    if (jobs_table(tool, work, from, to, core_count) != 0) status = 1;
    std::printf("# load at the end: %s\n", load_average().c_str());
    std::error_code ignored;
    std::filesystem::remove_all(work, ignored);
    return status;
}
