// The path validator on real packages: where a package may install files,
// and the scan of every packaged file for a hard-coded home directory.

#include "Fixtures.h"
#include "FileValidatorTest.h"
#include "Findings.h"
#include "TestKit.h"
#include "Vetrik.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
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
const std::string Needle = "/home/defaultuser";


std::string notAllowedHere(const std::string& path) { return error("[" + path + "] Installation not allowed in this location"); }
std::string hardcodedPath(const std::string& path) { return error("[" + path + "] Hardcoded path found"); }
std::string badExecutableFormat(const std::string& path)
{
    return error("[" + path + "] Installation not allowed in this location: bad executable format");
}
std::string wrongFormat(const std::string& path) { return error("[" + path + "] Executable has a wrong format or encoding"); }
const std::string DebugContent = error("[debug] Debug symbols or sources must not be included");
const std::string OwnsUsrBin = error("[/usr/bin] Direct package ownership of /usr/bin is disallowed");

class PathTest : public FileValidatorTest {
protected:
    PathTest() : FileValidatorTest(N, "path") {}
};

TEST_F(PathTest, ApplicationLocationsAreAccepted)
{
    TestKit::Package package = application();
    for (const std::string& path : std::vector<std::string>{
             "/usr/share/" + N + "/qml/main.qml",
             // A plain prefix test: the package name need not end there.
             "/usr/share/" + N + "-data/x.txt",
             // Not a launcher size: no other validator takes it.
             "/usr/share/icons/hicolor/64x64/apps/" + N + ".png",
             "/etc/integrityd/config.d/" + N + ".json",
             // Below the organisation's own directory, as the desktop
             // validator demands.
             "/usr/share/common/org.example/shared.txt",
             // The profile's further paths: the manifest and anything in /usr/bin.
             "/manifest.json",
             "/usr/bin/other",
             "/usr/bin/" + N + "-data",
         })
        package.entries.push_back(TestKit::file(path, path == "/manifest.json" ? "{\"minOSVersion\": \"5.0\"}\n" : "{}\n"));
    vetrik.setOsRelease("VERSION_ID=5.0\n");
    package.entries.push_back(TestKit::directory("/usr/libexec/" + N));
    package.entries.push_back(TestKit::file("/usr/libexec/" + N + "/tool", elf(), 0755));
    auto outcome = check(package);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.result.rawErr;
    EXPECT_THAT(outcome.lines, IsEmpty());
}

TEST_F(PathTest, OtherLocationsDependOnTheProfile)
{
    const std::vector<std::string> paths = {
        "/etc/av-launcher/antivirus.desktop",
        "/etc/integrityd/config.d/other.app.json",
        "/etc/trusted-sources/.pem",
        "/etc/trusted-sources/store.pem",
        "/etc/userdata-wiper/override.json",
        "/opt/x",
        "/usr/lib/3rdparty/" + N + "/libx.so.1",
        "/usr/lib/libx.so.1",
        "/usr/libexec/other.app/tool",
        "/usr/share/applications/other.app.desktop",
        "/usr/share/other.app/x",
    };
    TestKit::Package package = application();
    for (const std::string& path : paths)
        package.entries.push_back(TestKit::file(path, "x\n"));
    // What each profile lets the package install beyond the application's
    // own places.
    const std::vector<std::pair<std::string, std::vector<std::string>>> profiles = {
        {"regular", {}},
        {"extended", {"/usr/lib/3rdparty/" + N + "/libx.so.1"}},
        {"auth", {"/etc/userdata-wiper/override.json", "/usr/lib/3rdparty/" + N + "/libx.so.1"}},
        {"antivirus", {"/etc/av-launcher/antivirus.desktop"}},
        {"market", {"/etc/trusted-sources/store.pem"}},
    };
    for (const auto& [profile, accepted] : profiles) {
        std::vector<std::string> expected;
        for (const std::string& path : paths) {
            if (std::find(accepted.begin(), accepted.end(), path) == accepted.end())
                expected.push_back(notAllowedHere(path));
        }
        auto outcome = check(package, profile);
        EXPECT_EQ(outcome.exitCode, 1) << profile;
        EXPECT_THAT(outcome.lines, ElementsAreArray(expected)) << profile;
    }
}

TEST_F(PathTest, UsrBinItselfAndDebugContentAreRefused)
{
    TestKit::Package owner = application();
    owner.entries.push_back(TestKit::directory("/usr/bin"));
    auto outcome = check(owner);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_THAT(outcome.lines, ElementsAre(OwnsUsrBin));

    // Plain prefix tests, so /usr/lib/debugger is debug content too.
    for (const char* path : {"/usr/lib/debug/usr/bin/app.debug", "/usr/src/debug/app/main.cpp", "/usr/lib/debugger/x"}) {
        TestKit::Package package = application();
        package.entries.push_back(TestKit::file(path, "x\n"));
        auto debug = check(package);
        EXPECT_EQ(debug.exitCode, 1) << path;
        EXPECT_THAT(debug.lines, ElementsAre(DebugContent)) << path;
    }

    // The text has no argument: several such files give one line.
    TestKit::Package both = application();
    both.entries.push_back(TestKit::file("/usr/lib/debug/usr/bin/app.debug", "x\n"));
    both.entries.push_back(TestKit::file("/usr/src/debug/app/main.cpp", "x\n"));
    EXPECT_THAT(check(both).lines, ElementsAre(DebugContent));
}

TEST_F(PathTest, HelpersBelowLibexecMustBeElfFiles)
{
    const std::string dir = "/usr/libexec/" + N + "/";
    std::string bigEndian = elf();
    bigEndian.at(5) = 2;
    TestKit::Package package = application();
    package.entries.push_back(TestKit::file(dir + "big-endian", bigEndian, 0644));
    package.entries.push_back(TestKit::symlink(dir + "dirlink", "sub"));
    package.entries.push_back(TestKit::file(dir + "empty", ""));
    package.entries.push_back(TestKit::file(dir + "script", "#!/bin/sh\necho hello\n", 0644));
    package.entries.push_back(TestKit::file(dir + "script-x", "#!/bin/sh\necho hello\n", 0755));
    package.entries.push_back(TestKit::directory(dir + "sub"));
    package.entries.push_back(TestKit::file(dir + "sub/tool", elf(), 0755));
    package.entries.push_back(TestKit::file(dir + "tool", elf(), 0755));
    auto outcome = check(package);
    EXPECT_EQ(outcome.exitCode, 1);
    // The executable validator sees the owner-executable script first. A
    // link to a directory is a directory.
    EXPECT_THAT(outcome.lines, ElementsAre(badExecutableFormat(dir + "big-endian"), badExecutableFormat(dir + "empty"),
                                           badExecutableFormat(dir + "script"), wrongFormat(dir + "script-x"),
                                           badExecutableFormat(dir + "script-x")));
}

TEST_F(PathTest, HardcodedHomeDirectoryIsFoundAnywhereInAFile)
{
    const std::string share = "/usr/share/" + N + "/";
    TestKit::TempDir host{"host", E2E_WORK_DIR};
    TestKit::writeFile(host / "config", "home=" + Needle + "\n");
    const std::vector<std::pair<std::string, std::string>> files = {
        {"a-plain", "prefix " + Needle + "/x suffix\n"},
        // Across the first block boundary, with 1, 9 and 16 of its bytes in
        // the first block.
        {"b-boundary-1", std::string(4095, 'x') + Needle},
        {"b-boundary-9", std::string(4088, 'x') + Needle + std::string(100, 'y')},
        {"b-boundary-16", std::string(4080, 'x') + Needle},
        // Across a later boundary, in a file that does not end on one.
        {"c-third-boundary", std::string(3 * 4096 - 5, 'x') + Needle + std::string(1000, 'y')},
        // At the very end of three megabytes.
        {"d-at-the-end", std::string(3 << 20, 'x') + Needle},
        // Many times: one line.
        {"e-many", Needle + std::string(5000, 'x') + Needle + Needle},
        {"f-almost", std::string(4080, 'x') + "/home/defaultuse" + std::string(5000, 'z') + " home/defaultuser /home/ defaultuser"},
        {"g-binary-bytes", std::string("\0\1\2", 3) + Needle + std::string("\0", 1)},
    };
    TestKit::Package package = application();
    for (const auto& [name, content] : files)
        package.entries.push_back(TestKit::file(share + name, content));
    // Links are followed within the package: an absolute target is the
    // package's own file, never one of this machine.
    package.entries.push_back(TestKit::symlink(share + "h-link", "a-plain"));
    package.entries.push_back(TestKit::symlink(share + "i-host-link", host / "config"));
    package.entries.push_back(TestKit::symlink(share + "j-directory-link", "."));
    package.entries.push_back(TestKit::symlink(share + "k-absolute-link", share + "a-plain"));
    // Refused places are scanned too, after the location rule.
    package.entries.push_back(TestKit::file("/opt/" + N + ".conf", Needle));
    // An ELF file carries it in its read-only data.
    package.entries.push_back(TestKit::file(
        "/usr/libexec/" + N + "/tool",
        elf("#include <stdio.h>\nconst char home[] = \"" + Needle + "/.config\";\nint main(void) { puts(home); return 0; }\n"),
        0755));

    auto outcome = check(package);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_THAT(outcome.lines,
                ElementsAre(notAllowedHere("/opt/" + N + ".conf"), hardcodedPath("/opt/" + N + ".conf"),
                            hardcodedPath("/usr/libexec/" + N + "/tool"), hardcodedPath(share + "a-plain"),
                            hardcodedPath(share + "b-boundary-1"), hardcodedPath(share + "b-boundary-16"),
                            hardcodedPath(share + "b-boundary-9"), hardcodedPath(share + "c-third-boundary"),
                            hardcodedPath(share + "d-at-the-end"), hardcodedPath(share + "e-many"),
                            hardcodedPath(share + "g-binary-bytes"), hardcodedPath(share + "h-link"),
                            hardcodedPath(share + "k-absolute-link")));

    // The same package without the needle passes.
    TestKit::Package clean = application();
    clean.entries.push_back(TestKit::file(share + "f-almost", files[7].second));
    clean.entries.push_back(TestKit::file(share + "big", std::string(3 << 20, 'x')));
    auto cleanOutcome = check(clean);
    EXPECT_EQ(cleanOutcome.exitCode, 0) << cleanOutcome.result.rawErr;
    EXPECT_THAT(cleanOutcome.lines, IsEmpty());
}

TEST_F(PathTest, SpecialFilesAreNeverRead)
{
    const std::string share = "/usr/share/" + N + "/";
    const std::string libexec = "/usr/libexec/" + N + "/";
    TestKit::Package package = application();
    package.entries.push_back(TestKit::symlink(share + "zero", "/dev/zero"));
    package.entries.push_back(TestKit::symlink(share + "urandom", "/dev/urandom"));
    package.entries.push_back(TestKit::symlink(share + "stdin", "/dev/stdin"));
    package.entries.push_back(TestKit::fifo(share + "fifo"));
    // Files of the kernel that say they are empty: one never ends, the
    // other would give this run's own environment.
    package.entries.push_back(TestKit::symlink(share + "pagemap", "/proc/self/pagemap"));
    package.entries.push_back(TestKit::symlink(share + "environ", "/proc/self/environ"));
    package.entries.push_back(TestKit::symlink(libexec + "zero", "/dev/zero"));
    package.entries.push_back(TestKit::fifo(libexec + "fifo", 0755));

    TestKit::RunOptions options;
    options.timeoutSeconds = 60;
    options.env = {{"HOME", Needle}};
    std::string input;
    while (input.size() < (16 << 10))
        input += Needle + "\n";
    options.standardInput = input;
    auto outcome = check(package, "regular", options);
    EXPECT_FALSE(outcome.result.run.timedOut);
    EXPECT_LT(outcome.result.run.maxRssKiB, 100 * 1024);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_THAT(outcome.lines, ElementsAre(badExecutableFormat(libexec + "fifo"), badExecutableFormat(libexec + "zero")));
}

} // namespace
