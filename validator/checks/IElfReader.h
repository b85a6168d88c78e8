#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace Validator {

// One entry of a dynamic section. `value` is filled only for the tags whose
// value is an offset into the dynamic string table (DT_NEEDED, DT_SONAME,
// DT_RPATH, DT_RUNPATH); it stays empty for the others and when the offset
// does not lead to a terminated string inside that table.
struct ElfDynamicEntry {
    std::uint64_t tag = 0;
    std::string value;
};

// One symbol of a SHT_SYMTAB or SHT_DYNSYM section. The name is empty when
// its offset does not lead to a terminated string of the linked table.
struct ElfSymbol {
    std::string name;
    std::uint64_t value = 0;
    std::uint64_t size = 0;
    unsigned char bind = 0;         // STB_* of st_info
    unsigned char type = 0;         // STT_* of st_info
    unsigned char other = 0;        // st_other (visibility)
    std::uint16_t sectionIndex = 0; // st_shndx
};

// The one way the validators look into ELF files.
class IElfReader {
public:
    // Codes of byteOrder(), taken from the data-encoding byte of the header.
    static constexpr std::uint32_t LittleEndian = 0;
    static constexpr std::uint32_t BigEndian = 1;
    static constexpr std::uint32_t UnknownByteOrder = 2;

    // The records are reused between calls: copy what must outlive one call.
    using SymbolCallback = std::function<void(const ElfSymbol&)>;
    // Returning true ends the walk.
    using DynamicEntryCallback = std::function<bool(const ElfDynamicEntry&)>;

    virtual ~IElfReader() = default;

    // A little-endian 32- or 64-bit ELF file.
    virtual bool isValid() const = 0;
    virtual std::uint32_t byteOrder() const = 0;
    // The last non-empty DT_RPATH string; DT_RUNPATH is never reported here.
    virtual const std::string& rpath() const = 0;
    // Sections in file order, symbols in table order.
    virtual void forEachSymbol(const SymbolCallback& callback) const = 0;
    // Entries of every SHT_DYNAMIC section in file order, up to the first
    // DT_NULL.
    virtual void forEachDynamicEntry(const DynamicEntryCallback& callback) const = 0;
    // The bytes of the first section named ".rodata", valid as long as the
    // reader lives; a null view when there is none or it holds no file bytes.
    virtual std::string_view rodataRange() const = 0;
};

} // namespace Validator
