#include "checks/ElfReader.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>

#include <gelf.h>
#include <libelf.h>

namespace Validator {

namespace {

// A hostile file can let thousands of section headers describe the same large
// region, or thousands of symbols name one long unterminated string. Nothing
// of that is endless, but it is quadratic in the file size. Every walk
// therefore draws on a byte budget proportional to the file: the contents of
// each section it takes and every string byte it scans are charged, and what
// the budget no longer covers reads as empty. Sections of a well-formed file
// do not overlap, so its walks stay far below one file size.
class WalkBudget {
public:
    explicit WalkBudget(std::uint64_t fileSize)
    {
        constexpr std::uint64_t factor = 16;
        constexpr std::uint64_t slack = 1u << 20;
        constexpr std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
        m_left = fileSize > (most - slack) / factor ? most : fileSize * factor + slack;
    }

    std::uint64_t left() const { return m_left; }

    bool charge(std::uint64_t bytes)
    {
        if (bytes > m_left) {
            m_left = 0;
            return false;
        }
        m_left -= bytes;
        return true;
    }

private:
    std::uint64_t m_left = 0;
};

std::size_t sectionCount(Elf* elf)
{
    std::size_t count = 0;
    return elf_getshdrnum(elf, &count) == 0 ? count : 0;
}

enum class Contents {
    // Byte-order converted records (symbols, dynamic entries).
    Converted,
    // The bytes as they are in the file. Strings and read-only data need no
    // conversion, and raw access keeps libelf from running its record
    // converters over a section that only a bogus sh_link points to.
    Raw,
};

// Null when the section does not exist, has no bytes in the file, lies
// (partly) outside the file, does not fit the budget, or libelf refuses it.
Elf_Data* sectionData(Elf* elf, std::size_t index, Contents contents, WalkBudget& budget)
{
    Elf_Scn* section = elf_getscn(elf, index);
    GElf_Shdr header;
    if (!section || !gelf_getshdr(section, &header) || header.sh_type == SHT_NOBITS)
        return nullptr;
    // Charged before libelf sees the section: converting a foreign byte order
    // allocates a copy of it.
    if (!budget.charge(header.sh_size))
        return nullptr;
    Elf_Data* data = contents == Contents::Raw ? elf_rawdata(section, nullptr)
                                                     : elf_getdata(section, nullptr);
    if (!data || !data->d_buf)
        return nullptr;
    return data;
}

// The terminated string at `offset` of `table` into `out`; empty when the
// offset lies outside the table, no NUL follows inside it, or the budget runs
// out before one does.
void stringAt(const Elf_Data* table, std::uint64_t offset, WalkBudget& budget, std::string& out)
{
    out.clear();
    if (!table || offset >= table->d_size)
        return;
    const char* start = static_cast<const char*>(table->d_buf) + offset;
    const std::size_t scanned = static_cast<std::size_t>(
        std::min<std::uint64_t>(table->d_size - offset, budget.left()));
    const void* end = std::memchr(start, '\0', scanned);
    if (!end) {
        budget.charge(scanned);
        return;
    }
    const std::size_t length = static_cast<std::size_t>(static_cast<const char*>(end) - start);
    budget.charge(length + 1);
    out.assign(start, length);
}

bool hasStringValue(std::uint64_t tag)
{
    return tag == DT_NEEDED || tag == DT_SONAME || tag == DT_RPATH || tag == DT_RUNPATH;
}

} // namespace

void ElfReader::ElfEnder::operator()(Elf* elf) const
{
    elf_end(elf);
}

std::shared_ptr<IElfReader> ElfReader::fromFile(PackagedFile file)
{
    // libelf refuses every call until the version handshake; it needs it once
    // per process.
    static const bool libelfReady = elf_version(EV_CURRENT) != EV_NONE;
    if (!libelfReady)
        return nullptr;

    ElfHandle elf(elf_begin(file.fd(), ELF_C_READ_MMAP, nullptr));
    GElf_Ehdr header;
    if (!elf || elf_kind(elf.get()) != ELF_K_ELF || !gelf_getehdr(elf.get(), &header))
        return nullptr;
    return std::shared_ptr<IElfReader>(new ElfReader(std::move(file), std::move(elf)));
}

std::shared_ptr<IElfReader> ElfReader::fromPackage(const UnpackedTree& tree, const std::string& path)
{
    std::optional<PackagedFile> file = PackagedFile::open(tree, path);
    return file ? fromFile(std::move(*file)) : nullptr;
}

std::shared_ptr<IElfReader> ElfReader::fromHostFile(const std::string& path)
{
    std::optional<PackagedFile> file = PackagedFile::openHostFile(path);
    return file ? fromFile(std::move(*file)) : nullptr;
}

ElfReader::ElfReader(PackagedFile file, ElfHandle elf)
    : m_file(std::move(file)), m_elf(std::move(elf))
{
    if (const char* ident = elf_getident(m_elf.get(), nullptr)) {
        const auto elfClass = static_cast<unsigned char>(ident[EI_CLASS]);
        const auto encoding = static_cast<unsigned char>(ident[EI_DATA]);
        m_classCode = elfClass == ELFCLASS32 ? Class32 : elfClass == ELFCLASS64 ? Class64 : UnknownClass;
        m_byteOrder = encoding == ELFDATA2LSB   ? LittleEndian
                      : encoding == ELFDATA2MSB ? BigEndian
                                                : UnknownByteOrder;
    }
    forEachDynamicEntry([this](const ElfDynamicEntry& entry) {
        if (entry.tag == DT_RPATH && !entry.value.empty())
            m_rpath = entry.value;
        return false;
    });
    m_rodata = findRodata();
}

ElfReader::~ElfReader() = default;

bool ElfReader::isValid() const
{
    return (m_classCode == Class32 || m_classCode == Class64) && m_byteOrder == LittleEndian;
}

std::uint32_t ElfReader::byteOrder() const
{
    return m_byteOrder;
}

const std::string& ElfReader::rpath() const
{
    return m_rpath;
}

void ElfReader::forEachSymbol(const SymbolCallback& callback) const
{
    Elf* elf = m_elf.get();
    WalkBudget budget(m_file.size());
    const std::size_t symbolSize = gelf_fsize(elf, ELF_T_SYM, 1, EV_CURRENT);
    if (symbolSize == 0)
        return;
    const std::size_t count = sectionCount(elf);
    ElfSymbol record;
    for (std::size_t index = 0; index < count; ++index) {
        GElf_Shdr header;
        Elf_Scn* section = elf_getscn(elf, index);
        if (!section || !gelf_getshdr(section, &header)
            || (header.sh_type != SHT_SYMTAB && header.sh_type != SHT_DYNSYM))
            continue;
        Elf_Data* symbols = sectionData(elf, index, Contents::Converted, budget);
        if (!symbols)
            continue;
        const Elf_Data* names = sectionData(elf, header.sh_link, Contents::Raw, budget);
        const std::size_t entries = symbols->d_size / symbolSize;
        for (std::size_t i = 0; i < entries; ++i) {
            GElf_Sym symbol;
            if (!gelf_getsym(symbols, static_cast<int>(i), &symbol))
                break;
            stringAt(names, symbol.st_name, budget, record.name);
            record.value = symbol.st_value;
            record.size = symbol.st_size;
            record.bind = GELF_ST_BIND(symbol.st_info);
            record.type = GELF_ST_TYPE(symbol.st_info);
            record.other = symbol.st_other;
            record.sectionIndex = symbol.st_shndx;
            callback(record);
        }
    }
}

void ElfReader::forEachDynamicEntry(const DynamicEntryCallback& callback) const
{
    Elf* elf = m_elf.get();
    WalkBudget budget(m_file.size());
    const std::size_t entrySize = gelf_fsize(elf, ELF_T_DYN, 1, EV_CURRENT);
    if (entrySize == 0)
        return;
    const std::size_t count = sectionCount(elf);
    ElfDynamicEntry record;
    for (std::size_t index = 0; index < count; ++index) {
        GElf_Shdr header;
        Elf_Scn* section = elf_getscn(elf, index);
        if (!section || !gelf_getshdr(section, &header) || header.sh_type != SHT_DYNAMIC)
            continue;
        Elf_Data* entries = sectionData(elf, index, Contents::Converted, budget);
        if (!entries)
            continue;
        const Elf_Data* strings = sectionData(elf, header.sh_link, Contents::Raw, budget);
        const std::size_t total = entries->d_size / entrySize;
        for (std::size_t i = 0; i < total; ++i) {
            GElf_Dyn entry;
            if (!gelf_getdyn(entries, static_cast<int>(i), &entry))
                break;
            if (entry.d_tag == DT_NULL)
                return;
            record.tag = static_cast<std::uint64_t>(entry.d_tag);
            if (hasStringValue(record.tag))
                stringAt(strings, entry.d_un.d_val, budget, record.value);
            else
                record.value.clear();
            if (callback(record))
                return;
        }
    }
}

std::string_view ElfReader::rodataRange() const
{
    return m_rodata;
}

std::string_view ElfReader::findRodata() const
{
    static constexpr char rodataName[] = ".rodata";
    Elf* elf = m_elf.get();
    WalkBudget budget(m_file.size());
    std::size_t namesIndex = 0;
    if (elf_getshdrstrndx(elf, &namesIndex) != 0)
        return {};
    const Elf_Data* names = sectionData(elf, namesIndex, Contents::Raw, budget);
    if (!names)
        return {};
    const std::size_t count = sectionCount(elf);
    for (std::size_t index = 0; index < count; ++index) {
        GElf_Shdr header;
        Elf_Scn* section = elf_getscn(elf, index);
        if (!section || !gelf_getshdr(section, &header))
            continue;
        // Compares the name with its terminator in place: scanning every
        // name to its end would be quadratic on a table without NULs.
        if (header.sh_name >= names->d_size || names->d_size - header.sh_name < sizeof rodataName
            || std::memcmp(static_cast<const char*>(names->d_buf) + header.sh_name, rodataName,
                           sizeof rodataName)
                   != 0)
            continue;
        const Elf_Data* data = sectionData(elf, index, Contents::Raw, budget);
        if (!data)
            return {};
        return {static_cast<const char*>(data->d_buf), data->d_size};
    }
    return {};
}

} // namespace Validator
