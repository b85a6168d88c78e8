// The integrity-daemon validator on real packages: the watch list must be
// JSON that names only files of the package.

#include "FileValidatorTest.h"
#include "Findings.h"
#include "TestKit.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using TestKit::error;

namespace {

const std::string N = "org.example.watch";
const std::string WatchList = "/etc/integrityd/config.d/" + N + ".json";
const std::string Mismatch = error("[integrityd] integrityd configuration file mismatching package content");
const std::string InvalidJson = error("[integrityd] integrityd configuration file contains invalid JSON");

class IntegritydPackageTest : public FileValidatorTest {
protected:
    IntegritydPackageTest() : FileValidatorTest(N, "integrityd") {}
};

TEST_F(IntegritydPackageTest, WatchList)
{
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {R"({"watch": ["file:/usr/bin/)" + N + R"(", "elf:/usr/bin/)" + N + R"("]})", {}},
        {R"({"watch": ["/usr/share/)" + N + R"(/data.txt"]})", {}},
        // Once per file, however many entries are missing.
        {R"({"watch": ["/usr/lib/libfoo.so", "/usr/bin/)" + N + R"(", "/usr/lib/libbar.so"]})", {Mismatch}},
        {R"({"watch": ["/usr/bin/)" + N + R"(", 1, null, {}]})", {Mismatch}},
        {R"({"watch": ["/usr/bin/)" + N + R"(")", {InvalidJson}},
        {"", {}},
        {R"(["/usr/lib/libfoo.so"])", {}},
        {R"({"other": ["/usr/lib/libfoo.so"]})", {}},
        {deep, {InvalidJson}},
    };
    for (const auto& [content, expected] : cases) {
        TestKit::Package package = application();
        package.entries.push_back(TestKit::file(WatchList, content));
        const Outcome outcome = check(package);
        EXPECT_THAT(outcome.lines, ElementsAreArray(expected)) << content.substr(0, 80);
        EXPECT_EQ(outcome.exitCode, expected.empty() ? 0 : 1) << content.substr(0, 80);
    }
}

TEST_F(IntegritydPackageTest, OnlyThePackagesOwnListIsExamined)
{
    TestKit::Package package = application();
    package.entries.push_back(TestKit::file("/etc/integrityd/config.d/other.app.json", "not json"));
    const Outcome outcome = check(package);
    EXPECT_THAT(outcome.lines,
                ElementsAre(error("[/etc/integrityd/config.d/other.app.json] Installation not allowed in this location")));
}

TEST_F(IntegritydPackageTest, AListThatIsNoRegularFileIsNotRead)
{
    expectNoRegularFileIsRead(WatchList, {InvalidJson});
}

// json-glib comes with GIO and five more libraries: loaded only for a
// package that has a watch list, and then it reads the list as before.
TEST_F(IntegritydPackageTest, JsonGlibIsLoadedForAWatchListOnly)
{
    const std::string list = R"({"watch": ["/usr/bin/)" + N + R"("]})";
    for (const bool withList : {false, true}) {
        TestKit::Package package = application();
        if (withList)
            package.entries.push_back(TestKit::file(WatchList, list));
        // The dynamic loader of every process of the run writes the files
        // it loads to <prefix>.<pid>.
        const std::string prefix = work / ("loaded" + std::to_string(nextCompileNumber()));
        TestKit::RunOptions options;
        options.env = {{"LD_DEBUG", "files"}, {"LD_DEBUG_OUTPUT", prefix}};
        const Outcome outcome = check(package, "regular", options);
        EXPECT_THAT(outcome.lines, IsEmpty());
        EXPECT_EQ(outcome.exitCode, 0);
        int logs = 0;
        bool loaded = false;
        for (const auto& entry : std::filesystem::directory_iterator(work.path())) {
            if (!entry.path().string().starts_with(prefix + "."))
                continue;
            ++logs;
            loaded = TestKit::readFile(entry.path()).find("file=libjson-glib-1.0.so.0") != std::string::npos || loaded;
        }
        EXPECT_GT(logs, 0);
        EXPECT_EQ(loaded, withList) << (withList ? "with" : "without") << " a watch list";
    }
}

} // namespace
