// The executable validator on real packages with ELF files compiled here:
// format and byte order, location, needed libraries, run paths, the symbols
// the launcher relies on, QML imports in read-only data and the final step.

#include "Fixtures.h"
#include "FileValidatorTest.h"
#include "Findings.h"
#include "TestKit.h"
#include "Vetrik.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <vector>

using ::testing::ElementsAre;
using TestKit::critical;
using TestKit::error;
using TestKit::info;
using TestKit::warning;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

const std::string N = "org.example.app";
const std::string Main = "/usr/bin/" + N;


const std::string NoLibcStartMain = error("[binary] Binary does not link to __libc_start_main");
const std::string MainNotExported = warning("[binary] Binary does not export main() symbol - booster might fail");
const std::string MainMustBeExported =
    error("[binary] Binary must export main() symbol for booster to work (Q_DECL_EXPORT)");
const std::string RpathEmpty = warning("[rpath] The rpath in binary is empty");
const std::string RpathNotAllowed = warning("[rpath] This rpath in binary is not allowed");
const std::string RpathMissing = error("[rpath] Rpath is missing where it is mandatory");
const std::string MainBinaryMissing = error("[binary] Main binary must exist, but it is not found");
const std::string ArchContentInNoarch = warning("[arch] RPMs containing arch-specific content should not be noarch");
const std::string MainNotExecutable = error("[binary] Main binary must be an executable");
std::string wrongFormat(const std::string& path) { return error("[" + path + "] Executable has a wrong format or encoding"); }
std::string wrongLocation(const std::string& path) { return error("[" + path + "] Executable is in wrong location"); }
std::string unstableLibrary(const std::string& name) { return warning("[" + name + "] Library is unstable or deprecated"); }
std::string libraryNotAllowed(const std::string& name) { return error("[" + name + "] Library is not allowed"); }
std::string onlyAllowedImports(const std::string& import) { return info("[" + import + "] Beware only allowed imports can be used"); }
std::string badExecutableFormat(const std::string& path)
{
    return error("[" + path + "] Installation not allowed in this location: bad executable format");
}

// A program whose read-only data holds `text`.
std::string programWithData(const std::string& text)
{
    std::string literal;
    for (char c : text)
        literal += c == '\n' ? std::string("\\n") : c == '"' ? std::string("\\\"") : std::string(1, c);
    return "#include <stdio.h>\nconst char data[] = \"" + literal + "\";\nint main(void) { puts(data); return 0; }\n";
}

// Big-endian by its header's data-encoding byte, the rest unchanged.
std::string bigEndian(std::string elf)
{
    elf.at(5) = 2;
    return elf;
}

class ExecutableTest : public FileValidatorTest {
protected:
    ExecutableTest() : FileValidatorTest(N, "executable") {}

    // A main executable: `flags` after a run path into the package.
    std::string mainBinary(const std::vector<std::string>& flags, const std::string& source = Hello)
    {
        std::vector<std::string> all = {"-Wl,--disable-new-dtags", "-Wl,-rpath,/usr/share/" + N + "/lib"};
        all.insert(all.end(), flags.begin(), flags.end());
        return elf(source, all);
    }

    // A shared library with the given soname; returns its path for linking.
    std::string sharedLibrary(const std::string& soname)
    {
        const int number = nextCompileNumber();
        const std::string output = work / ("so" + std::to_string(number) + "-" + soname);
        TestKit::compileC("int function" + std::to_string(number) + "(void) { return 1; }\n", output,
                          {"-shared", "-fPIC", "-Wl,-soname," + soname});
        return output;
    }

    // A main executable needing `libraries` in their order, with `flags`.
    std::string needing(const std::vector<std::string>& libraries, std::vector<std::string> flags)
    {
        flags.push_back("-Wl,--no-as-needed");
        for (const std::string& library : libraries)
            flags.push_back(sharedLibrary(library));
        return elf(Hello, flags);
    }

    static void setMain(TestKit::Package& package, const std::string& bytes, unsigned mode = 0755)
    {
        for (TestKit::Entry& entry : package.entries) {
            if (entry.path == Main) {
                entry = TestKit::file(Main, bytes, mode);
                return;
            }
        }
        package.entries.push_back(TestKit::file(Main, bytes, mode));
    }

    static void removeMain(TestKit::Package& package)
    {
        std::erase_if(package.entries, [](const TestKit::Entry& entry) { return entry.path == Main; });
    }

    // A web application's desktop file starts the browser.
    static void runsTheBrowser(TestKit::Package& package)
    {
        TestKit::setDesktopFile(package, TestKit::validDesktopFile(N, TestKit::browserCommand));
    }

};

TEST_F(ExecutableTest, MainBinaryMustExistAsAnExecutableElfFile)
{
    struct Case {
        const char* what;
        std::function<void(TestKit::Package&)> change;
        std::vector<std::string> lines;
    };
    const std::string script = "#!/bin/sh\necho hello\n";
    const std::vector<Case> cases = {
        {"no main executable", [&](TestKit::Package& p) { removeMain(p); },
         {MainBinaryMissing, MainNotExecutable, RpathEmpty}},
        // Without a reader the file is never examined as the main executable.
        {"a shell script", [&](TestKit::Package& p) { setMain(p, script); },
         {wrongFormat(Main), MainBinaryMissing, MainNotExecutable, RpathEmpty}},
        {"an ELF file without the owner-execute bit", [&](TestKit::Package& p) { setMain(p, mainBinary({"-rdynamic"}), 0644); },
         {MainNotExecutable}},
        // An executable whose path contains /usr/bin/N counts as the one in
        // the right place, though it is not the main executable.
        {"only a helper named after the package",
         [&](TestKit::Package& p) {
             removeMain(p);
             p.entries.push_back(TestKit::file(Main + "-helper", mainBinary({"-s"}), 0755));
         },
         {MainBinaryMissing, RpathEmpty}},
    };
    for (const Case& c : cases) {
        TestKit::Package package = application();
        c.change(package);
        auto outcome = check(package);
        EXPECT_EQ(outcome.exitCode, 1) << c.what;
        EXPECT_THAT(outcome.lines, ElementsAreArray(c.lines)) << c.what;
    }
}

TEST_F(ExecutableTest, BigEndianMainBinaryHasAWrongEncoding)
{
    TestKit::Package package = application();
    setMain(package, bigEndian(mainBinary({"-rdynamic"})));
    auto outcome = check(package);
    EXPECT_EQ(outcome.exitCode, 1);
    // The reader opens it, so it is examined as the main executable, but its
    // fields read in the wrong byte order yield no symbol and no run path.
    EXPECT_THAT(outcome.lines, ElementsAre(wrongFormat(Main), MainNotExecutable, NoLibcStartMain, MainNotExported,
                                           RpathEmpty));
}

TEST_F(ExecutableTest, OnlyOwnerExecutableFilesAreExaminedAndMustBeInTheirPlaces)
{
    const std::string tool = elf(Hello);
    const std::string share = "/usr/share/" + N + "/";
    TestKit::Package package = application();
    package.entries.push_back(TestKit::file(share + "be-tool", bigEndian(tool), 0755));
    package.entries.push_back(TestKit::file(share + "libtool.so.1", elf(Hello, {"-shared", "-fPIC"}), 0755));
    package.entries.push_back(TestKit::file(share + "script.sh", "#!/bin/sh\n", 0755));
    package.entries.push_back(TestKit::file(share + "tool", tool, 0755));
    package.entries.push_back(TestKit::file(share + "tool-not-executable", tool, 0644));
    package.entries.push_back(TestKit::file(share + "tool-group-and-other", tool, 0655));
    package.entries.push_back(TestKit::file("/usr/libexec/" + N + "/tool", tool, 0755));
    auto outcome = check(package);
    EXPECT_EQ(outcome.exitCode, 1);
    // Header order: /usr/libexec/... comes before /usr/share/...
    EXPECT_THAT(outcome.lines,
                ElementsAre(wrongFormat(share + "be-tool"), wrongFormat(share + "script.sh"), wrongLocation(share + "tool")));
}

// rpmbuild refuses ELF files in a noarch package unless its macros say
// otherwise. It reads them from ~/.rpmmacros, so HOME names a directory that
// holds such a file while the object lives.
class BinariesInNoarchPackages {
public:
    explicit BinariesInNoarchPackages(const std::string& home)
    {
        TestKit::writeFile(home + "/.rpmmacros", "%_binaries_in_noarch_packages_terminate_build 0\n");
        if (const char* previous = std::getenv("HOME"))
            m_previous = previous;
        ::setenv("HOME", home.c_str(), 1);
    }
    ~BinariesInNoarchPackages()
    {
        if (m_previous)
            ::setenv("HOME", m_previous->c_str(), 1);
        else
            ::unsetenv("HOME");
    }
    BinariesInNoarchPackages(const BinariesInNoarchPackages&) = delete;
    BinariesInNoarchPackages& operator=(const BinariesInNoarchPackages&) = delete;

private:
    std::optional<std::string> m_previous;
};

TEST_F(ExecutableTest, ArchitectureSpecificContentInANoarchPackageIsReportedOnce)
{
    BinariesInNoarchPackages allowed(work / "home");
    TestKit::Package package = application();
    package.noarch = true;
    package.entries.push_back(TestKit::file("/usr/libexec/" + N + "/tool", elf(Hello), 0755));
    auto outcome = check(package);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.result.rawErr;
    EXPECT_THAT(outcome.lines, ElementsAre(ArchContentInNoarch));

    // A noarch package whose only executable is not valid ELF has no
    // architecture-specific content.
    TestKit::Package invalid = application();
    invalid.noarch = true;
    setMain(invalid, bigEndian(mainBinary({"-rdynamic"})));
    EXPECT_THAT(check(invalid).lines,
                ElementsAre(wrongFormat(Main), MainNotExecutable, NoLibcStartMain, MainNotExported, RpathEmpty));
}

TEST_F(ExecutableTest, MainBinaryMustLinkTheStartRoutineAndExportMain)
{
    const std::string noStartFiles =
        "#include <unistd.h>\nint main(void) { return 0; }\nvoid _start(void) { _exit(main()); }\n";
    const std::string varnel = programWithData("import Pelora.Varnel 1.0\n");
    struct Case {
        const char* what;
        std::string binary;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {"exported main", mainBinary({"-rdynamic"}), {}},
        {"exported main, stripped", mainBinary({"-rdynamic", "-s"}), {}},
        // The symbol table still names main.
        {"main not exported, not stripped", mainBinary({}), {}},
        {"hidden main, not stripped", mainBinary({"-rdynamic", "-fvisibility=hidden"}), {}},
        {"main not exported, stripped", mainBinary({"-s"}), {MainNotExported}},
        {"hidden main, stripped", mainBinary({"-rdynamic", "-fvisibility=hidden", "-s"}), {MainNotExported}},
        {"no start files", mainBinary({"-nostartfiles", "-rdynamic"}, noStartFiles), {NoLibcStartMain}},
        {"no start files, stripped", mainBinary({"-nostartfiles", "-s"}, noStartFiles), {NoLibcStartMain, MainNotExported}},
        {"main not exported, imports the toolkit", mainBinary({"-s"}, varnel), {MainMustBeExported}},
        // No symbol table at all: no other symbol either, so the toolkit
        // import does not make it an error.
        {"static, stripped, imports the toolkit", elf(varnel, {"-static", "-s"}),
         {NoLibcStartMain, MainNotExported, RpathEmpty}},
    };
    for (const Case& c : cases) {
        TestKit::Package package = application();
        setMain(package, c.binary);
        auto outcome = check(package);
        EXPECT_THAT(outcome.lines, ElementsAreArray(c.lines)) << c.what;
        const bool failing = std::any_of(c.lines.begin(), c.lines.end(),
                                         [](const std::string& line) { return line.starts_with("(ERROR)"); });
        EXPECT_EQ(outcome.exitCode, failing ? 1 : 0) << c.what;
    }

    // The toolkit import may come from any executable of the package.
    TestKit::Package package = application();
    setMain(package, mainBinary({"-s"}));
    package.entries.push_back(TestKit::file("/usr/libexec/" + N + "/tool", elf(varnel), 0755));
    EXPECT_THAT(check(package).lines, ElementsAre(MainMustBeExported));
}

TEST_F(ExecutableTest, NeededLibrariesMustBeAllowed)
{
    const std::vector<std::string> rpath = {"-Wl,--disable-new-dtags", "-Wl,-rpath,/usr/share/" + N + "/lib", "-rdynamic"};
    TestKit::Package package = application();
    setMain(package, needing({"libzzz.so.1", "libpng15.so.15", "libaaa.so.1", "libpcsclite.so.1", "libQt5Core.so.5",
                              "libQt5WebEngineCore.so.5", "libz.so.1", "libzzz.so.1.2", "libQt5Core.so.5(Qt_5_PRIVATE_API)"},
                             rpath));
    auto outcome = check(package);
    EXPECT_EQ(outcome.exitCode, 1);
    // Unstable and deprecated ones in the order of the dynamic section, then
    // the refused ones sorted.
    EXPECT_THAT(outcome.lines,
                ElementsAre(unstableLibrary("libpng15.so.15"), unstableLibrary("libpcsclite.so.1"),
                            unstableLibrary("libQt5WebEngineCore.so.5"),
                            libraryNotAllowed("libQt5Core.so.5(Qt_5_PRIVATE_API)"), libraryNotAllowed("libaaa.so.1"),
                            libraryNotAllowed("libzzz.so.1"), libraryNotAllowed("libzzz.so.1.2")));

    // Only the main executable's libraries are examined.
    TestKit::Package helper = application();
    helper.entries.push_back(TestKit::file("/usr/libexec/" + N + "/tool", needing({"libzzz.so.1"}, {}), 0755));
    auto helperOutcome = check(helper);
    EXPECT_EQ(helperOutcome.exitCode, 0);
    EXPECT_THAT(helperOutcome.lines, IsEmpty());

    // Only warnings: the run passes.
    TestKit::Package unstable = application();
    setMain(unstable, needing({"libpcsclite.so.1"}, rpath));
    auto unstableOutcome = check(unstable);
    EXPECT_EQ(unstableOutcome.exitCode, 0);
    EXPECT_THAT(unstableOutcome.lines, ElementsAre(unstableLibrary("libpcsclite.so.1")));
}

TEST_F(ExecutableTest, LibraryListsComeFromTheProfile)
{
    const std::vector<std::string> rpath = {"-Wl,--disable-new-dtags", "-Wl,-rpath,/usr/share/" + N + "/lib", "-rdynamic"};
    TestKit::Package package = application();
    setMain(package, needing({"libbrevanelog.so.1", "libpeloramdm.so.0"}, rpath));
    EXPECT_THAT(check(package, "regular").lines,
                ElementsAre(libraryNotAllowed("libbrevanelog.so.1"), libraryNotAllowed("libpeloramdm.so.0")));
    EXPECT_THAT(check(package, "extended").lines, ElementsAre(libraryNotAllowed("libpeloramdm.so.0")));
    // The device-management profile wants its marker as a provide and a
    // conflict.
    package.provides = {"mdm-client"};
    package.conflicts = {"mdm-client"};
    EXPECT_THAT(check(package, "mdm").lines, ElementsAre(unstableLibrary("libpeloramdm.so.0")));
}

TEST_F(ExecutableTest, LibrariesThePackageShipsAreAllowedInTheirPlaces)
{
    const std::string share = "/usr/share/" + N + "/";
    const std::string thirdParty = "/usr/lib/3rdparty/" + N + "/";
    // Needed name, where the package ships it. The stem of a QML plugin is
    // the name less "lib" and less a final ".so".
    const std::vector<std::pair<std::string, std::string>> shipped = {
        {"libc1.so.1", share + "lib/libc1.so.1"},
        {"libc2.so.1", share + "libs/libc2.so.1"},
        {"libc3.so", share + "lib/qmlplugins/c3/libc3.so"},
        {"libc4.so.2", share + "libs/qmlplugins/c4.so.2/libc4.so.2"},
        {"libc5.so.1", thirdParty + "libc5.so.1"},
        {"libc6.so.1", thirdParty + "lib/libc6.so.1"},
        {"c7.so", thirdParty + "qmlplugins/c7/c7.so"},
        {"libc8.so", thirdParty + "lib/qmlplugins/c8/libc8.so"},
    };
    const std::vector<std::pair<std::string, std::string>> elsewhere = {
        {"libm1.so.1", share + "lib/sub/libm1.so.1"},
        {"libm2.so", share + "lib/qmlplugins/libm2/libm2.so"},
        {"libm3.so.1", share + "libm3.so.1"},
        {"libm4.so.1", "/usr/lib/3rdparty/other.app/libm4.so.1"},
    };
    std::vector<std::string> needed;
    TestKit::Package package = application();
    for (const auto& list : {shipped, elsewhere}) {
        for (const auto& [library, path] : list) {
            needed.push_back(library);
            package.entries.push_back(TestKit::file(path, "a library\n"));
        }
    }
    setMain(package, needing(needed, {"-Wl,--disable-new-dtags", "-Wl,-rpath,/usr/share/" + N + "/lib", "-rdynamic"}));
    // Run under a profile that lets the package install below /usr/lib/3rdparty.
    auto outcome = check(package, "extended");
    EXPECT_THAT(outcome.lines, ElementsAre(libraryNotAllowed("libm1.so.1"), libraryNotAllowed("libm2.so"),
                                           libraryNotAllowed("libm3.so.1"), libraryNotAllowed("libm4.so.1")));
}

TEST_F(ExecutableTest, ShippedLibrariesMakeTheRunPathMandatory)
{
    const std::string shippedAt = "/usr/share/" + N + "/lib/libfoo.so.1";
    struct Case {
        const char* what;
        std::vector<std::string> libraries;
        std::vector<std::string> flags;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {"shipped, allowed DT_RPATH", {"libfoo.so.1"}, {"-Wl,--disable-new-dtags", "-Wl,-rpath,/usr/share/" + N + "/lib"}, {}},
        {"shipped, no run path", {"libfoo.so.1"}, {}, {RpathEmpty, RpathMissing}},
        {"shipped, allowed DT_RUNPATH only", {"libfoo.so.1"}, {"-Wl,--enable-new-dtags", "-Wl,-rpath,/usr/share/" + N + "/lib"},
         {RpathEmpty, RpathMissing}},
        {"shipped, refused DT_RPATH", {"libfoo.so.1"}, {"-Wl,--disable-new-dtags", "-Wl,-rpath,/opt/x"}, {RpathNotAllowed}},
        {"not shipped, no run path", {"libbar.so.1"}, {}, {libraryNotAllowed("libbar.so.1"), RpathEmpty}},
        {"no library, no run path", {}, {}, {RpathEmpty}},
    };
    for (const Case& c : cases) {
        TestKit::Package package = application();
        package.entries.push_back(TestKit::file(shippedAt, "a library\n"));
        std::vector<std::string> flags = c.flags;
        flags.push_back("-rdynamic");
        setMain(package, needing(c.libraries, flags));
        auto outcome = check(package);
        EXPECT_THAT(outcome.lines, ElementsAreArray(c.lines)) << c.what;
        const bool failing = std::any_of(c.lines.begin(), c.lines.end(),
                                         [](const std::string& line) { return line.starts_with("(ERROR)"); });
        EXPECT_EQ(outcome.exitCode, failing ? 1 : 0) << c.what;
    }
}

TEST_F(ExecutableTest, RunPathElementsMustLeadIntoThePackageOrTheSystemLibraries)
{
    struct Case {
        std::string rpath;
        bool allowed;
    };
    const std::vector<Case> cases = {
        {"$ORIGIN/../share/" + N + "/lib", true},
        {"$ORIGIN/../share/" + N + "/lib/sub", true},
        {"/usr/share/" + N + "/lib:/usr/share/" + N + "/libs:/usr/lib/3rdparty/" + N + ":/usr/lib:/usr/lib64", true},
        {"/usr/share/" + N + "/libs/x:/usr/lib/3rdparty/" + N + "/y/z:/usr/lib64/a/", true},
        // Empty elements are skipped and white space around elements is not
        // part of them.
        {" /usr/lib ::\t/usr/share/" + N + "/lib : ", true},
        {"/usr/lib/..hidden", true},
        {"/usr/share/" + N + "/lib:/opt/x", false},
        {"/usr/libx", false},
        {"/usr/share/" + N + "/library", false},
        {"$ORIGIN/../share/" + N + "/lib2", false},
        // Everything below /usr/lib is.
        {"/usr/lib/3rdparty/other.app", true},
        {"/usr/share/other.app/lib", false},
        {"$ORIGIN", false},
        // A ".." step leaves the directory the element starts with.
        {"/usr/lib/../../tmp", false},
        {"$ORIGIN/../share/" + N + "/lib/../../../../tmp", false},
        {"/usr/share/" + N + "/lib/..", false},
    };
    for (const Case& c : cases) {
        TestKit::Package package = application();
        setMain(package, elf(Hello, {"-rdynamic", "-Wl,--disable-new-dtags", "-Wl,-rpath," + c.rpath}));
        auto outcome = check(package);
        // The warning alone never fails the run.
        EXPECT_EQ(outcome.exitCode, 0) << c.rpath;
        if (c.allowed)
            EXPECT_THAT(outcome.lines, IsEmpty()) << c.rpath;
        else
            EXPECT_THAT(outcome.lines, ElementsAre(RpathNotAllowed)) << c.rpath;
    }

    // Only the main executable's run path is examined.
    TestKit::Package package = application();
    package.entries.push_back(TestKit::file("/usr/libexec/" + N + "/tool",
                                            elf(Hello, {"-Wl,--disable-new-dtags", "-Wl,-rpath,/opt/x"}), 0755));
    EXPECT_THAT(check(package).lines, IsEmpty());
}

TEST_F(ExecutableTest, QmlImportsInReadOnlyDataAreListed)
{
    // Each line from an occurrence of "import" to the next newline; its
    // second word is the module and its third the version, which must be
    // digits, one dot, digits.
    const std::string lines = "import QtQuick 2.6\n"
                              "import QtQuick 2.7\n"
                              "import A.One 1\n"
                              "import A.Two 1.0.1\n"
                              "import A.Three v1.0\n"
                              "import A.Four 1.15\n"
                              "import A.Five 10.0 as Five\n"
                              "import A.Six\n"
                              "ximport A.Seven 3.0\n"
                              "import A.Four 1.15\n"
                              "import   A.Eight\t\t2.0  \n"
                              "importA.Nine 1.0 2.0\n"
                              "import A.Ten 2.x\n"
                              "import Pelora.Varnel 1.0\n";
    TestKit::Package package = application();
    setMain(package, mainBinary({"-rdynamic"}, programWithData(lines)));
    auto outcome = check(package);
    // Information only: the run passes.
    EXPECT_EQ(outcome.exitCode, 0) << outcome.result.rawErr;
    EXPECT_THAT(outcome.lines, ElementsAre(onlyAllowedImports("1.0 2.0"), onlyAllowedImports("A.Eight 2.0"),
                                           onlyAllowedImports("A.Five 10.0"), onlyAllowedImports("A.Four 1.15"),
                                           onlyAllowedImports("A.Seven 3.0"), onlyAllowedImports("QtQuick 2.7")));

    // The toolkit import found there counts as one in a QML file: with
    // another application type in the desktop file, the run ends with the
    // QML imports validator's warning.
    std::string desktop = TestKit::validDesktopFile(N);
    const std::string declared = "X-Olvex-Application-Type=varnel-qt5\n";
    desktop.replace(desktop.find(declared), declared.size(), "X-Olvex-Application-Type=qt5\n");
    TestKit::setDesktopFile(package, desktop);
    outcome = check(package);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.result.rawErr;
    EXPECT_EQ(outcome.lines.back(),
              warning("[desktop] X-Olvex-Application-Type should be varnel-qt5 for apps importing Pelora.Varnel in QML"));

    // Every executable is scanned, not only the main one. The read-only data
    // of this one is exactly what the assembler puts there: the last line
    // has no newline before the end of the section, and does not count.
    const std::string bare = "__asm__(\".section .rodata\\n.ascii \\\"import A.Ok 2.0\\\\nimport A.Cut 3.0\\\"\\n.text\\n\");\n"
                             "void _start(void) { for (;;) {} }\n";
    TestKit::Package helper = application();
    helper.entries.push_back(
        TestKit::file("/usr/libexec/" + N + "/tool", elf(bare, {"-nostdlib", "-nostartfiles", "-static"}), 0755));
    helper.entries.push_back(TestKit::file("/usr/libexec/" + N + "/again", elf(bare, {"-nostdlib", "-nostartfiles", "-static"}), 0755));
    EXPECT_THAT(check(helper).lines, ElementsAre(onlyAllowedImports("A.Ok 2.0")));
}

TEST_F(ExecutableTest, HostileReadOnlyDataIsScannedInOnePass)
{
    // Hundreds of thousands of "import" on one line, and a version word of
    // a million digits: neither may take more than one pass, nor recurse
    // per byte.
    const std::string imports = "#include <stdio.h>\n"
                                "__asm__(\".section .rodata\\n.rept 400000\\n.ascii \\\"import\\\"\\n.endr\\n"
                                ".ascii \\\"\\\\n\\\"\\n.text\\n\");\n"
                                "int main(void) { puts(\"x\"); return 0; }\n";
    const std::string digits = "#include <stdio.h>\n"
                               "__asm__(\".section .rodata\\n.ascii \\\"import A.B \\\"\\n.rept 1000000\\n.ascii \\\"1\\\"\\n"
                               ".endr\\n.ascii \\\"\\\\n\\\"\\n.text\\n\");\n"
                               "int main(void) { puts(\"x\"); return 0; }\n";
    for (const std::string& source : {imports, digits}) {
        TestKit::Package package = application();
        setMain(package, mainBinary({"-rdynamic"}, source));
        TestKit::RunOptions options;
        options.timeoutSeconds = 60;
        auto outcome = check(package, "regular", options);
        EXPECT_FALSE(outcome.result.run.timedOut);
        EXPECT_EQ(outcome.result.run.signal, 0);
        EXPECT_EQ(outcome.exitCode, 0) << outcome.result.rawErr;
        EXPECT_THAT(outcome.lines, IsEmpty());
    }
}

TEST_F(ExecutableTest, FinalStepIsSkippedUnderThePwaProfile)
{
    TestKit::Package missing = application();
    removeMain(missing);
    EXPECT_THAT(check(missing, "regular").lines, ElementsAre(MainBinaryMissing, MainNotExecutable, RpathEmpty));
    runsTheBrowser(missing);
    auto pwa = check(missing, "pwa");
    EXPECT_EQ(pwa.exitCode, 0);
    EXPECT_THAT(pwa.lines, IsEmpty());

    TestKit::Package stripped = application();
    setMain(stripped, elf(Hello, {"-nostartfiles", "-s"}));
    runsTheBrowser(stripped);
    EXPECT_THAT(check(stripped, "pwa").lines, IsEmpty());

    // Findings about single files still come.
    TestKit::Package misplaced = application();
    misplaced.entries.push_back(TestKit::file("/usr/share/" + N + "/tool", elf(Hello), 0755));
    runsTheBrowser(misplaced);
    EXPECT_THAT(check(misplaced, "pwa").lines, ElementsAre(wrongLocation("/usr/share/" + N + "/tool")));
}

TEST_F(ExecutableTest, MainBinaryThatIsNoRegularFileIsNeverRead)
{
    std::vector<TestKit::Entry> mains = {TestKit::symlink(Main, "/dev/zero"), TestKit::symlink(Main, "/dev/stdin"),
                                         TestKit::fifo(Main, 0755)};
    for (const TestKit::Entry& entry : mains) {
        TestKit::Package package = application();
        removeMain(package);
        package.entries.push_back(entry);
        // A helper in the place of executables that is one too.
        package.entries.push_back(TestKit::symlink("/usr/libexec/" + N + "/zero", "/dev/zero"));
        TestKit::RunOptions options;
        options.timeoutSeconds = 60;
        // What /dev/stdin would give if it were read: an ELF file.
        options.standardInput = mainBinary({"-rdynamic"});
        auto outcome = check(package, "regular", options);
        EXPECT_FALSE(outcome.result.run.timedOut) << entry.target;
        EXPECT_LT(outcome.result.run.maxRssKiB, 100 * 1024) << entry.target;
        std::vector<std::string> expected = {wrongFormat(Main), badExecutableFormat("/usr/libexec/" + N + "/zero"),
                                             MainBinaryMissing, MainNotExecutable, RpathEmpty};
        EXPECT_THAT(outcome.lines, ElementsAreArray(expected)) << entry.target;
    }
}

} // namespace
