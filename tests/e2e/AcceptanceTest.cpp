// Accepting known findings: --ignore RULE and --baseline REPORT. Accepted
// findings are not printed and fail nothing, the report marks them, one
// closing line counts them; a critical finding is never accepted; options
// that cannot be honoured end the run before any package.

#include "DriverFixture.h"
#include "Findings.h"
#include "Fixtures.h"
#include "TestKit.h"
#include "Vetrik.h"

#include <boost/json.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using TestKit::critical;
using TestKit::error;
using TestKit::warning;

namespace {

const std::string N = "org.example.known";

std::vector<boost::json::object> findingRecords(const std::string& path)
{
    std::vector<boost::json::object> records;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        boost::json::object object = boost::json::parse(line).as_object();
        if (object.at("type") == "finding")
            records.push_back(std::move(object));
    }
    return records;
}

class AcceptanceTest : public TestKit::DriverFixture {
protected:
    // Two errors and a warning that carry the package's bytes (a vendor
    // with control characters, two stray files), and one critical finding.
    TestKit::Package known(const std::string& version = "1.0")
    {
        TestKit::Package package = TestKit::validApplication(N, work.path());
        package.version = version;
        package.vendor = vendor;
        package.entries.push_back(TestKit::file("/opt/stray", "x"));
        package.entries.push_back(TestKit::directory("/usr/share/" + N + "/empty"));
        package.scriptPrograms = {{"posttrans", "/usr/bin/true"}};
        return package;
    }

    TestKit::VetrikResult run(std::vector<std::string> options, const std::vector<std::string>& packages)
    {
        options.insert(options.begin(), {"--color", "never", "-p", "regular"});
        options.insert(options.end(), packages.begin(), packages.end());
        return vetrik(options);
    }

    std::string vendor = "Evil\x1b[2K";
    const std::string vendorLine = error("[vendor] Vendor is set to Evil\\x1b[2K. Setting a vendor in RPM is not allowed");
    const std::string strayLine = error("[/opt/stray] Installation not allowed in this location");
    const std::string emptyLine =
        warning("[/usr/share/" + N + "/empty] Empty directory (can be omitted during package installation)");
    const std::string scriptsLine = critical("[scripts] Script sections are not allowed in RPM");
};

TEST_F(AcceptanceTest, BaselineAcceptsTheFindingsOfAnEarlierReportByNameRuleAndRawArguments)
{
    const std::string first = build(known("1.0"));
    const std::string baseline = work / "baseline.jsonl";
    auto before = run({"--report", baseline}, {first});
    EXPECT_EQ(before.exitCode, 1);
    EXPECT_THAT(TestKit::findingLines(before.findings), ElementsAre(vendorLine, scriptsLine, emptyLine, strayLine));

    // A later version of the package, with one finding more: only the new
    // one and the critical one are printed; the run still fails for the
    // critical one.
    TestKit::Package later = known("1.1");
    later.entries.push_back(TestKit::file("/opt/new", "x"));
    const std::string second = build(later);
    const std::string report = work / "again.jsonl";
    auto after = run({"--baseline", baseline, "--report", report}, {second});
    EXPECT_EQ(after.exitCode, 1);
    // The header lists /opt/new before /opt/stray.
    EXPECT_THAT(TestKit::findingLines(after.findings),
                ElementsAre(scriptsLine, error("[/opt/new] Installation not allowed in this location")));
    EXPECT_EQ(after.out.back(), "3 findings accepted by --baseline");

    std::vector<std::string> marked;
    for (const boost::json::object& record : findingRecords(report)) {
        marked.push_back(std::string(record.at("rule").as_string()) + " "
                         + boost::json::serialize(record.at("suppressed"))
                         + (record.contains("suppressed_by") ? " " + boost::json::serialize(record.at("suppressed_by")) : ""));
    }
    EXPECT_THAT(marked, ElementsAre("vendor-not-allowed true \"baseline\"", "scripts-not-allowed false",
                                    "empty-directory true \"baseline\"", "install-location-not-allowed false",
                                    "install-location-not-allowed true \"baseline\""));

    // Without the critical finding, what the baseline accepts fails nothing.
    TestKit::Package quiet = known("1.2");
    quiet.scriptPrograms.clear();
    auto passing = run({"--baseline", baseline, "--summary"}, {build(quiet)});
    EXPECT_EQ(passing.exitCode, 0) << passing.rawErr;
    EXPECT_THAT(TestKit::findingLines(passing.findings), IsEmpty());
    EXPECT_THAT(std::vector<std::string>(passing.out.end() - 2, passing.out.end()),
                ElementsAre("3 findings accepted by --baseline",
                            "1 package: 1 passed, 0 failed; 0 critical, 0 errors, 0 warnings"));

    // The arguments are matched on their raw bytes: a vendor that prints
    // alike ("\x1b" written out) is not the one the baseline lists.
    vendor = "Evil\\x1b[2K";
    TestKit::Package lookalike = known("1.3");
    lookalike.scriptPrograms.clear();
    auto other = run({"--baseline", baseline}, {build(lookalike)});
    EXPECT_EQ(other.exitCode, 1);
    EXPECT_THAT(TestKit::findingLines(other.findings), ElementsAre(vendorLine));
    EXPECT_EQ(other.out.back(), "2 findings accepted by --baseline");
}

TEST_F(AcceptanceTest, IgnoreAcceptsEveryFindingOfARuleButNeverACriticalOne)
{
    const std::string package = build(known());
    auto ignored = run({"--ignore", "install-location-not-allowed", "--ignore", "empty-directory"}, {package});
    EXPECT_EQ(ignored.exitCode, 1);
    EXPECT_THAT(TestKit::findingLines(ignored.findings), ElementsAre(vendorLine, scriptsLine));
    EXPECT_EQ(ignored.out.back(), "2 findings accepted by --ignore");

    // Both options at once: --ignore names the option first.
    const std::string baseline = work / "baseline.jsonl";
    run({"--report", baseline}, {package});
    auto both = run({"--ignore", "empty-directory", "--baseline", baseline}, {package});
    EXPECT_THAT(TestKit::findingLines(both.findings), ElementsAre(scriptsLine));
    EXPECT_EQ(both.out.back(), "3 findings accepted: 1 by --ignore, 2 by --baseline");

    struct Case {
        std::vector<std::string> options;
        std::vector<std::string> lines;
    };
    const Case refused[] = {
        {{"--ignore", "scripts-not-allowed"}, {"Cannot ignore scripts-not-allowed: a critical finding is never accepted"}},
        {{"--ignore", "no-such-rule"}, {"Unknown rule \"no-such-rule\": vetrik --list-rules lists them"}},
        {{"--ignore", "bad\x1b[2K"}, {"Unknown rule \"bad\\x1b[2K\": vetrik --list-rules lists them"}},
        {{"--ignore", "empty-directory", "--ignore", "nope", "--ignore", "scripts-not-allowed"},
         {"Unknown rule \"nope\": vetrik --list-rules lists them",
          "Cannot ignore scripts-not-allowed: a critical finding is never accepted"}},
    };
    for (const Case& c : refused) {
        auto result = run(c.options, {package});
        EXPECT_EQ(result.exitCode, 1) << c.lines[0];
        EXPECT_THAT(result.out, IsEmpty()) << "no package is looked at";
        EXPECT_EQ(result.findings, c.lines);
    }
}

TEST_F(AcceptanceTest, BaselinesThatCannotBeReadEndTheRunBeforeAnyPackage)
{
    const std::string package = build(cleanPackage());
    const std::string fifo = work / "fifo.jsonl";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string huge = work / "huge.jsonl";
    TestKit::writeFile(huge, "");
    ASSERT_EQ(::truncate(huge.c_str(), off_t(1) << 30), 0);  // 1 GiB, sparse
    // One line of 100 MB.
    const std::string longLine = work / "long.jsonl";
    {
        std::ofstream out(longLine);
        const std::string block(1 << 20, 'x');
        out << "\"";
        for (int i = 0; i < 100; ++i)
            out << block;
        out << "\"\n";
    }
    const std::string wide = work / "wide.jsonl";
    TestKit::writeFile(wide, "{\"type\":\"summary\"}\n\"" + std::string(3 << 20, 'x') + "\"\n");
    const std::string text = work / "text.jsonl";
    TestKit::writeFile(text, "Processing app.rpm...\n");
    const std::string types = work / "types.jsonl";
    TestKit::writeFile(types, R"({"type":"finding","package":"a","severity":"error","rule":"r","args":"x"})" "\n");
    const std::string old = work / "old.jsonl";
    TestKit::writeFile(old, R"({"type":"finding","package":"a","severity":"error","group":"package","code":0,"text":"t"})"
                            "\n");

    struct Case {
        std::string path;
        std::string reason;
    };
    const Case cases[] = {
        {fifo, "not a regular file"},
        {work.path(), "not a regular file"},
        {work / "missing.jsonl", "No such file or directory"},
        {huge, "larger than 64 MiB"},
        {longLine, "larger than 64 MiB"},
        {wide, "line 2 is longer than 1 MiB"},
        {text, "line 1: not JSON (syntax error)"},
        {types, "line 1: a finding without an \"args\" array"},
        {old, "line 1: a finding without \"package\", \"rule\" and \"severity\" strings (a report of an older vetrik?)"},
    };
    for (const Case& c : cases) {
        TestKit::RunOptions options;
        options.timeoutSeconds = 60;
        auto result = vetrik({"--color", "never", "-p", "regular", "--baseline", c.path, package}, options);
        EXPECT_FALSE(result.run.timedOut) << c.path;
        EXPECT_EQ(result.exitCode, 1) << c.path;
        EXPECT_THAT(result.out, IsEmpty()) << c.path;
        EXPECT_THAT(result.findings, ElementsAre("Cannot read the baseline " + c.path + ": " + c.reason));
        // Memory stays bounded whatever the file holds.
        EXPECT_LT(result.run.maxRssKiB, 200 * 1024) << c.path;
    }
}

} // namespace
