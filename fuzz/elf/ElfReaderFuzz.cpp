// Feeds arbitrary bytes to the ELF reader and walks everything it offers.

#include "checks/ElfReader.h"
#include "FuzzInput.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// The reader opens files by path.
const Fuzz::InputFile& input()
{
    static const Fuzz::InputFile file = Fuzz::InputFile::inMemory("elf-reader-fuzz");
    return file;
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
    input().write(data, size);
    const auto reader = Validator::ElfReader::fromHostFile(input().path());
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
