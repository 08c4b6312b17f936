// Runs a fuzz harness's entry function once over every file of the given directories (its
// seed corpus and regression inputs), without libFuzzer, so that the normal build and its
// sanitizer build catch a regression too. Each input sits in a buffer of exactly its size.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    int replayed = 0;
    for (int a = 1; a < argc; ++a) {
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(argv[a]))
            if (entry.is_regular_file()) files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        for (const auto& path : files) {
            std::ifstream in(path, std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            // An exactly sized copy, so that a read past the input's end is caught.
            std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size() + (bytes.empty() ? 1 : 0)]);
            std::copy(bytes.begin(), bytes.end(), copy.get());
            std::fprintf(stderr, "%s\n", path.c_str());
            LLVMFuzzerTestOneInput(copy.get(), bytes.size());
            ++replayed;
        }
    }
    std::printf("# replayed %d inputs\n", replayed);
    return replayed > 0 ? 0 : 1;
}
