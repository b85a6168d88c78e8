// The records a package's child writes for the report, byte for byte, and
// the parent's reading of them, which trusts nothing it reads.

#include "app/report/ReportRecords.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace Validator {
namespace {

std::string field(std::string_view bytes)
{
    const auto length = static_cast<std::uint32_t>(bytes.size());
    std::string out(sizeof length, '\0');
    std::memcpy(out.data(), &length, sizeof length);
    return out + std::string(bytes);
}

std::string findingRecord(LogLevel level, std::string_view group, std::size_t code, std::string_view rule,
                          std::string_view text, std::vector<std::string_view> arguments,
                          std::optional<std::string_view> path, AcceptedBy acceptedBy = AcceptedBy::None)
{
    const Message message {level, std::string(text)};
    return ReportRecords::finding(RecordedFinding {group, code, rule, message, arguments, path, acceptedBy});
}

// The fields of a finding record after its kind, as the reader expects them.
std::string findingFields(std::string_view level, std::string_view accepted, std::string_view hasPath,
                          std::string_view path, std::string_view count)
{
    return field(level) + field("g") + field("1") + field("rule-name") + field("t") + field(accepted) + field(hasPath)
        + field(path) + field(count);
}

TEST(ReportRecordsTest, RecordsAreAKindByteAndLengthPrefixedFields)
{
    EXPECT_EQ(findingRecord(LogLevel::Critical, "desktop", 12, "desktop-x", "[desktop] x", {}, std::nullopt),
              "F" + field("2") + field("desktop") + field("12") + field("desktop-x") + field("[desktop] x") + field("0")
                  + field("0") + field("") + field("0"));
    // Raw arguments and path, as the check gave them; the acceptance as a number.
    EXPECT_EQ(findingRecord(LogLevel::Warning, "package content", 13, "file-group-or-world-writable-tolerated",
                            "[/a\\x1b] Group or World writable file", {"/a\x1b", "file"}, "/a\x1b",
                            AcceptedBy::Baseline),
              "F" + field("0") + field("package content") + field("13") + field("file-group-or-world-writable-tolerated")
                  + field("[/a\\x1b] Group or World writable file") + field("2") + field("1") + field("/a\x1b")
                  + field("2") + field("/a\x1b") + field("file"));
    EXPECT_EQ(ReportRecords::header({"org.example.app", "1.0", "2", "noarch"}),
              "H" + field("org.example.app") + field("1.0") + field("2") + field("noarch"));
    EXPECT_EQ(ReportRecords::profile("regular"), "P" + field("regular"));
    EXPECT_EQ(ReportRecords::profileSource("option"), "S" + field("option"));
    EXPECT_EQ(ReportRecords::notValidated(""), "N" + field(""));
}

TEST(ReportRecordsTest, WhatIsReadWritesBackToTheSameRecords)
{
    const std::string bytes = ReportRecords::profile("mdm") + ReportRecords::header({"n\x01", "v", "r", "a"})
        + findingRecord(LogLevel::Error, "binary", 14, "library-not-allowed", "[l] Library is not allowed", {"l"},
                        "/usr/bin/n", AcceptedBy::Ignore)
        + findingRecord(LogLevel::Info, "package content", 17, "symlink-notice", "[/x] Beware", {"/x"}, "/x");
    PackageReport report;
    ASSERT_TRUE(ReportRecords::read(bytes, report));
    ASSERT_TRUE(report.header);
    EXPECT_EQ(report.header->name, "n\x01");
    ASSERT_EQ(report.findings.size(), 2u);
    EXPECT_EQ(report.findings[0].rule, "library-not-allowed");
    EXPECT_EQ(report.findings[0].arguments, std::vector<std::string> {"l"});
    EXPECT_EQ(report.findings[0].path, "/usr/bin/n");
    EXPECT_EQ(report.findings[0].acceptedBy, AcceptedBy::Ignore);
    std::string again = ReportRecords::profile(report.profile) + ReportRecords::header(*report.header);
    for (const Finding& finding : report.findings)
        again += ReportRecords::finding(finding);
    EXPECT_EQ(again, bytes);
}

TEST(ReportRecordsTest, ReadingStopsAtTheFirstRecordThatIsCutShortOrMalformed)
{
    const std::string good = ReportRecords::profile("mdm") + ReportRecords::profileSource("verified-certificate")
        + findingRecord(LogLevel::Error, "package", 4, "hardcoded-home-path", "[/a\nb] Hardcoded path found",
                        {"/a\nb"}, "/a\nb");
    const std::string last = findingRecord(LogLevel::Warning, "icon", 0, "icon-x", "[i] w", {"i"}, std::nullopt);
    // Records a malformed one hides: nothing after it is taken.
    const std::string after = ReportRecords::notValidated("after") + last;
    const std::string header = ReportRecords::header({"n", "v", "r", "a"});
    struct Case {
        const char* what;
        std::string tail;
        bool whole;
        std::size_t findings;
    };
    const Case cases[] = {
        {"nothing after", "", true, 1},
        {"whole records", after, true, 2},
        {"a record cut short by a crash", last.substr(0, last.size() - 1), false, 1},
        {"a header cut short", header.substr(0, header.size() - 1), false, 1},
        {"a length cut short", "P" + field("regular").substr(0, 3), false, 1},
        {"a length without its bytes", "P" + field("regular").substr(0, 6), false, 1},
        {"an unknown kind", "X" + field("x") + after, false, 1},
        {"a level that is no number", "F" + findingFields("one", "0", "0", "", "0") + after, false, 1},
        {"a level outside the four", "F" + findingFields("7", "0", "0", "", "0") + after, false, 1},
        {"a negative code", "F" + field("1") + field("g") + field("-1") + field("r") + field("t") + field("0")
                                + field("0") + field("") + field("0") + after, false, 1},
        {"a code with trailing bytes", "F" + field("1") + field("g") + field("1x") + field("r") + field("t")
                                          + field("0") + field("0") + field("") + field("0") + after, false, 1},
        {"an unknown acceptance", "F" + findingFields("1", "3", "0", "", "0") + after, false, 1},
        {"an accepted critical finding", "F" + findingFields("2", "1", "0", "", "0") + after, false, 1},
        {"a path flag other than 0 and 1", "F" + findingFields("1", "0", "2", "", "0") + after, false, 1},
        {"a path without its flag", "F" + findingFields("1", "0", "0", "/p", "0") + after, false, 1},
        {"an argument count that is no number", "F" + findingFields("1", "0", "0", "", "x") + after, false, 1},
        {"more arguments than bytes", "F" + findingFields("1", "0", "0", "", "4000000000") + field("a") + after, false,
         1},
    };
    for (const Case& c : cases) {
        PackageReport report;
        EXPECT_EQ(ReportRecords::read(good + c.tail, report), c.whole) << c.what;
        EXPECT_EQ(report.profile, "mdm") << c.what;
        EXPECT_EQ(report.profileSource, "verified-certificate") << c.what;
        ASSERT_EQ(report.findings.size(), c.findings) << c.what;
        EXPECT_EQ(report.findings[0].level, LogLevel::Error) << c.what;
        EXPECT_EQ(report.findings[0].group, "package") << c.what;
        EXPECT_EQ(report.findings[0].code, 4u) << c.what;
        EXPECT_EQ(report.findings[0].rule, "hardcoded-home-path") << c.what;
        EXPECT_EQ(report.findings[0].text, "[/a\nb] Hardcoded path found") << c.what;
        EXPECT_EQ(report.findings[0].arguments, std::vector<std::string> {"/a\nb"}) << c.what;
        EXPECT_EQ(report.findings[0].path, "/a\nb") << c.what;
        EXPECT_FALSE(report.header) << c.what;
        EXPECT_EQ(report.outcome, c.findings == 2 ? PackageOutcome::NotValidated : PackageOutcome::Passed) << c.what;
    }
}

} // namespace
} // namespace Validator
