// The header-level package checks seen from vetrik's output and exit status.
// Other validators may add lines of their own, so these tests look for their
// lines in order rather than for the whole output.

#include "Fixtures.h"
#include "TestKit.h"
#include "Vetrik.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

using TestKit::Vetrik;
using ::testing::Contains;

namespace {

const std::string N = "org.example.checked";

class PackageChecksE2ETest : public ::testing::Test {
protected:
    TestKit::Package application() { return TestKit::validApplication(N, work.path()); }
    std::string build(const TestKit::Package& package) { return TestKit::buildRpm(package, work.path()); }

    TestKit::VetrikResult validate(const std::string& package, std::vector<std::string> options = {})
    {
        options.insert(options.begin(), {"--color", "never", "-p", "regular"});
        options.push_back(package);
        return vetrik(options);
    }

    // True when `expected` occur in `lines` in this order (others may lie between).
    static bool inOrder(const std::vector<std::string>& lines, const std::vector<std::string>& expected)
    {
        auto next = lines.begin();
        for (const std::string& line : expected) {
            next = std::find(next, lines.end(), line);
            if (next == lines.end())
                return false;
            ++next;
        }
        return true;
    }

    TestKit::TempDir work{"pkgchecks-e2e", E2E_WORK_DIR};
    Vetrik vetrik;
};

TEST_F(PackageChecksE2ETest, ErrorsFailTheRunUnlessCriticalOnly)
{
    TestKit::Package package = application();
    package.obsoletes = {"old-app"};
    package.conflicts = {"other-app"};
    const std::string rpm = build(package);
    const std::vector<std::string> expected = {
        "(ERROR)\t\t[other-app] Conflicts: other-app is not allowed in RPM",
        "(ERROR)\t\t[old-app] Obsoletes: old-app is not allowed in RPM",
    };

    auto full = validate(rpm);
    EXPECT_TRUE(inOrder(full.findings, expected)) << full.rawErr;
    EXPECT_EQ(full.exitCode, 1);

    auto criticalOnly = validate(rpm, {"--critical-only"});
    EXPECT_TRUE(inOrder(criticalOnly.findings, expected)) << criticalOnly.rawErr;
    EXPECT_EQ(criticalOnly.exitCode, 0) << criticalOnly.rawErr;
}

TEST_F(PackageChecksE2ETest, ScriptsFailTheRunEvenWhenCriticalOnly)
{
    TestKit::Package package = application();
    package.scriptPrograms = {{"posttrans", "/usr/bin/true"}};
    auto result = validate(build(package), {"--critical-only"});
    EXPECT_THAT(result.findings, Contains("(CRITICAL)\t[scripts] Script sections are not allowed in RPM"))
        << result.rawErr;
    EXPECT_EQ(result.exitCode, 1);
}

TEST_F(PackageChecksE2ETest, WarningsAndNoticesDoNotFailTheRun)
{
    TestKit::Package package = application();
    package.vendor = "kestil";
    package.entries.push_back(TestKit::symlink("/usr/share/" + N + "/link", "data.txt"));
    auto result = validate(build(package));
    EXPECT_TRUE(inOrder(result.findings,
                        {"(WARNING)\t[vendor] Vendor is set to kestil, this is not recommended",
                         "(INFO)\t\t[/usr/share/" + N + "/link] Beware that symbolic links are only allowed for "
                         "exclusive paths"}))
        << result.rawErr;
    EXPECT_EQ(result.exitCode, 0) << result.rawErr;
}

TEST_F(PackageChecksE2ETest, HeaderChecksComeBeforeTheFileValidators)
{
    TestKit::Package package = application();
    package.entries.push_back(TestKit::file("/opt/" + N + "/tool", "x", 0666));
    auto result = validate(build(package));
    // The same entry is judged twice: from its header data first, from its
    // location by the file validators afterwards.
    EXPECT_TRUE(inOrder(result.findings, {"(ERROR)\t\t[/opt/" + N + "/tool] Group or World writable file",
                                          "(ERROR)\t\t[/opt/" + N + "/tool] Installation not allowed in this location"}))
        << result.rawErr;
    EXPECT_EQ(result.exitCode, 1);
}

} // namespace
