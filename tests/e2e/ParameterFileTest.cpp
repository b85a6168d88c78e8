// The managed-configuration validator on real packages: parameter files
// under the package's managed-configuration directory, checked by the
// parameter-file library against the platform's schemas.

#include "FileValidatorTest.h"
#include "Findings.h"
#include "TestKit.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using TestKit::error;

namespace {

const std::string N = "org.example.managed";
const std::string Dir = "/usr/share/" + N + "/managed-configuration/";

std::string invalid(const std::string& path)
{
    return error("[" + path + "] Configuration parameter file for managed configuration is invalid");
}

class ParameterFilePackageTest : public FileValidatorTest {
protected:
    ParameterFilePackageTest() : FileValidatorTest(N, "paramfile")
    {
        TestKit::writeFile(vetrik.root() + "/usr/share/managed-configuration/schemas/sync.json",
                           R"({"parameters": {"server": "string", "interval": "integer"}, "required": ["server"]})");
    }
};

TEST_F(ParameterFilePackageTest, FilesAreCheckedAgainstTheirSchema)
{
    TestKit::Package package = application();
    package.entries.push_back(TestKit::directory(Dir));
    package.entries.push_back(TestKit::file(Dir + "sync.json", R"({"server": "https://mdm.example", "interval": 60})"));
    const Outcome good = check(package);
    EXPECT_EQ(good.exitCode, 0) << good.result.rawErr;
    EXPECT_THAT(good.lines, IsEmpty());

    TestKit::Package bad = application();
    bad.entries.push_back(TestKit::directory(Dir));
    bad.entries.push_back(TestKit::file(Dir + "sync.json", R"({"server": "https://mdm.example", "interval": "60"})"));
    // No schema of that name on the platform.
    bad.entries.push_back(TestKit::file(Dir + "unknown.json", "{}"));
    bad.entries.push_back(TestKit::fifo(Dir + "zfifo.json"));
    // Not parameter files under the rule: never handed to the library.
    bad.entries.push_back(TestKit::file(Dir + "notes.txt", "x"));
    bad.entries.push_back(TestKit::file(Dir + "sub/sync.json", "x"));
    bad.entries.push_back(TestKit::file("/usr/share/" + N + "/sync.json", "x"));
    TestKit::RunOptions options;
    options.timeoutSeconds = 60;
    const Outcome outcome = check(bad, "regular", options);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_THAT(outcome.lines, ElementsAre(invalid(Dir + "sync.json"), invalid(Dir + "unknown.json"),
                                           invalid(Dir + "zfifo.json")));
}

} // namespace
