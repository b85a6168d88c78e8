// Reading a baseline, a JSON Lines report of an earlier run: what it
// accepts, by raw bytes, and every way a hostile file is refused.

#include "app/report/Baseline.h"

#include "TestKit.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace Validator {
namespace {

using TestKit::TempDir;

AcceptedBy acceptedBy(const FindingAcceptance& acceptance, std::string_view package, std::string_view rule,
                      std::vector<std::string_view> arguments)
{
    return acceptance.acceptedBy(package, rule, arguments);
}

std::string findingLine(const std::string& package, const std::string& severity, const std::string& rule,
                        const std::string& argsJson)
{
    return R"({"type":"finding","package":")" + package + R"(","severity":")" + severity
        + R"(","group":"g","code":1,"rule":")" + rule + R"(","text":"t","args":)" + argsJson
        + R"(,"path":null,"suppressed":false})";
}

std::string packageLine(const std::string& package, const std::string& nameJson)
{
    return R"({"type":"package","package":")" + package + R"(","outcome":"failed","profile":"regular","name":)"
        + nameJson + R"(,"version":"1","release":"1","arch":"noarch","findings":1,"accepted":0,"milliseconds":1})";
}

class BaselineTest : public ::testing::Test {
protected:
    bool read(const std::string& content, FindingAcceptance& acceptance, std::string& error)
    {
        const std::string path = dir / "baseline.jsonl";
        TestKit::writeFile(path, content);
        return readBaseline(path, acceptance, error);
    }

    TempDir dir{"baseline"};
};

TEST_F(BaselineTest, FindingsAreAcceptedByHeaderNameRuleAndRawArguments)
{
    const std::string report =
        findingLine("a-1.rpm", "error", "sandbox-permission-not-allowed", R"(["Bogus"])") + "\n"
        // The report escapes what the package holds; read back, it is the raw bytes.
        + findingLine("a-1.rpm", "warning", "empty-directory", R"(["/usr/share/a/\\x1b[2K\\n"])") + "\n"
        + findingLine("a-1.rpm", "critical", "scripts-not-allowed", "[]") + "\n"
        + packageLine("a-1.rpm", R"("org.example.a")") + "\n"
        + findingLine("b.rpm", "error", "hardcoded-home-path", R"(["/x"])") + "\n"
        + packageLine("b.rpm", R"("b\\xff")") + "\n"
        + findingLine("gone.rpm", "error", "hardcoded-home-path", R"(["/y"])") + "\n"  // no package record follows
        + R"({"type":"summary","packages":2})" + "\n\n";
    FindingAcceptance acceptance;
    std::string error;
    ASSERT_TRUE(read(report, acceptance, error)) << error;

    struct Case {
        std::string package;
        std::string rule;
        std::vector<std::string_view> arguments;
        AcceptedBy expected;
    };
    const Case cases[] = {
        {"org.example.a", "sandbox-permission-not-allowed", {"Bogus"}, AcceptedBy::Baseline},
        {"org.example.a", "empty-directory", {"/usr/share/a/\x1b[2K\n"}, AcceptedBy::Baseline},
        // Printed alike, but other bytes: no match.
        {"org.example.a", "empty-directory", {"/usr/share/a/\\x1b[2K\\n"}, AcceptedBy::None},
        {"org.example.a", "sandbox-permission-not-allowed", {"Other"}, AcceptedBy::None},
        {"org.example.a", "sandbox-permission-not-allowed", {"Bogus", "more"}, AcceptedBy::None},
        {"org.example.other", "sandbox-permission-not-allowed", {"Bogus"}, AcceptedBy::None},
        {"org.example.a", "scripts-not-allowed", {}, AcceptedBy::None},  // critical: never listed
        {"b\xff", "hardcoded-home-path", {"/x"}, AcceptedBy::Baseline},
        {"b\\xff", "hardcoded-home-path", {"/x"}, AcceptedBy::None},
        {"gone", "hardcoded-home-path", {"/y"}, AcceptedBy::None},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(acceptedBy(acceptance, c.package, c.rule, c.arguments), c.expected)
            << c.package << " " << c.rule << " " << (c.arguments.empty() ? "" : c.arguments[0]);
    }
    EXPECT_EQ(acceptance.baselineSize(), 3u);
}

TEST_F(BaselineTest, AnythingButAReportIsRefusedWithItsLineAndNothingIsAccepted)
{
    const std::string good = findingLine("a.rpm", "error", "r", R"(["x"])") + "\n" + packageLine("a.rpm", R"("a")");
    struct Case {
        const char* what;
        std::string content;
        std::string error;
    };
    const Case cases[] = {
        {"not JSON", good + "\nthis is no JSON\n", "line 3: not JSON"},
        {"cut JSON", good + "\n{\"type\":\"finding\"", "line 3: not JSON"},
        {"not an object", "[1, 2]\n" + good, "line 1: not a JSON object"},
        {"no type", "{\"kind\":\"finding\"}\n", "line 1: no \"type\" string"},
        {"a type that is no string", "{\"type\":7}\n", "line 1: no \"type\" string"},
        {"a finding without rule", R"({"type":"finding","package":"a","severity":"error","args":[]})",
         "line 1: a finding without \"package\", \"rule\" and \"severity\" strings (a report of an older vetrik?)"},
        {"args no array", findingLine("a", "error", "r", R"("x")"), "line 1: a finding without an \"args\" array"},
        {"an argument no string", findingLine("a", "error", "r", R"(["x", 1])"), "line 1: an argument that is no string"},
        {"a package without name", R"({"type":"package","package":"a"})",
         "line 1: a package without a \"name\" string or null (a report of an older vetrik?)"},
        {"a name that is a number", packageLine("a", "5"),
         "line 1: a package without a \"name\" string or null (a report of an older vetrik?)"},
        {"nested too deep", std::string(100, '[') + std::string(100, ']'), "line 1: not JSON"},
        {"a line of 2 MiB", good + "\n\"" + std::string(2 << 20, 'x') + "\"\n", "line 3 is longer than 1 MiB"},
    };
    for (const Case& c : cases) {
        FindingAcceptance acceptance;
        std::string error;
        EXPECT_FALSE(read(c.content, acceptance, error)) << c.what;
        EXPECT_EQ(error.substr(0, c.error.size()), c.error) << c.what;
        EXPECT_TRUE(acceptance.empty()) << c.what;
    }
}

TEST_F(BaselineTest, OnlyRegularFilesWithinTheLimitAreRead)
{
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string large = dir / "large.jsonl";
    TestKit::writeFile(large, "");
    ASSERT_EQ(::truncate(large.c_str(), off_t(1) << 30), 0);  // 1 GiB, sparse
    struct Case {
        std::string path;
        std::string error;
    };
    const Case cases[] = {
        {fifo, "not a regular file"},  // refused without waiting for a writer
        {dir.path(), "not a regular file"},
        {dir / "missing.jsonl", "No such file or directory"},
        {large, "larger than 64 MiB"},
    };
    for (const Case& c : cases) {
        FindingAcceptance acceptance;
        std::string error;
        EXPECT_FALSE(readBaseline(c.path, acceptance, error)) << c.path;
        EXPECT_EQ(error, c.error) << c.path;
    }
    FindingAcceptance acceptance;
    std::string error;
    TestKit::writeFile(dir / "empty.jsonl", "");
    EXPECT_TRUE(readBaseline(dir / "empty.jsonl", acceptance, error)) << error;
    EXPECT_TRUE(acceptance.empty());
}

} // namespace
} // namespace Validator
