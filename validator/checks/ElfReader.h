#pragma once

#include "checks/IElfReader.h"
#include "package/PackagedFile.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct Elf;

namespace Validator {

// IElfReader on elfutils' libelf. The file is mapped rather than read, so
// only the headers and the sections a question needs are ever touched.
class ElfReader final : public IElfReader {
public:
    // Null when the path does not lead to a readable regular file or libelf
    // does not see an ELF file in it.
    static std::shared_ptr<IElfReader> fromPath(const std::string& path);

    ~ElfReader() override;
    ElfReader(const ElfReader&) = delete;
    ElfReader& operator=(const ElfReader&) = delete;

    bool isValid() const override;
    std::uint32_t byteOrder() const override;
    const std::string& rpath() const override;
    void forEachSymbol(const SymbolCallback& callback) const override;
    void forEachDynamicEntry(const DynamicEntryCallback& callback) const override;
    std::string_view rodataRange() const override;

private:
    // Codes of the header's class byte.
    static constexpr std::uint32_t Class32 = 0;
    static constexpr std::uint32_t Class64 = 1;
    static constexpr std::uint32_t UnknownClass = 2;

    struct ElfEnder {
        void operator()(Elf* elf) const;
    };
    using ElfHandle = std::unique_ptr<Elf, ElfEnder>;

    ElfReader(PackagedFile file, ElfHandle elf);

    std::string_view findRodata() const;

    // Declared before the handle: libelf may still read through the
    // descriptor until elf_end has run.
    PackagedFile m_file;
    ElfHandle m_elf;
    std::uint32_t m_classCode = UnknownClass;
    std::uint32_t m_byteOrder = UnknownByteOrder;
    std::string m_rpath;
    std::string_view m_rodata;
};

} // namespace Validator
