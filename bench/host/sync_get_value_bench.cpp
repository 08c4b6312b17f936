// How long a sync lookup takes: a warm get_value (hash lookup, key search, interpolation) on
// a track of 1000 keys, alone and among many registered names, and the first request for a
// name, which reads its file. Prints its figures; not a test.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "host/sync/sync_device.h"

namespace {

constexpr int kKeys = 1000;
constexpr int kRowsBetweenKeys = 8;
constexpr int kOtherNames = 63;

void put_int32(std::ofstream& out, int32_t number) {
    unsigned char bytes[4];
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>((static_cast<uint32_t>(number) >> (8 * i)) & 0xff);
    out.write(reinterpret_cast<const char*>(bytes), 4);
}

// A directory with "_bench.track" (1000 keys, every interpolation kind) and small tracks
// for the other names.
class cBenchTracks {
public:
    cBenchTracks() {
        std::string pattern = (std::filesystem::temp_directory_path() / "syncbench-XXXXXX").string();
        base_ = std::string(::mkdtemp(pattern.data())) + "/";
        write("bench", kKeys);
        for (int i = 0; i < kOtherNames; ++i) write("other" + std::to_string(i), 4);
    }
    ~cBenchTracks() { std::filesystem::remove_all(base_); }
    const std::string& base() const { return base_; }

private:
    void write(const std::string& name, int keys) {
        std::ofstream out(base_ + "_" + name + ".track", std::ios::binary);
        put_int32(out, keys);
        for (int i = 0; i < keys; ++i) {
            put_int32(out, i * kRowsBetweenKeys);
            float value = static_cast<float>(i % 17) * 0.25f;
            int32_t bits;
            std::memcpy(&bits, &value, sizeof bits);
            put_int32(out, bits);
            out.put(static_cast<char>(i % 4));
        }
    }
    std::string base_;
};

cBenchTracks& tracks() {
    static cBenchTracks made;
    return made;
}

// open_store reports on standard error; keep the benchmark's table readable.
struct cQuietErr {
    cQuietErr() : saved(std::cerr.rdbuf(sink.rdbuf())) {}
    ~cQuietErr() { std::cerr.rdbuf(saved); }
    std::ostringstream sink;
    std::streambuf* saved;
};

// Times spread over the whole track (about 333 s), stepping by an odd number of
// milliseconds so that successive lookups land in different key intervals.
int64_t next_time(int64_t t) { return (t + 7919) % 340000; }

void warm_get_value(benchmark::State& state, bool crowded) {
    cQuietErr quiet;
    cSyncDevice device;
    device.open_store(tracks().base());
    if (crowded) {
        for (int i = 0; i < kOtherNames; ++i) device.register_track(("other" + std::to_string(i)).c_str());
    }
    int64_t t = 0;
    device.get_value("bench", t);  // the first request reads the file
    for (auto _ : state) {
        float value = device.get_value("bench", t);
        benchmark::DoNotOptimize(value);
        t = next_time(t);
    }
}

void BM_warm_get_value_1000_keys(benchmark::State& state) { warm_get_value(state, false); }
void BM_warm_get_value_1000_keys_among_64_names(benchmark::State& state) { warm_get_value(state, true); }

// The first request for a name: registry insert, path, open, read of 9004 bytes, decode.
void BM_cold_first_request_1000_keys(benchmark::State& state) {
    cQuietErr quiet;
    for (auto _ : state) {
        state.PauseTiming();
        auto device = std::make_unique<cSyncDevice>();
        device->open_store(tracks().base());
        const int64_t t = 1000;
        state.ResumeTiming();
        float value = device->get_value("bench", t);
        benchmark::DoNotOptimize(value);
        state.PauseTiming();
        device.reset();
        state.ResumeTiming();
    }
}

}  // namespace

BENCHMARK(BM_warm_get_value_1000_keys);
BENCHMARK(BM_warm_get_value_1000_keys_among_64_names);
BENCHMARK(BM_cold_first_request_1000_keys)->Iterations(2000);

BENCHMARK_MAIN();
