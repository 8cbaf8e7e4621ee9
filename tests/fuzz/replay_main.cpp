// Replays a fuzz target's inputs without libFuzzer: every file of the folders named
// on the command line, in name order, once each. A folder that does not exist
// holds no inputs (a target without regressions has no folder for them).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(argv[i], error))
            if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
                inputs.push_back(entry.path());
    }
    std::sort(inputs.begin(), inputs.end());
    for (const auto& path : inputs) {
        std::ifstream in(path, std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                              std::istreambuf_iterator<char>());
        std::printf("%s\n", path.filename().string().c_str());
        std::fflush(stdout);
        // Each input gets its own allocation of exactly its size, as under libFuzzer,
        // so a read past its end is one the address sanitizer build sees.
        std::vector<std::uint8_t> copy(bytes);
        LLVMFuzzerTestOneInput(copy.data(), copy.size());
    }
    std::printf("%zu inputs replayed\n", inputs.size());
    // No inputs at all means the corpus went missing, not that everything passed.
    return inputs.empty() ? 1 : 0;
}
