// The manifest validator on real packages: /manifest.json's syntax, keys
// and minimum OS versions against the platform root's os-release.

#include "FileValidatorTest.h"
#include "Findings.h"
#include "TestKit.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using TestKit::error;
using TestKit::warning;

namespace {

const std::string N = "org.example.manifest";
const std::string InvalidJson = error("[manifest] manifest file contains invalid JSON");
const std::string Missing = error("[manifest] missing minOSVersion field");
const std::string InvalidVersion = error("[manifest] invalid version in minOSVersion field");
const std::string Incompatible = error("[manifest] package minOSVersion incompatible with this OS version");

class ManifestPackageTest : public FileValidatorTest {
protected:
    ManifestPackageTest() : FileValidatorTest(N, "manifest") {}

    Outcome checkManifest(const std::string& manifest, const std::string& osRelease)
    {
        vetrik.setOsRelease(osRelease);
        TestKit::Package package = application();
        package.entries.push_back(TestKit::file("/manifest.json", manifest));
        return check(package);
    }
};

TEST_F(ManifestPackageTest, Rules)
{
    struct Case {
        std::string manifest;
        std::string versionId;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {R"({"minOSVersion": "4.0.1", "keepMediaActiveInBackground": true})", "4.0.2", {}},
        {R"({"minOSVersion": "5.0"})", "4.0.2", {Incompatible}},
        {R"({"minOSVersion": ["5.0.1", "4.0.2"]})", "4.0.2", {}},
        {R"({"minOSVersion": ["5.0.1", "3.4.0"]})", "4.0.2", {Incompatible}},
        // A one-part minimum below a newer branch opens its major release.
        {R"({"minOSVersion": ["5.1", "4"]})", "4.9", {}},
        {R"({"minOSVersion": ["5.1", "4"]})", "5.0", {Incompatible}},
        // os-release may quote the value; anything else unreadable
        // satisfies no minimum.
        {R"({"minOSVersion": "4.0.1"})", "\"4.0.2\"", {}},
        {R"({"minOSVersion": "4.0.1"})", "4.0.2-devel", {Incompatible}},
        {R"(["minOSVersion", "4.0.1"])", "4.0.2", {InvalidJson}},
        {R"({"minOSVersion": "4.0.1")", "4.0.2", {InvalidJson}},
        {std::string(100000, '[') + std::string(100000, ']'), "4.0.2", {InvalidJson}},
        // The parser's own depth limit.
        {R"({"minOSVersion": "4.0", "x": )" + std::string(40, '[') + std::string(40, ']') + "}", "4.0.2", {InvalidJson}},
        {R"({"minOSVersion": 4})", "4.0.2", {InvalidVersion}},
        {R"({"minOSVersion": ["4.0", 4]})", "4.0.2", {InvalidVersion}},
        // Invalid strings in a well-formed list only take no part.
        {R"({"minOSVersion": ["4.x", "4.0"]})", "4.0.2", {}},
        {R"({"minOSVersion": []})", "4.0.2", {InvalidVersion}},
        {R"({"minOSVersion": null})", "4.0.2", {Missing}},
        {R"({"keepMediaActiveInBackground": "true", "minOSVersion": "4.0"})", "4.0.2",
         {error("[keepMediaActiveInBackground] Manifest key has wrong type")}},
        {R"({"minOSVersion": "4.0", "extraKey": 1})", "4.0.2", {warning("[extraKey] Unknown manifest key")}},
        // The key pass, in document order, comes before the version rules.
        {R"({"x": 1, "keepMediaActiveInBackground": 1})", "4.0.2",
         {warning("[x] Unknown manifest key"), error("[keepMediaActiveInBackground] Manifest key has wrong type"), Missing}},
    };
    for (const Case& c : cases) {
        const Outcome outcome = checkManifest(c.manifest, "NAME=Taliro\nVERSION_ID=" + c.versionId + "\nID=taliro\n");
        EXPECT_THAT(outcome.lines, ElementsAreArray(c.expected)) << c.manifest.substr(0, 80) << " on " << c.versionId;
        const bool failed = std::any_of(c.expected.begin(), c.expected.end(),
                                        [](const std::string& line) { return line.starts_with("(ERROR)"); });
        EXPECT_EQ(outcome.exitCode, failed ? 1 : 0) << c.manifest.substr(0, 80);
    }
}

TEST_F(ManifestPackageTest, OnlyTheRootManifestIsChecked)
{
    vetrik.setOsRelease("VERSION_ID=4.0\n");
    TestKit::Package package = application();
    package.entries.push_back(TestKit::file("/usr/share/" + N + "/manifest.json", "not json"));
    const Outcome outcome = check(package);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.result.rawErr;
    EXPECT_THAT(outcome.lines, IsEmpty());
}

TEST_F(ManifestPackageTest, AManifestThatIsNoRegularFileIsNotRead)
{
    vetrik.setOsRelease("VERSION_ID=4.0\n");
    expectNoRegularFileIsRead("/manifest.json", {InvalidJson});
}

TEST_F(ManifestPackageTest, WithoutAnOsVersionThePackageRunStops)
{
    for (const std::string& osRelease : {std::string(), std::string("NAME=Taliro\n")}) {
        const Outcome outcome = checkManifest(R"({"minOSVersion": "4.0"})", osRelease);
        // The lookup's error ends the package's run: the driver reports it
        // and fails the package.
        EXPECT_EQ(outcome.exitCode, 1);
        EXPECT_THAT(outcome.lines,
                    ElementsAre(::testing::EndsWith(".rpm: validation stopped: Couldn't retrieve Taliro OS version")));
    }
}

} // namespace
