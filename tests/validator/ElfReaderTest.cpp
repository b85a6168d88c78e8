#include "checks/ElfReader.h"

#include "TestKit.h"

#include <elf.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>

using Validator::ElfDynamicEntry;
using Validator::ElfReader;
using Validator::ElfSymbol;
using Validator::IElfReader;

namespace {

constexpr const char* Program = R"(#include <stdio.h>
const char imports[] = "import Pelora.Varnel 1.0\n";
int main(void) { puts(imports); return 0; }
)";
const std::vector<std::string> WithRpath = {"-Wl,-rpath,/usr/lib", "-Wl,--disable-new-dtags"};
constexpr std::uint64_t Huge = ~std::uint64_t{0} - 7;

// A mutable copy of a 64-bit little-endian ELF file.
struct Image {
    std::string bytes;

    template <class T> T get(std::uint64_t offset) const
    {
        T value;
        std::memcpy(&value, bytes.data() + offset, sizeof value);
        return value;
    }
    template <class T> Image& put(std::uint64_t offset, const T& value)
    {
        std::memcpy(bytes.data() + offset, &value, sizeof value);
        return *this;
    }
    Elf64_Ehdr header() const { return get<Elf64_Ehdr>(0); }
    std::uint64_t sectionAt(std::size_t index) const { return header().e_shoff + index * sizeof(Elf64_Shdr); }
    Elf64_Shdr section(std::size_t index) const { return get<Elf64_Shdr>(sectionAt(index)); }
    std::size_t sectionNamed(const std::string& name) const
    {
        const Elf64_Shdr names = section(header().e_shstrndx);
        for (std::size_t i = 0; i < header().e_shnum; ++i)
            if (bytes.compare(names.sh_offset + section(i).sh_name, name.size() + 1, name.c_str(), name.size() + 1) == 0)
                return i;
        throw std::runtime_error("no section " + name);
    }
    std::uint64_t dynamicEntryAt(std::size_t entry) const
    {
        return section(sectionNamed(".dynamic")).sh_offset + entry * sizeof(Elf64_Dyn);
    }
    Image& putInEverySection(std::size_t field, std::uint64_t value, std::size_t size)
    {
        for (std::size_t i = 0; i < header().e_shnum; ++i)
            std::memcpy(bytes.data() + sectionAt(i) + field, &value, size);
        return *this;
    }
};

struct Walk {
    std::set<std::string> symbols;
    std::vector<ElfDynamicEntry> entries;

    std::string valueOf(std::uint64_t tag) const
    {
        auto it = std::find_if(entries.begin(), entries.end(), [tag](const auto& e) { return e.tag == tag; });
        return it == entries.end() ? "<none>" : it->value;
    }
};

// Walks everything the reader offers. Whatever it reports must be bytes of
// the file itself, and only the four string tags carry a string.
Walk walkChecked(const IElfReader& reader, const std::string& bytes)
{
    const auto inFile = [&bytes](const std::string& text) {
        return text.empty() || bytes.find(text + '\0') != std::string::npos;
    };
    Walk walk;
    reader.forEachSymbol([&](const ElfSymbol& symbol) {
        EXPECT_TRUE(inFile(symbol.name)) << symbol.name;
        walk.symbols.insert(symbol.name);
    });
    reader.forEachDynamicEntry([&](const ElfDynamicEntry& entry) {
        EXPECT_TRUE(inFile(entry.value)) << entry.value;
        if (!entry.value.empty()) {
            EXPECT_TRUE(entry.tag == DT_NEEDED || entry.tag == DT_SONAME || entry.tag == DT_RPATH
                        || entry.tag == DT_RUNPATH) << entry.tag;
        }
        walk.entries.push_back(entry);
        return false;
    });
    EXPECT_TRUE(inFile(reader.rpath()));
    const std::string_view rodata = reader.rodataRange();
    EXPECT_EQ(rodata.data() == nullptr, rodata.empty());
    EXPECT_NE(bytes.find(rodata), std::string::npos);
    return walk;
}

class ElfReaderTest : public ::testing::Test {
protected:
    std::string compile(const std::string& source, const std::vector<std::string>& flags = {},
                        const std::string& name = "app")
    {
        TestKit::compileC(source, m_dir / name, flags);
        return m_dir / name;
    }
    Image compiled(const std::vector<std::string>& flags = {})
    {
        return Image{TestKit::readFile(compile(Program, flags))};
    }
    void tool(const std::vector<std::string>& argv)
    {
        const TestKit::RunResult result = TestKit::run(argv);
        if (result.exitCode != 0)
            throw std::runtime_error(argv[0] + " failed: " + result.err);
    }
    std::string write(const std::string& bytes)
    {
        const std::string path = m_dir / ("copy" + std::to_string(m_copies++));
        TestKit::writeFile(path, bytes);
        return path;
    }
    // A reader for `bytes`, its walk checked when there is one.
    std::shared_ptr<IElfReader> load(const std::string& bytes, Walk* walk = nullptr)
    {
        auto reader = ElfReader::fromHostFile(write(bytes));
        if (reader) {
            Walk seen = walkChecked(*reader, bytes);
            if (walk)
                *walk = std::move(seen);
        }
        return reader;
    }

    TestKit::TempDir m_dir{"elfreader"};
    int m_copies = 0;
};

TEST_F(ElfReaderTest, NoReaderForWhatIsNoElfFile)
{
    for (const std::string& bytes : {std::string("#!/bin/sh\necho hi\n"), std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16),
                                     std::string(), std::string("\x7f" "ELF\2\1\1", 7),
                                     std::string("\x7f" "ELF\3\1\1\0\0\0\0\0\0\0\0\0", 16)})
        EXPECT_EQ(ElfReader::fromHostFile(write(bytes)), nullptr) << bytes.size();
    EXPECT_EQ(ElfReader::fromHostFile(m_dir / "missing"), nullptr);
    EXPECT_EQ(ElfReader::fromHostFile(m_dir.path()), nullptr);
    ASSERT_EQ(::mkfifo((m_dir / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(ElfReader::fromHostFile(m_dir / "fifo"), nullptr);
    std::filesystem::create_symlink("/dev/zero", m_dir / "zero");
    EXPECT_EQ(ElfReader::fromHostFile(m_dir / "zero"), nullptr);
}

TEST_F(ElfReaderTest, RpathAndRunpathOfAnExecutable)
{
    Walk walk;
    auto reader = load(compiled({"-Wl,-rpath,/usr/share/app/lib:/opt/x", "-Wl,--disable-new-dtags"}).bytes, &walk);
    ASSERT_TRUE(reader);
    EXPECT_TRUE(reader->isValid());
    EXPECT_EQ(reader->byteOrder(), IElfReader::LittleEndian);
    EXPECT_EQ(reader->rpath(), "/usr/share/app/lib:/opt/x");
    EXPECT_EQ(walk.valueOf(DT_NEEDED), "libc.so.6");
    EXPECT_EQ(walk.valueOf(DT_RUNPATH), "<none>");
    EXPECT_EQ(walk.valueOf(DT_STRTAB), "");
    EXPECT_TRUE(walk.symbols.count("main") && walk.symbols.count("__libc_start_main"));
    EXPECT_NE(reader->rodataRange().find("import Pelora.Varnel 1.0\n"), std::string_view::npos);
    int calls = 0;
    reader->forEachDynamicEntry([&calls](const ElfDynamicEntry&) { return ++calls == 2; });
    EXPECT_EQ(calls, 2);

    reader = load(compiled({"-Wl,-rpath,/usr/lib", "-Wl,--enable-new-dtags"}).bytes, &walk);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->rpath(), "");
    EXPECT_EQ(walk.valueOf(DT_RUNPATH), "/usr/lib");
}

TEST_F(ElfReaderTest, SymbolsOfStrippedAndStartlessExecutables)
{
    const std::string plain = compile(Program, {}, "plain");
    const std::string exported = compile(Program, {"-rdynamic"}, "exported");
    tool({"strip", plain});
    tool({"strip", exported});
    Walk walk;
    ASSERT_TRUE(load(TestKit::readFile(plain), &walk));
    EXPECT_TRUE(walk.symbols.count("__libc_start_main"));
    EXPECT_FALSE(walk.symbols.count("main"));
    ASSERT_TRUE(load(TestKit::readFile(exported), &walk));
    EXPECT_TRUE(walk.symbols.count("main"));
    ASSERT_TRUE(load(TestKit::readFile(compile("void _start(void) { for (;;) {} }\n", {"-nostartfiles"})), &walk));
    EXPECT_TRUE(walk.symbols.count("_start"));
    EXPECT_FALSE(walk.symbols.count("__libc_start_main"));
}

TEST_F(ElfReaderTest, SharedLibrariesOfBothClasses)
{
    const std::string library = compile("int foo(void) { return 1; }\n", {"-shared", "-fPIC", "-Wl,-soname,libfoo.so.1"}, "libfoo.so.1");
    Walk walk;
    ASSERT_TRUE(load(TestKit::readFile(compile("int foo(void); int main(void) { return foo(); }\n", {library})), &walk));
    EXPECT_EQ(walk.valueOf(DT_NEEDED), "libfoo.so.1");
    ASSERT_TRUE(load(TestKit::readFile(library), &walk));
    EXPECT_EQ(walk.valueOf(DT_SONAME), "libfoo.so.1");

    // The x32 ABI gives a 32-bit file without a 32-bit C library.
    compile("const char text[] = \"import A 2.0\\n\"; int x(void) { return text[0]; }\n", {"-c", "-fPIC"}, "x.o");
    tool({"objcopy", "-O", "elf32-x86-64", m_dir / "x.o", m_dir / "x32.o"});
    tool({"ld", "-m", "elf32_x86_64", "-shared", "-soname", "libx.so", "-rpath", "/usr/lib/x", "--disable-new-dtags",
          m_dir / "x32.o", "-o", m_dir / "libx.so"});
    auto reader = load(TestKit::readFile(m_dir / "libx.so"), &walk);
    ASSERT_TRUE(reader);
    EXPECT_TRUE(reader->isValid());
    EXPECT_EQ(reader->rpath(), "/usr/lib/x");
    EXPECT_EQ(walk.valueOf(DT_SONAME), "libx.so");
    EXPECT_TRUE(walk.symbols.count("x"));
    EXPECT_EQ(reader->rodataRange().substr(0, 13), "import A 2.0\n");
}

TEST_F(ElfReaderTest, DynamicEntriesAsPatched)
{
    const Image app = compiled({"-Wl,-rpath,/first", "-Wl,--disable-new-dtags"});
    ASSERT_EQ(app.get<Elf64_Dyn>(app.dynamicEntryAt(0)).d_tag, DT_NEEDED);
    ASSERT_EQ(app.get<Elf64_Dyn>(app.dynamicEntryAt(1)).d_tag, DT_RPATH);
    const std::uint64_t needed = app.get<Elf64_Dyn>(app.dynamicEntryAt(0)).d_un.d_val;
    const Elf64_Shdr strings = app.section(app.sectionNamed(".dynstr"));

    // A later DT_RPATH replaces an earlier one, unless its string is empty.
    Image image = app;
    image.put(app.dynamicEntryAt(2), Elf64_Dyn{DT_RPATH, {needed}}).put(app.dynamicEntryAt(3), Elf64_Dyn{DT_RPATH, {strings.sh_size}});
    EXPECT_EQ(load(image.bytes)->rpath(), "libc.so.6");

    Walk walk;
    image = app;
    EXPECT_EQ(load(image.put(app.dynamicEntryAt(1), Elf64_Dyn{DT_NULL, {0}}).bytes, &walk)->rpath(), "");
    EXPECT_EQ(walk.entries.size(), 1u);

    // Offsets at the end of the table, past it, and of a string whose
    // terminator was overwritten.
    for (std::uint64_t offset : {strings.sh_size, strings.sh_size + 1, ~std::uint64_t{0}, strings.sh_size - 1}) {
        image = app;
        image.bytes[strings.sh_offset + strings.sh_size - 1] = 'x';
        ASSERT_TRUE(load(image.put(app.dynamicEntryAt(0), Elf64_Dyn{DT_NEEDED, {offset}}).bytes, &walk));
        EXPECT_EQ(walk.valueOf(DT_NEEDED), "") << offset;
    }
}

TEST_F(ElfReaderTest, RodataAbsentOrWithoutFileBytes)
{
    const Image app = compiled();
    tool({"objcopy", "--rename-section", ".rodata=.rodata1", m_dir / "app", m_dir / "renamed"});
    const std::uint64_t rodata = app.sectionAt(app.sectionNamed(".rodata"));
    for (const Image& image : {Image{TestKit::readFile(m_dir / "renamed")},
                               Image(app).put(rodata + offsetof(Elf64_Shdr, sh_type), Elf64_Word{SHT_NOBITS}),
                               Image(app).put(rodata + offsetof(Elf64_Shdr, sh_offset), Elf64_Off{app.bytes.size()})}) {
        auto reader = load(image.bytes);
        ASSERT_TRUE(reader);
        EXPECT_EQ(reader->rodataRange().data(), nullptr);
        EXPECT_EQ(reader->rodataRange().size(), 0u);
    }
}

TEST_F(ElfReaderTest, BigEndianFileIsInvalid)
{
    Image image = compiled(WithRpath);
    image.bytes[EI_DATA] = ELFDATA2MSB;
    auto reader = load(image.bytes);
    ASSERT_TRUE(reader);
    EXPECT_FALSE(reader->isValid());
    EXPECT_EQ(reader->byteOrder(), IElfReader::BigEndian);
}

TEST_F(ElfReaderTest, TruncatedCopiesReportOnlyWhatTheyHold)
{
    const std::string bytes = compiled(WithRpath).bytes;
    for (std::size_t size = 0; size < bytes.size(); size += size < 256 ? 1 : 97)
        load(bytes.substr(0, size));
}

TEST_F(ElfReaderTest, BogusSectionHeaders)
{
    const Image app = compiled(WithRpath);
    const std::uint64_t size = app.bytes.size();
    const auto patched = [&app](std::size_t offset, auto value) { return Image(app).put(offset, value); };
    const auto inEverySection = [&app](std::size_t field, auto value) {
        return Image(app).putInEverySection(field, value, sizeof value);
    };
    const std::vector<Image> images = {
        patched(offsetof(Elf64_Ehdr, e_shoff), Elf64_Off{size}),
        patched(offsetof(Elf64_Ehdr, e_shoff), Elf64_Off{size - 10}),
        patched(offsetof(Elf64_Ehdr, e_shoff), Elf64_Off{Huge}),
        patched(offsetof(Elf64_Ehdr, e_shoff), Elf64_Off{1}),
        patched(offsetof(Elf64_Ehdr, e_shnum), Elf64_Half{0xffff}),
        patched(offsetof(Elf64_Ehdr, e_shstrndx), Elf64_Half{0xfff0}),
        // Extended numbering takes the count from section 0's sh_size.
        patched(offsetof(Elf64_Ehdr, e_shnum), Elf64_Half{0}).put(app.sectionAt(0) + offsetof(Elf64_Shdr, sh_size), Elf64_Xword{1} << 40),
        patched(offsetof(Elf64_Ehdr, e_shnum), Elf64_Half{0}).put(app.sectionAt(0) + offsetof(Elf64_Shdr, sh_size), Elf64_Xword{Huge}),
        inEverySection(offsetof(Elf64_Shdr, sh_offset), Elf64_Off{Huge}),
        inEverySection(offsetof(Elf64_Shdr, sh_offset), Elf64_Off{size - 8}),
        inEverySection(offsetof(Elf64_Shdr, sh_size), Elf64_Xword{Huge}),
        inEverySection(offsetof(Elf64_Shdr, sh_size), Elf64_Xword{size}),
        inEverySection(offsetof(Elf64_Shdr, sh_link), Elf64_Word{0}),
        inEverySection(offsetof(Elf64_Shdr, sh_link), Elf64_Word{0xffffffff}),
        inEverySection(offsetof(Elf64_Shdr, sh_link), Elf64_Word{app.header().e_shstrndx}),
        inEverySection(offsetof(Elf64_Shdr, sh_link), Elf64_Word{1}),
    };
    for (const Image& image : images)
        load(image.bytes);

    // A dynamic string table outside the file leaves the entries, but not
    // their strings.
    Walk walk;
    const std::uint64_t dynstr = app.sectionAt(app.sectionNamed(".dynstr"));
    ASSERT_TRUE(load(patched(dynstr + offsetof(Elf64_Shdr, sh_offset), Elf64_Off{Huge}).bytes, &walk));
    EXPECT_EQ(walk.valueOf(DT_NEEDED), "");
    EXPECT_TRUE(walk.symbols.count("main"));
}

TEST_F(ElfReaderTest, OverlappingTablesStayLinear)
{
    // Thousands of symbol and dynamic sections over the same entries, every
    // entry naming the start of a string table without a NUL: walked without
    // a bound, that is hours of scanning.
    constexpr std::size_t sections = 2000;
    constexpr std::size_t entries = 1000;
    constexpr std::size_t stringBytes = 1 << 16;
    constexpr std::uint64_t symbolsAt = sizeof(Elf64_Ehdr) + sections * sizeof(Elf64_Shdr);
    constexpr std::uint64_t dynamicAt = symbolsAt + entries * sizeof(Elf64_Sym);
    constexpr std::uint64_t stringsAt = dynamicAt + entries * sizeof(Elf64_Dyn);
    Image image{std::string(stringsAt + stringBytes, 'A')};
    const Elf64_Ehdr header{{0x7f, 'E', 'L', 'F', ELFCLASS64, ELFDATA2LSB, EV_CURRENT}, ET_DYN, EM_X86_64, EV_CURRENT, 0, 0,
                            sizeof(Elf64_Ehdr), 0, sizeof(Elf64_Ehdr), 0, 0, sizeof(Elf64_Shdr), sections, 0};
    image.put(0, header).put(image.sectionAt(0), Elf64_Shdr{});
    image.put(image.sectionAt(1), Elf64_Shdr{0, SHT_STRTAB, 0, 0, stringsAt, stringBytes, 0, 0, 1, 0});
    for (std::size_t i = 2; i < sections; ++i) {
        image.put(image.sectionAt(i), i % 2 ? Elf64_Shdr{0, SHT_DYNAMIC, 0, 0, dynamicAt, entries * 16, 1, 0, 8, 16}
                                            : Elf64_Shdr{0, SHT_SYMTAB, 0, 0, symbolsAt, entries * 24, 1, 0, 8, 24});
    }
    for (std::size_t i = 0; i < entries; ++i)
        image.put(symbolsAt + i * sizeof(Elf64_Sym), Elf64_Sym{}).put(dynamicAt + i * sizeof(Elf64_Dyn), Elf64_Dyn{DT_NEEDED, {0}});

    auto reader = ElfReader::fromHostFile(write(image.bytes));
    ASSERT_TRUE(reader);
    std::size_t symbols = 0;
    reader->forEachSymbol([&symbols](const ElfSymbol& symbol) { symbols += symbol.name.empty(); });
    std::size_t needed = 0;
    reader->forEachDynamicEntry([&needed](const ElfDynamicEntry& entry) {
        needed += entry.value.empty();
        return false;
    });
    // Each walk sees its first table in full, but far from all of them.
    EXPECT_GE(symbols, entries);
    EXPECT_GE(needed, entries);
    EXPECT_LT(symbols + needed, sections * entries / 10);
}

} // namespace
