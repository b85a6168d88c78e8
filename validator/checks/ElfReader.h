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
    // Null when libelf does not see an ELF file in it.
    static std::shared_ptr<IElfReader> fromFile(PackagedFile file);
    // The file at `path` of the package, resolved beneath the tree's root.
    // Null when that is no readable regular file or no ELF file.
    static std::shared_ptr<IElfReader> fromPackage(const UnpackedTree& tree, const std::string& path);
    // A file of this machine (tools and tests); never one of a package.
    static std::shared_ptr<IElfReader> fromHostFile(const std::string& path);

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
