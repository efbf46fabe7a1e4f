// The driver that stands in for libFuzzer outside the fuzz build: it feeds a
// fuzz target's entry point each file of the seed folders (or files) named on
// the command line, in name order, so that every build replays the committed
// seeds. A broken invariant aborts, as it does under the fuzzer; a run that
// finds no seed at all fails too, since it would prove nothing.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    std::vector<fs::path> seeds;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        if (fs::is_directory(argv[i], error)) {
            for (const fs::directory_entry& entry : fs::directory_iterator(argv[i], error))
                if (entry.is_regular_file()) seeds.push_back(entry.path());
        } else if (fs::is_regular_file(argv[i], error)) {
            seeds.emplace_back(argv[i]);
        } else {
            std::fprintf(stderr, "%s: no such seed file or folder\n", argv[i]);
            return 2;
        }
        if (error) {
            std::fprintf(stderr, "%s: %s\n", argv[i], error.message().c_str());
            return 2;
        }
    }
    if (seeds.empty()) {
        std::fprintf(stderr, "usage: %s SEED_FOLDER_OR_FILE...: no seeds found\n", argv[0]);
        return 2;
    }
    std::sort(seeds.begin(), seeds.end());
    for (const fs::path& seed : seeds) {
        std::ifstream in(seed, std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        if (!in.good() && !in.eof()) {
            std::fprintf(stderr, "%s: cannot be read\n", seed.string().c_str());
            return 2;
        }
        // The target reads the seed from a buffer of exactly its size, as
        // libFuzzer passes it, so that a read past the end is caught.
        std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
        std::fprintf(stderr, "%s\n", seed.filename().string().c_str());
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
    std::printf("%zu seeds replayed\n", seeds.size());
    return 0;
}
