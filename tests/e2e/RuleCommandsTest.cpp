// From a finding line to its rule and back: --rule-names, --list-rules,
// --explain and --summary.

#include "DriverFixture.h"
#include "Findings.h"
#include "Fixtures.h"
#include "TestKit.h"
#include "Vetrik.h"

#include <boost/json.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const std::string N = "org.example.named";

class RuleCommandsTest : public TestKit::DriverFixture {
protected:
    std::string findingsPackage()
    {
        TestKit::Package package = TestKit::validApplication(N, work.path());
        package.vendor = "kestil";
        package.entries.push_back(TestKit::file("/opt/stray", "x"));
        package.entries.push_back(TestKit::symlink("/usr/share/" + N + "/link", "data.txt"));
        package.scriptPrograms = {{"posttrans", "/usr/bin/true"}};
        return build(package);
    }

    // Every rule's line of --list-rules, by rule name.
    std::map<std::string, std::string> listed(const std::vector<std::string>& options)
    {
        std::vector<std::string> arguments = {"--list-rules"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        auto result = vetrik(arguments);
        EXPECT_EQ(result.exitCode, 0) << result.rawErr;
        EXPECT_THAT(result.findings, IsEmpty());
        std::map<std::string, std::string> lines;
        for (const std::string& line : result.out)
            lines[line.substr(0, line.find('\t'))] = line;
        EXPECT_EQ(lines.size(), result.out.size()) << "each rule once";
        return lines;
    }
};

TEST_F(RuleCommandsTest, RuleNamesEndEachFindingLineWithTheRuleTheReportNames)
{
    const std::string package = findingsPackage();
    const std::string report = work / "run.jsonl";
    auto plain = vetrik({"--color", "never", "-p", "regular", package});
    auto named = vetrik({"--color", "never", "-p", "regular", "--rule-names", "--report", report, package});
    EXPECT_EQ(named.exitCode, plain.exitCode);
    EXPECT_EQ(named.out, plain.out);

    std::vector<std::string> expected;
    std::ifstream in(report);
    std::map<std::string, std::string> tags = {
        {"warning", "(WARNING)\t"}, {"error", "(ERROR)\t\t"}, {"critical", "(CRITICAL)\t"}, {"info", "(INFO)\t\t"}};
    for (std::string line; std::getline(in, line);) {
        const boost::json::object record = boost::json::parse(line).as_object();
        if (record.at("type") != "finding")
            continue;
        expected.push_back(tags[std::string(record.at("severity").as_string())]
                           + std::string(record.at("text").as_string()) + " ["
                           + std::string(record.at("rule").as_string()) + "]");
    }
    EXPECT_EQ(TestKit::findingLines(named.findings), expected);
    // The same lines as without the option, but for their ends.
    std::vector<std::string> stripped;
    for (const std::string& line : TestKit::findingLines(named.findings))
        stripped.push_back(line.substr(0, line.rfind(" [")));
    EXPECT_EQ(stripped, TestKit::findingLines(plain.findings));
    EXPECT_GE(expected.size(), 4u);
}

TEST_F(RuleCommandsTest, ListRulesSaysWhatEachProfileChecks)
{
    const auto regular = listed({});
    const auto sameRegular = listed({"-p", "regular"});
    const auto extended = listed({"-p", "extended"});
    const auto mdm = listed({"--profile", "mdm"});
    EXPECT_EQ(regular, sameRegular);
    EXPECT_EQ(regular.size(), 113u);
    struct Case {
        std::string rule;
        std::string regular;
        std::string extended;
    };
    const Case cases[] = {
        {"icon-missing-or-wrong-size", "icon\terror\tchecked", "icon\terror\tnot-checked"},
        {"desktop-file-missing", "desktop\terror\tchecked", "desktop\terror\tnot-checked"},
        {"desktop-file-missing-unchecked", "desktop\twarning\tnot-checked", "desktop\twarning\tchecked"},
        {"scripts-not-allowed", "package content\tcritical\tchecked", "package content\tcritical\tchecked"},
        {"sandbox-system-service-user", "sandbox section\terror\tnot-checked", "sandbox section\terror\tnot-checked"},
        {"provides-marker-missing", "package content\terror\tnot-checked", "package content\terror\tnot-checked"},
        {"symlink-notice", "package content\tinfo\tchecked", "package content\tinfo\tchecked"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(regular.at(c.rule), c.rule + "\t" + c.regular);
        EXPECT_EQ(extended.at(c.rule), c.rule + "\t" + c.extended);
    }
    EXPECT_EQ(mdm.at("sandbox-system-service-user"), "sandbox-system-service-user\tsandbox section\terror\tchecked");
    // Only the last column differs from profile to profile.
    for (const auto& [rule, line] : regular)
        EXPECT_EQ(extended.at(rule).substr(0, extended.at(rule).rfind('\t')), line.substr(0, line.rfind('\t')));

    auto unknown = vetrik({"--list-rules", "-p", "Regular"});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_THAT(unknown.out, IsEmpty());
    EXPECT_THAT(unknown.findings,
                ElementsAre("Unknown profile \"Regular\": choose one of regular, extended, mdm, antivirus, auth, "
                            "market, systemapp, pwa"));
}

TEST_F(RuleCommandsTest, ExplainPrintsEachRuleOrRefusesUnknownOnes)
{
    auto result = vetrik({"--explain", "rpath-empty", "sandbox-permission-not-allowed"});
    EXPECT_EQ(result.exitCode, 0) << result.rawErr;
    ASSERT_GE(result.out.size(), 10u);
    EXPECT_EQ(result.out[0], "rpath-empty");
    EXPECT_EQ(result.out[1], "  warning of the group \"binary\", code 3; checked under regular, extended, mdm,");
    EXPECT_EQ(result.out[3], "  Finding: [rpath] The rpath in binary is empty");
    const auto second = std::find(result.out.begin(), result.out.end(), "sandbox-permission-not-allowed");
    ASSERT_NE(second, result.out.end());
    EXPECT_EQ(*(second - 1), "") << "a blank line between two explanations";
    EXPECT_NE(std::find(second, result.out.end(), "    pwa: regular's and PwaRunner"), result.out.end());

    struct Case {
        std::vector<std::string> arguments;
        std::vector<std::string> lines;
    };
    const Case refused[] = {
        {{"--explain"}, {"--explain needs the name of a rule: vetrik --list-rules lists them"}},
        {{"--explain", "rpath-empty", "rpath"}, {"Unknown rule \"rpath\": vetrik --list-rules lists them"}},
    };
    for (const Case& c : refused) {
        auto refusedResult = vetrik(c.arguments);
        EXPECT_EQ(refusedResult.exitCode, 1);
        EXPECT_THAT(refusedResult.out, IsEmpty());
        EXPECT_EQ(refusedResult.findings, c.lines);
    }
}

TEST_F(RuleCommandsTest, SummaryEndsTheRunWithItsTotalsAlsoWithJobs)
{
    const std::string findings = findingsPackage();
    const std::string clean = build(cleanPackage());
    const std::string text = work / "notes.rpm";
    TestKit::writeFile(text, "not a package\n");
    auto plain = vetrik({"--color", "never", "-p", "regular", findings, clean, text});
    std::map<std::string, std::size_t> printed;
    for (const std::string& line : TestKit::findingLines(plain.findings))
        ++printed[line.substr(1, line.find(')') - 1)];
    const auto counted = [&printed](const char* tag, const std::string& one) {
        const std::size_t count = printed[tag];
        return std::to_string(count) + " " + one + (count == 1 ? "" : "s");
    };
    ASSERT_GT(printed["INFO"], 0u);
    const std::string totals = "3 packages: 1 passed, 1 failed, 1 not validated; " + std::to_string(printed["CRITICAL"])
        + " critical, " + counted("ERROR", "error") + ", " + counted("WARNING", "warning") + ", "
        + std::to_string(printed["INFO"]) + " info";
    for (const char* jobs : {"1", "3"}) {
        auto result = vetrik({"--color", "never", "-p", "regular", "--summary", "--jobs", jobs, findings, clean, text});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.findings, plain.findings) << jobs;
        ASSERT_EQ(result.out.size(), plain.out.size() + 1) << jobs;
        EXPECT_EQ(result.out.back(), totals) << jobs;
    }
}

} // namespace
