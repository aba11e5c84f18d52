// Runs a fuzz target over its seeds and every file of the directories given, as an ordinary test
// program; with --write-seeds DIR it writes the seeds into DIR, for the fuzzer to start from.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
std::vector<std::vector<std::uint8_t>> make_seeds(); // NAME_seeds.cpp

int main(int argc, char** argv) {
    std::vector<std::vector<std::uint8_t>> inputs = make_seeds();
    if (argc == 3 && std::string(argv[1]) == "--write-seeds") {
        std::filesystem::create_directories(argv[2]);
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            std::ofstream out(std::filesystem::path(argv[2]) / ("seed-" + std::to_string(i)));
            if (!out.write(reinterpret_cast<const char*>(inputs[i].data()),
                           std::streamsize(inputs[i].size())))
                return std::fprintf(stderr, "cannot write seeds into %s\n", argv[2]), 1;
        }
        return 0;
    }
    for (int i = 1; i < argc; ++i) {
        if (!std::filesystem::is_directory(argv[i]))
            return std::fprintf(stderr, "replay: %s is not a directory\n", argv[i]), 2;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[i]))
            if (entry.is_regular_file() && !entry.path().filename().string().starts_with(".")) {
                std::ifstream in(entry.path(), std::ios::binary);
                inputs.emplace_back(std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>());
            }
    }
    for (const auto& input : inputs) LLVMFuzzerTestOneInput(input.data(), input.size());
    std::printf("replayed %zu inputs\n", inputs.size());
    return inputs.empty() ? 1 : 0;
}
