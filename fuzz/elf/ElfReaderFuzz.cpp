// Feeds arbitrary bytes to the ELF reader and walks everything it offers.

#include "checks/ElfReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// The reader opens files by path, so every input goes into one memory-backed
// file that stays open for the whole run; rewriting it costs no disk.
const std::string& inputPath()
{
    static const std::string path = [] {
        const int fd = memfd_create("elf-reader-fuzz", MFD_CLOEXEC);
        if (fd < 0)
            std::abort();
        return "/proc/self/fd/" + std::to_string(fd);
    }();
    return path;
}

int inputDescriptor()
{
    return std::stoi(inputPath().substr(inputPath().rfind('/') + 1));
}

void writeInput(const std::uint8_t* data, std::size_t size)
{
    const int fd = inputDescriptor();
    if (ftruncate(fd, 0) != 0)
        std::abort();
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = pwrite(fd, data + written, size - written, static_cast<off_t>(written));
        if (n <= 0)
            std::abort();
        written += static_cast<std::size_t>(n);
    }
}

// Every byte the reader hands out is read, so that a view or string pointing
// outside its memory trips the address sanitizer.
std::uint64_t digest(std::string_view bytes, std::uint64_t seed)
{
    for (unsigned char c : bytes)
        seed = seed * 131 + c;
    return seed;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    writeInput(data, size);
    const auto reader = Validator::ElfReader::fromHostFile(inputPath());
    if (!reader)
        return 0;

    volatile std::uint64_t sink = reader->isValid() + reader->byteOrder();
    std::uint64_t sum = digest(reader->rpath(), 0);
    reader->forEachSymbol([&sum](const Validator::ElfSymbol& symbol) {
        sum = digest(symbol.name, sum) + symbol.value + symbol.size + symbol.bind + symbol.type + symbol.other
              + symbol.sectionIndex;
    });
    reader->forEachDynamicEntry([&sum](const Validator::ElfDynamicEntry& entry) {
        sum = digest(entry.value, sum + entry.tag);
        return false;
    });
    // A walk that stops early must leave the reader as usable as a full one.
    std::size_t seen = 0;
    const std::size_t stopAfter = size > 0 ? data[size - 1] % 8 : 0;
    reader->forEachDynamicEntry([&](const Validator::ElfDynamicEntry&) { return seen++ == stopAfter; });
    sum = digest(reader->rodataRange(), sum + seen);
    sink = sink + sum;
    return 0;
}
