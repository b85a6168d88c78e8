// The machine-readable reports of a run: the same findings as the text, per
// package outcome and profile, and a file that appears whole or not at all.

#include "DriverFixture.h"
#include "Findings.h"
#include "Fixtures.h"
#include "JsonSchema.h"
#include "TestKit.h"
#include "Vetrik.h"

#include <boost/json.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const std::string N = "org.example.reported";

std::string tagOf(const std::string& severity)
{
    if (severity == "warning")
        return "(WARNING)\t";
    if (severity == "error")
        return "(ERROR)\t\t";
    if (severity == "critical")
        return "(CRITICAL)\t";
    return "(INFO)\t\t";
}

std::vector<boost::json::object> readJsonLines(const std::string& path)
{
    std::vector<boost::json::object> objects;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        objects.push_back(boost::json::parse(line).as_object());
    return objects;
}

std::string field(const boost::json::object& object, const char* key)
{
    const boost::json::value* value = object.if_contains(key);
    if (!value || !value->is_string())
        return "<none>";
    return std::string(value->as_string());
}

boost::json::value reportSchema()
{
    const std::string text =
        TestKit::readFile(std::string(TALIRO_SOURCE_DIR) + "/validator/app/report/schema/vetrik-report.schema.json");
    return boost::json::parse(text);
}

class ReportTest : public TestKit::DriverFixture {
protected:
    // Draws a finding of every severity, and one of them twice over.
    std::string findingsPackage()
    {
        TestKit::Package package = TestKit::validApplication(N, work.path());
        package.vendor = "kestil";                                                 // warning
        package.entries.push_back(TestKit::file("/opt/stray", "x"));               // error
        package.entries.push_back(TestKit::file("/opt/stray2", "x"));              // error
        package.entries.push_back(TestKit::symlink("/usr/share/" + N + "/link", "data.txt"));  // info
        package.scriptPrograms = {{"posttrans", "/usr/bin/true"}};                 // critical
        return build(package);
    }

    std::string notAPackage()
    {
        const std::string text = work / "notes.rpm";
        TestKit::writeFile(text, "this is not a package\n");
        return text;
    }

    TestKit::RunResult xmllint(const std::vector<std::string>& arguments)
    {
        std::vector<std::string> argv = {"xmllint"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return TestKit::run(argv);
    }

    std::string xpath(const std::string& file, const std::string& expression)
    {
        std::string out = xmllint({"--xpath", expression, file}).out;
        while (!out.empty() && out.back() == '\n')
            out.pop_back();
        return out;
    }
};

TEST_F(ReportTest, JsonLinesHoldTheTextsFindingsAndEachPackagesOutcome)
{
    const std::string findings = findingsPackage();
    const std::string clean = build(cleanPackage());
    const std::string text = notAPackage();
    const std::string report = work / "run.jsonl";

    for (const bool criticalOnly : {false, true}) {
        std::vector<std::string> arguments = {"--color", "never", "-p", "regular", "--report", report,
                                              "--report-format", "jsonl", findings, clean, text, work.path()};
        if (criticalOnly)
            arguments.insert(arguments.begin(), "--critical-only");
        auto result = vetrik(arguments);
        EXPECT_EQ(result.exitCode, 1) << result.rawErr;

        std::vector<std::string> reported;
        std::vector<std::string> packages;
        for (const boost::json::object& object : readJsonLines(report)) {
            if (field(object, "type") == "finding") {
                EXPECT_EQ(field(object, "package"), findings);
                EXPECT_NE(field(object, "group"), "<none>");
                EXPECT_TRUE(object.at("code").is_number());
                reported.push_back(tagOf(field(object, "severity")) + field(object, "text"));
            } else if (field(object, "type") == "package") {
                packages.push_back(field(object, "package") + " " + field(object, "outcome") + " "
                                   + field(object, "profile") + " " + field(object, "reason"));
            }
        }
        // Exactly the text's findings, in its order, each repeat dropped alike.
        EXPECT_EQ(reported, TestKit::findingLines(result.findings)) << result.rawErr;
        EXPECT_THAT(reported, testing::Contains(testing::StartsWith("(CRITICAL)")));
        EXPECT_THAT(reported, testing::Contains(testing::StartsWith("(INFO)")));
        EXPECT_THAT(reported, testing::Contains(testing::StartsWith("(WARNING)")));
        EXPECT_THAT(packages, ElementsAre(findings + " failed regular <none>", clean + " passed regular <none>",
                                          text + " not-validated regular Couldn't read rpm package",
                                          work.path() + " not-validated <none> not a package file: a directory"));
    }
}

// Each record as the schema in the source tree describes it, on a package
// with findings of all four severities: the rule, arguments and path of
// each finding, the header of each package, the totals of the run.
TEST_F(ReportTest, EveryRecordFollowsTheSchemaWithRulesArgumentsPathsHeadersAndTotals)
{
    const std::string findings = findingsPackage();
    const std::string clean = build(cleanPackage());
    const std::string text = notAPackage();
    const std::string report = work / "run.jsonl";
    auto result = vetrik({"--color", "never", "-p", "regular", "--report", report, findings, clean, text});
    EXPECT_EQ(result.exitCode, 1) << result.rawErr;

    // Rule, group and severity of every rule, as --list-rules gives them.
    std::map<std::string, std::string> rules;
    for (const std::string& line : vetrik({"--list-rules"}).out) {
        const std::size_t tab = line.find('\t');
        rules[line.substr(0, tab)] = line.substr(tab + 1, line.rfind('\t') - tab - 1);
    }

    const boost::json::value schema = reportSchema();
    std::map<std::string, std::size_t> bySeverity;
    std::map<std::string, std::string> shown;  // text: rule, arguments, path
    std::vector<boost::json::object> packages;
    std::optional<boost::json::object> summary;
    const std::vector<boost::json::object> objects = readJsonLines(report);
    for (std::size_t i = 0; i < objects.size(); ++i) {
        const boost::json::object& object = objects[i];
        EXPECT_THAT(TestKit::schemaErrors(schema, object), IsEmpty()) << boost::json::serialize(object);
        const std::string type = field(object, "type");
        if (type == "finding") {
            const std::string rule = field(object, "rule");
            EXPECT_EQ(rules[rule], field(object, "group") + "\t" + field(object, "severity")) << rule;
            EXPECT_FALSE(object.at("suppressed").as_bool());
            ++bySeverity[field(object, "severity")];
            shown[field(object, "text")] = rule + " " + boost::json::serialize(object.at("args")) + " "
                + boost::json::serialize(object.at("path"));
        } else if (type == "package") {
            packages.push_back(object);
        } else {
            EXPECT_EQ(i, objects.size() - 1) << "the summary ends the report";
            summary = object;
        }
    }
    const std::string N_ = N;
    EXPECT_EQ(shown["[vendor] Vendor is set to kestil, this is not recommended"],
              R"(vendor-discouraged ["kestil"] null)");
    EXPECT_EQ(shown["[/opt/stray] Installation not allowed in this location"],
              R"(install-location-not-allowed ["/opt/stray"] "/opt/stray")");
    EXPECT_EQ(shown["[/usr/share/" + N_ + "/link] Beware that symbolic links are only allowed for exclusive paths"],
              "symlink-notice [\"/usr/share/" + N_ + "/link\"] \"/usr/share/" + N_ + "/link\"");
    EXPECT_EQ(shown["[scripts] Script sections are not allowed in RPM"], "scripts-not-allowed [] null");

    ASSERT_EQ(packages.size(), 3u);
    EXPECT_EQ(field(packages[0], "name"), N);
    EXPECT_EQ(field(packages[0], "version"), "1.0");
    EXPECT_EQ(field(packages[0], "release"), "1");
    EXPECT_NE(field(packages[0], "arch"), "<none>");
    EXPECT_EQ(field(packages[1], "name"), "org.example.clean");
    EXPECT_TRUE(packages[2].at("name").is_null());
    EXPECT_TRUE(packages[2].at("arch").is_null());

    // The totals are the text's own.
    std::map<std::string, std::size_t> printed;
    for (const std::string& line : TestKit::findingLines(result.findings))
        ++printed[line.substr(1, line.find(')') - 1)];
    ASSERT_TRUE(summary);
    const boost::json::object& counts = summary->at("findings").as_object();
    EXPECT_EQ(counts.at("critical").to_number<std::size_t>(), printed["CRITICAL"]);
    EXPECT_EQ(counts.at("error").to_number<std::size_t>(), printed["ERROR"]);
    EXPECT_EQ(counts.at("warning").to_number<std::size_t>(), printed["WARNING"]);
    EXPECT_EQ(counts.at("info").to_number<std::size_t>(), printed["INFO"]);
    EXPECT_EQ(printed["CRITICAL"], bySeverity["critical"]);
    EXPECT_GE(printed["INFO"], 1u);
    EXPECT_EQ(boost::json::serialize(*summary).substr(0, boost::json::serialize(*summary).find(",\"findings\"")),
              R"({"type":"summary","packages":3,"passed":1,"failed":1,"not_validated":1)");
    EXPECT_EQ(boost::json::serialize(summary->at("accepted")), R"({"ignore":0,"baseline":0})");
}

TEST_F(ReportTest, JUnitRootCarriesTheTotalsAndFailuresNameTheirRule)
{
    const std::string findings = findingsPackage();
    const std::string clean = build(cleanPackage());
    const std::string text = notAPackage();
    const std::string report = work / "run.xml";
    auto result = vetrik({"--color", "never", "-p", "regular", "--report", report, "--report-format", "junit",
                          findings, clean, text});
    EXPECT_EQ(result.exitCode, 1) << result.rawErr;
    const std::string schema = std::string(TALIRO_SOURCE_DIR) + "/tests/e2e/data/junit.xsd";
    auto valid = xmllint({"--noout", "--schema", schema, report});
    EXPECT_EQ(valid.exitCode, 0) << valid.err;
    for (const char* total : {"tests", "failures", "errors"}) {
        EXPECT_EQ(xpath(report, std::string("string(/testsuites/@") + total + ")"),
                  xpath(report, std::string("sum(/testsuites/testsuite/@") + total + ")"))
            << total;
    }
    EXPECT_EQ(xpath(report, "string(/testsuites/@errors)"), "1");
    EXPECT_NE(xpath(report, "string(/testsuites/@time)"), "");
    // The group's first finding that fails the package is the critical one.
    EXPECT_EQ(xpath(report, "string(/testsuites/testsuite/testcase[@name='package content']/failure/@message)"),
              "scripts-not-allowed: [scripts] Script sections are not allowed in RPM");
    EXPECT_EQ(xpath(report, "count(/testsuites/testsuite/testcase/failure[starts-with(@message, "
                            "'install-location-not-allowed: [/opt/stray]')])"),
              "1");
}

TEST_F(ReportTest, PackageTextIsEscapedAsInTheTextSoBothReportsStayWellFormed)
{
    // A name that is no UTF-8 and holds a line break and markup.
    const std::string awkward = work / "odd\xff\n<&\">.rpm";
    fs::copy_file(build(cleanPackage()), awkward);
    const std::string shown = work / "odd\\xff\\n<&\">.rpm";

    auto json = vetrik({"--color", "never", "-p", "regular", "--report", work / "odd.jsonl", awkward});
    EXPECT_EQ(json.exitCode, 0) << json.rawErr;
    const auto objects = readJsonLines(work / "odd.jsonl");
    ASSERT_EQ(objects.size(), 2u);  // the package and the summary
    EXPECT_EQ(field(objects[0], "package"), shown);

    auto junit = vetrik({"--color", "never", "-p", "regular", "--report", work / "odd.xml", "--report-format", "junit",
                         awkward});
    EXPECT_EQ(junit.exitCode, 0) << junit.rawErr;
    EXPECT_EQ(xmllint({"--noout", work / "odd.xml"}).exitCode, 0);
    EXPECT_EQ(xpath(work / "odd.xml", "string(/testsuites/testsuite/@name)"), shown);
}

TEST_F(ReportTest, JUnitReportIsValidAndFailsOnlyWhatFailsThePackage)
{
    const std::string findings = findingsPackage();
    const std::string clean = build(cleanPackage());
    const std::string text = notAPackage();
    const std::string report = work / "run.xml";
    const std::string schema = fs::path(__FILE__).parent_path() / "data" / "junit.xsd";

    std::map<bool, std::size_t> failingGroups;
    for (const bool criticalOnly : {false, true}) {
        std::vector<std::string> arguments = {"--color", "never", "-p", "regular", findings, clean, text};
        if (criticalOnly)
            arguments.insert(arguments.begin(), "--critical-only");

        // The groups that hold a finding which fails the package, read from
        // the JSON report of the same run.
        std::vector<std::string> withJson = arguments;
        withJson.insert(withJson.begin(), {"--report", work / "run.jsonl"});
        ASSERT_EQ(vetrik(withJson).exitCode, 1);
        std::set<std::string> failing;
        for (const boost::json::object& object : readJsonLines(work / "run.jsonl")) {
            const std::string severity = field(object, "severity");
            if (field(object, "package") == findings
                && (severity == "critical" || (severity == "error" && !criticalOnly)))
                failing.insert(field(object, "group"));
        }
        failingGroups[criticalOnly] = failing.size();

        arguments.insert(arguments.begin(), {"--report", report, "--report-format", "junit"});
        auto result = vetrik(arguments);
        EXPECT_EQ(result.exitCode, 1) << result.rawErr;

        auto valid = xmllint({"--noout", "--schema", schema, report});
        EXPECT_EQ(valid.exitCode, 0) << valid.err;

        EXPECT_EQ(xpath(report, "count(/testsuites/testsuite)"), "3");
        const std::string suite = "/testsuites/testsuite[@name='" + findings + "']";
        EXPECT_EQ(xpath(report, "string(" + suite + "/@tests)"), "13");
        EXPECT_EQ(xpath(report, "string(" + suite + "/@failures)"), std::to_string(failing.size())) << result.rawErr;
        for (const std::string& group : failing)
            EXPECT_EQ(xpath(report, "count(" + suite + "/testcase[@name='" + group + "']/failure)"), "1") << group;
        EXPECT_EQ(xpath(report, "count(" + suite + "/testcase/failure[@type='critical'])"), "1");
        EXPECT_EQ(xpath(report, "string(" + suite + "/properties/property[@name='outcome']/@value)"), "failed");

        const std::string passed = "/testsuites/testsuite[@name='" + clean + "']";
        EXPECT_EQ(xpath(report, "string(" + passed + "/@failures)"), "0");
        EXPECT_EQ(xpath(report, "count(" + passed + "/testcase)"), "13");

        const std::string unread = "/testsuites/testsuite[@name='" + text + "']";
        EXPECT_EQ(xpath(report, "string(" + unread + "/@errors)"), "1");
        EXPECT_EQ(xpath(report, "string(" + unread + "/testcase[@name='validation']/error/@message)"),
                  "Couldn't read rpm package");
    }
    // Errors fail groups only with full checks; the critical script always.
    EXPECT_GT(failingGroups[false], failingGroups[true]);
    EXPECT_GE(failingGroups[true], 1u);
}

TEST_F(ReportTest, BadReportRequestsFailBeforeAnyPackage)
{
    const std::string clean = build(cleanPackage());
    struct Case {
        std::vector<std::string> arguments;
        std::string line;
    };
    const std::string missingDir = work / "no/such/run.jsonl";
    const Case cases[] = {
        {{"--report", work / "r", "--report-format", "yaml"}, "Unknown report format \"yaml\": choose jsonl or junit"},
        {{"--report-format", "junit"}, "--report-format needs --report <file>"},
        {{"--report", missingDir}, "Cannot write the report " + missingDir + ": No such file or directory"},
        {{"--report", work.path()}, "Cannot write the report " + work.path() + ": not a regular file"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments = c.arguments;
        arguments.insert(arguments.end(), {"--color", "never", "-p", "regular", clean});
        auto result = vetrik(arguments);
        EXPECT_EQ(result.exitCode, 1) << c.line;
        EXPECT_THAT(result.out, IsEmpty()) << c.line;
        EXPECT_THAT(result.findings, ElementsAre(c.line));
    }
    // Nothing was left behind by the refused runs.
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(work.path())) {
        if (entry.path().filename().string().starts_with("."))
            left.push_back(entry.path().filename());
    }
    EXPECT_THAT(left, IsEmpty());
}

TEST_F(ReportTest, InterruptedRunLeavesNeitherReportNorTemporaryFile)
{
    requirePrivateTmp();
    const TestKit::Package large = slowPackage();
    const std::string package = build(large);
    const fs::path reports = work / "reports";
    fs::create_directories(reports);

    const std::string script = std::string("\"$@\" & pid=$!\n")
        + "n=0; while ! ls -d /tmp/dir.* >/dev/null 2>&1 && [ $n -lt 2000 ]; do n=$((n+1)); sleep 0.005; done\n"
        + "kill -TERM $pid; wait $pid; echo \"status=$?\"; ls -A '" + reports.string() + "'";
    auto result = withPrivateTmp(script, {"--color", "never", "-p", "regular", "--report",
                                          (reports / "run.jsonl").string(), package, package});
    ASSERT_NE(result.exitCode, 99) << result.err;
    EXPECT_EQ(result.out, "Processing " + package + "...\nstatus=143\n") << result.err;

    // An uninterrupted run puts the whole report in place.
    vetrik({"--color", "never", "-p", "regular", "--report", reports / "run.jsonl", package});
    std::vector<std::string> outcomes;
    for (const boost::json::object& object : readJsonLines(reports / "run.jsonl")) {
        if (field(object, "type") == "package")
            outcomes.push_back(field(object, "outcome"));
    }
    EXPECT_THAT(outcomes, ElementsAre("failed"));
}

} // namespace
