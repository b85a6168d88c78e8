// The driver of a fuzz target in a build without libFuzzer: runs the
// target's entry point once on every file named, or found below a directory
// named, and fails when there is none. The test suite replays each target's
// seeds with it, so that the targets keep building with the code they read
// and every seed keeps passing through it, sanitizers or not.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

namespace fs = std::filesystem;

namespace {

// Larger seeds are a mistake of the corpus, not an input to replay.
constexpr std::uintmax_t kLargestSeed = 64u << 20;

// Regular files only, in name order so that a failure names the same seed
// on every run; hidden files are the corpus writers' stamps.
std::vector<fs::path> seedsBelow(const std::vector<fs::path>& arguments)
{
    std::vector<fs::path> seeds;
    const auto take = [&seeds](const fs::directory_entry& entry) {
        if (entry.is_regular_file() && entry.path().filename().string().front() != '.')
            seeds.push_back(entry.path());
    };
    for (const fs::path& argument : arguments) {
        if (fs::is_directory(argument)) {
            for (const fs::directory_entry& entry : fs::recursive_directory_iterator(argument))
                take(entry);
        } else {
            take(fs::directory_entry(argument));
        }
    }
    std::sort(seeds.begin(), seeds.end());
    return seeds;
}

} // namespace

int main(int argc, char** argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    const std::vector<fs::path> seeds = seedsBelow(std::vector<fs::path>(argv + 1, argv + argc));
    if (seeds.empty()) {
        std::cout << "no seed found below the arguments\n";
        return 1;
    }
    for (const fs::path& seed : seeds) {
        if (fs::file_size(seed) > kLargestSeed) {
            std::cout << seed.string() << ": larger than 64 MiB\n";
            return 1;
        }
        std::ifstream in(seed, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.eof() && in.fail()) {
            std::cout << seed.string() << ": cannot be read\n";
            return 1;
        }
        // The name first: a seed that crashes the target is the last one named.
        std::cout << seed.string() << std::endl;
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    std::cout << seeds.size() << " seeds replayed\n";
    return 0;
}
