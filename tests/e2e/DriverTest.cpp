// The vetrik command line and the per-package run, on real packages.

#include "DriverFixture.h"
#include "Fixtures.h"
#include "TestKit.h"
#include "Vetrik.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;
using TestKit::Vetrik;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const std::string kColorLine = "Incorrect or empty color mode name, using \"auto\"...";
const std::string kProfileFallback = "Incorrect or empty profile name, trying to get profile from certificate...";
const std::string kCertificateFallback = "Incorrect certificate, falling back to \"regular\" profile...";


class DriverTest : public TestKit::DriverFixture {
};

TEST_F(DriverTest, SuitesPrintsTheProfileListAndValidatesNothing)
{
    const std::string package = build(cleanPackage());
    for (auto arguments : {std::vector<std::string>{"--suites"}, std::vector<std::string>{"-s", package}}) {
        auto result = vetrik(arguments);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_THAT(result.out, ElementsAre("regular, extended, mdm, antivirus, auth, market, systemapp, pwa"));
        EXPECT_THAT(result.findings, IsEmpty());
    }
}

TEST_F(DriverTest, NoPackageShowsHelpAndFails)
{
    auto result = vetrik({});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.run.out.find("Target package for validation."), std::string::npos) << result.run.out;
    // The profile option's help lists every profile, one per line.
    std::vector<std::string> profileHelp;
    bool inProfileHelp = false;
    for (std::string line : result.out) {
        line.erase(0, line.find_first_not_of(' '));
        // The help column moves with the longest option; one gap is enough.
        if (const auto gap = line.find("   "); gap != std::string::npos)
            line.replace(gap, line.find_first_not_of(' ', gap) - gap, "  ");
        if (line.starts_with("-p, --profile"))
            inProfileHelp = true;
        else if (line.starts_with("-"))
            inProfileHelp = inProfileHelp && line.starts_with("- ");
        if (inProfileHelp)
            profileHelp.push_back(line);
    }
    EXPECT_THAT(profileHelp, ElementsAre("-p, --profile <profile>  Choose profile for validation.", "- regular",
                                         "- extended", "- mdm", "- antivirus", "- auth", "- market", "- systemapp",
                                         "- pwa"))
        << result.run.out;
}

TEST_F(DriverTest, VersionAndHelp)
{
    auto version = vetrik({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_THAT(version.out, ElementsAre("vetrik-tool unknown"));
    EXPECT_EQ(vetrik({"--help"}).exitCode, 0);
}

TEST_F(DriverTest, CleanPackagePassesSilently)
{
    auto result = vetrik({"--color", "never", "-p", "regular", build(cleanPackage())});
    EXPECT_EQ(result.exitCode, 0) << result.rawErr;
    ASSERT_EQ(result.out.size(), 1u);
    EXPECT_EQ(result.out[0].rfind("Processing ", 0), 0u);
    EXPECT_THAT(result.findings, IsEmpty());
}

TEST_F(DriverTest, ColourModeLineOncePerRun)
{
    const std::string package = build(cleanPackage());
    auto absent = vetrik({"-p", "regular", package, package});
    EXPECT_EQ(absent.exitCode, 0);
    EXPECT_THAT(absent.findings, ElementsAre(kColorLine));
    auto unknown = vetrik({"--color", "Always", "-p", "regular", package});
    EXPECT_THAT(unknown.findings, ElementsAre(kColorLine));
    for (const char* mode : {"always", "never", "auto"})
        EXPECT_THAT(vetrik({"--color", mode, "-p", "regular", package}).findings, IsEmpty()) << mode;
}

TEST_F(DriverTest, ColourOfTheSeverityTags)
{
    TestKit::Package misplaced = cleanPackage();
    misplaced.entries.push_back(TestKit::file("/opt/stray", "x"));
    const std::string package = build(misplaced);
    const std::string plain = "(ERROR)\t\t[/opt/stray] Installation not allowed in this location";
    const std::string coloured = "\033[31m(ERROR)\t\t\033[m[/opt/stray] Installation not allowed in this location";

    auto always = vetrik({"--color", "always", "-p", "regular", package});
    EXPECT_EQ(always.exitCode, 1);
    EXPECT_THAT(always.findings, ElementsAre(coloured));
    for (const char* mode : {"never", "auto"})
        EXPECT_THAT(vetrik({"--color", mode, "-p", "regular", package}).findings, ElementsAre(plain)) << mode;

    // On a terminal, auto colours and never does not. script(1) gives the
    // run a pseudo-terminal for both output streams.
    TestKit::RunOptions withRoot;
    withRoot.env = {{"KVD_ROOT_FS", vetrik.root()}};
    for (const auto& [mode, expected] : {std::pair<std::string, std::string>{"auto", coloured}, {"never", plain}}) {
        auto onTerminal = TestKit::run(
            {"script", "-qec", "'" + Vetrik::path() + "' --color " + mode + " -p regular '" + package + "'", "/dev/null"},
            withRoot);
        EXPECT_EQ(onTerminal.exitCode, 1) << onTerminal.out;
        EXPECT_NE(onTerminal.out.find(expected + "\r\n"), std::string::npos) << mode << ": " << onTerminal.out;
    }
}

TEST_F(DriverTest, ProfileNamesAreExactAndAllEightAccepted)
{
    const std::string package = build(cleanPackage());
    // An mdm client must carry its marker both as a provide and a conflict.
    TestKit::Package mdmClient = cleanPackage();
    mdmClient.release = "2";
    mdmClient.provides = {"mdm-client"};
    mdmClient.conflicts = {"mdm-client"};
    const std::string mdmPackage = build(mdmClient);
    // A web application's desktop file starts the browser.
    TestKit::Package webApplication = cleanPackage();
    webApplication.release = "3";
    TestKit::setDesktopFile(webApplication, TestKit::validDesktopFile(webApplication.name, TestKit::browserCommand));
    const std::string webPackage = build(webApplication);
    for (const char* name : {"regular", "extended", "mdm", "antivirus", "auth", "market", "systemapp", "pwa"}) {
        const std::string profile = name;
        auto result = vetrik({"--color", "never", "-p", name,
                              profile == "mdm" ? mdmPackage : profile == "pwa" ? webPackage : package});
        EXPECT_EQ(result.exitCode, 0) << name;
        EXPECT_THAT(result.findings, IsEmpty()) << name;
    }
    // A name that is not exactly a profile name, and no name at all, fall
    // back to the certificate: the package is unsigned, so to "regular".
    // The choice is made again for every package.
    for (auto arguments : {std::vector<std::string>{"-p", "Regular", package, package},
                           std::vector<std::string>{package, package}}) {
        arguments.insert(arguments.begin(), {"--color", "never"});
        auto result = vetrik(arguments);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_THAT(result.findings,
                    ElementsAre(kProfileFallback, kCertificateFallback, kProfileFallback, kCertificateFallback));
    }
}

TEST_F(DriverTest, DeveloperModeFileProblemsAreReportedPerProfileConstruction)
{
    const std::string package = build(cleanPackage());
    vetrik.setDeveloperModeFile("");
    auto missing = vetrik({"--color", "never", "-p", "regular", package, package});
    EXPECT_EQ(missing.exitCode, 0);
    const std::string missingLine = "Error reading developer-moded.conf: " + vetrik.root()
        + "/var/lib/developer-moded/developer-moded.conf: cannot open file. Using default value for validation "
          "enabled: true";
    EXPECT_THAT(missing.findings, ElementsAre(missingLine, missingLine));

    // A named pipe in its place is not waited on.
    ASSERT_EQ(::mkfifo((vetrik.root() + "/var/lib/developer-moded/developer-moded.conf").c_str(), 0644), 0);
    TestKit::RunOptions bounded;
    bounded.timeoutSeconds = 60;
    auto fifo = vetrik({"--color", "never", "-p", "regular", package}, bounded);
    EXPECT_FALSE(fifo.run.timedOut);
    EXPECT_THAT(fifo.findings, ElementsAre(missingLine));

    vetrik.setDeveloperModeFile("[developermode\n");
    EXPECT_THAT(vetrik({"--color", "never", "-p", "regular", package}).findings,
                ElementsAre("Error reading developer-moded.conf: " + vetrik.root()
                            + "/var/lib/developer-moded/developer-moded.conf(1): unmatched '['. Using default value for "
                              "validation enabled: true"));

    vetrik.setDeveloperModeFile("[developermode]\nother=1\n");
    EXPECT_THAT(vetrik({"--color", "never", "-p", "regular", package}).findings,
                ElementsAre("Config parameter 'developermode.validationEnabled' in developer-moded.conf not found. "
                            "Using default value for validation enabled: true"));

    vetrik.setDeveloperModeFile("[developermode]\nvalidationEnabled=maybe\n");
    auto bad = vetrik({"--color", "never", "-p", "regular", package});
    ASSERT_EQ(bad.findings.size(), 1u);
    EXPECT_EQ(bad.findings[0].rfind("Error reading developer-moded.conf: ", 0), 0u) << bad.findings[0];

    vetrik.setDeveloperModeFile("[developermode]\nvalidationEnabled=false\n");
    EXPECT_THAT(vetrik({"--color", "never", "-p", "regular", package}).findings, IsEmpty());
}

TEST_F(DriverTest, UnreadablePackagesFailTheRunButTheOthersAreValidated)
{
    const std::string good = build(cleanPackage());
    const std::string missing = work / "missing.rpm";
    const std::string text = work / "notes.rpm";
    TestKit::writeFile(text, "this is not a package\n");

    auto result = vetrik({"--color", "never", "-p", "regular", missing, text, good});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.out, ElementsAre("Processing " + missing + "...", "Processing " + text + "...",
                                        "Processing " + good + "..."));
    EXPECT_THAT(result.findings, ElementsAre("Couldn't open rpm package", "Invalid filename: " + missing,
                                             "Couldn't read rpm package", "Invalid filename: " + text));
}

TEST_F(DriverTest, RelativeAndAwkwardPathsAreNeverInterpretedByAShell)
{
    const std::string original = build(cleanPackage());
    const std::string awkward = "we\"ird $HOME `touch hacked` \\ name.rpm";
    fs::copy_file(original, work / awkward);

    TestKit::RunOptions inWork;
    inWork.workingDirectory = work.path();
    auto relative = vetrik({"--color", "never", "-p", "regular", fs::path(original).filename().string()}, inWork);
    EXPECT_EQ(relative.exitCode, 0) << relative.rawErr;
    EXPECT_THAT(relative.findings, IsEmpty());

    auto result = vetrik({"--color", "never", "-p", "regular", awkward}, inWork);
    EXPECT_EQ(result.exitCode, 0) << result.rawErr;
    EXPECT_THAT(result.out, ElementsAre("Processing " + awkward + "..."));
    EXPECT_THAT(result.findings, IsEmpty());
    EXPECT_FALSE(fs::exists(work / "hacked"));
}

// Hostile archives are crafted from a package built without payload
// compression by rewriting an entry name in place.
class HostileArchiveTest : public DriverTest {
protected:
    std::string craft(const std::string& builtName, const std::string& hostileName, bool withLink = false)
    {
        TestKit::Package package;
        package.name = "org.example.hostile";
        package.compressor = "none";
        if (withLink)
            package.entries.push_back(TestKit::symlink("/usr/share/org.example.hostile/link", outside.path()));
        package.entries.push_back(TestKit::file(builtName, "planted\n"));
        const std::string path = build(package);
        TestKit::replaceUnique(path, "." + builtName, hostileName);
        return path;
    }

    TestKit::TempDir outside{"outside", E2E_WORK_DIR};
};

TEST_F(HostileArchiveTest, EntriesLeavingTheRootAreRefused)
{
    struct Case {
        std::string built;
        std::string hostile;
        bool link;
        std::string reason;
    };
    // The hostile names are as long as the built ones; rpm orders entries by
    // name, so "linz" follows the link it is renamed into.
    const std::string dots = "./usr/share/org.example.hostile/../../../../../../../../../.." + outside.path() + "/p";
    const std::string built = "/usr/share/org.example.hostile/" + std::string(dots.size() - 32, 'x');
    const std::string absolute = outside.path() + "/planted" + std::string(built.size() + 1 - outside.path().size() - 8, 'a');
    const std::vector<Case> cases = {
        {built, dots, false, "archive entry with a \"..\" component: " + dots},
        {built, absolute, false, "archive entry with an absolute name: " + absolute},
        {"/usr/share/org.example.hostile/linz/planted", "./usr/share/org.example.hostile/link/planted", true,
         "archive entry below a symbolic link: ./usr/share/org.example.hostile/link/planted"},
    };
    for (const Case& c : cases) {
        const std::string package = craft(c.built, c.hostile, c.link);
        auto result = vetrik({"--color", "never", "-p", "regular", package});
        EXPECT_EQ(result.exitCode, 1) << c.hostile;
        EXPECT_THAT(result.findings, ElementsAre(package + ": cannot extract the payload: refused the payload: " + c.reason));
        EXPECT_TRUE(fs::is_empty(outside.path())) << "something was written outside the extraction root";
    }
}

TEST_F(DriverTest, NothingIsLeftInTmpWhateverHappens)
{
    requirePrivateTmp();
    const std::string good = build(cleanPackage());
    TestKit::Package hostile;
    hostile.name = "org.example.hostile";
    hostile.compressor = "none";
    hostile.entries = {TestKit::file("/usr/share/org.example.hostile/aaaaaaaaaaaaaaaaaaaaaa", "x")};
    const std::string refused = build(hostile);
    TestKit::replaceUnique(refused, "./usr/share/org.example.hostile/aaaaaaaaaaaaaaaaaaaaaa",
                           "./usr/share/org.example.hostile/../../../../../tmp/zzz");
    // A header that reads but a payload cut short: extraction fails midway.
    TestKit::Package big = cleanPackage();
    big.name = "org.example.truncated";
    big.compressor = "gzip";
    for (int i = 0; i < 20; ++i)
        big.entries.push_back(TestKit::file("/usr/share/org.example.clean/f" + std::to_string(i), std::string(20000, 'a' + i)));
    const std::string truncated = build(big);
    fs::resize_file(truncated, fs::file_size(truncated) - 600);

    // One package at a time and several at once.
    for (const char* jobs : {"1", "3"}) {
        auto result = withPrivateTmp("\"$@\"; echo \"status=$?\"; ls -d /tmp/dir.* 2>/dev/null",
                                     {"--color", "never", "-p", "regular", "-j", jobs, good, refused, truncated, work / "missing.rpm"});
        ASSERT_NE(result.exitCode, 99) << result.err;
        EXPECT_EQ(result.out, "Processing " + good + "...\nProcessing " + refused + "...\nProcessing " + truncated
                                  + "...\nProcessing " + work / "missing.rpm" + "...\nstatus=1\n")
            << jobs << ": " << result.err;
        EXPECT_NE(result.err.find(truncated + ": cannot extract the payload: "), std::string::npos) << result.err;
    }
}

TEST_F(DriverTest, TemporaryDirectoryFailureFailsThePackage)
{
    requirePrivateTmp();
    const std::string good = build(cleanPackage());
    auto result = withPrivateTmp("\"$@\"; echo \"status=$?\"", {"--color", "never", "-p", "regular", good}, true);
    EXPECT_EQ(result.out, "Processing " + good + "...\nstatus=1\n") << result.err;
    EXPECT_NE(result.err.find(good + ": cannot create a temporary directory: Read-only file system"), std::string::npos)
        << result.err;
}

TEST_F(DriverTest, InterruptRemovesTheExtractionRoot)
{
    requirePrivateTmp();
    const TestKit::Package large = slowPackage();
    const std::string package = build(large);

    for (const char* signal : {"TERM", "INT"}) {
        // Waits for the root to appear, interrupts, then lists what is left.
        const std::string script = std::string("\"$@\" & pid=$!\n")
            + "n=0; while ! ls -d /tmp/dir.* >/dev/null 2>&1 && [ $n -lt 2000 ]; do n=$((n+1)); sleep 0.005; done\n"
            + "kill -" + signal + " $pid; wait $pid; echo \"status=$?\"; ls -d /tmp/dir.* 2>/dev/null";
        auto result = withPrivateTmp(script, {"--color", "never", "-p", "regular", package});
        ASSERT_NE(result.exitCode, 99) << result.err;
        const int expected = 128 + (std::string(signal) == "TERM" ? 15 : 2);
        EXPECT_EQ(result.out, "Processing " + package + "...\nstatus=" + std::to_string(expected) + "\n")
            << signal << ": " << result.err;
    }
}

} // namespace
