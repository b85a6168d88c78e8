// The records a package's child writes for the report, byte for byte, and
// the parent's reading of them, which trusts nothing it reads.

#include "app/report/ReportRecords.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace Validator {
namespace {

std::string field(std::string_view bytes)
{
    const auto length = static_cast<std::uint32_t>(bytes.size());
    std::string out(sizeof length, '\0');
    std::memcpy(out.data(), &length, sizeof length);
    return out + std::string(bytes);
}

TEST(ReportRecordsTest, RecordsAreAKindByteAndLengthPrefixedFields)
{
    EXPECT_EQ(ReportRecords::finding("desktop", 12, Message {LogLevel::Critical, "[desktop] x"}),
              "F" + field("2") + field("desktop") + field("12") + field("[desktop] x"));
    EXPECT_EQ(ReportRecords::profile("regular"), "P" + field("regular"));
    EXPECT_EQ(ReportRecords::profileSource("option"), "S" + field("option"));
    EXPECT_EQ(ReportRecords::notValidated(""), "N" + field(""));
}

TEST(ReportRecordsTest, ReadingStopsAtTheFirstRecordThatIsCutShortOrMalformed)
{
    const std::string good = ReportRecords::profile("mdm") + ReportRecords::profileSource("verified-certificate")
        + ReportRecords::finding("package", 4, Message {LogLevel::Error, "[/a\nb] Hardcoded path found"});
    const std::string last = ReportRecords::finding("icon", 0, Message {LogLevel::Warning, "[i] w"});
    // Records a malformed one hides: nothing after it is taken.
    const std::string after = ReportRecords::notValidated("after") + last;
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
        {"a length cut short", "P" + field("regular").substr(0, 3), false, 1},
        {"a length without its bytes", "P" + field("regular").substr(0, 6), false, 1},
        {"an unknown kind", "X" + field("x") + after, false, 1},
        {"a level that is no number", "F" + field("one") + field("g") + field("1") + field("t") + after, false, 1},
        {"a level outside the four", "F" + field("7") + field("g") + field("1") + field("t") + after, false, 1},
        {"a negative code", "F" + field("1") + field("g") + field("-1") + field("t") + after, false, 1},
        {"a code with trailing bytes", "F" + field("1") + field("g") + field("1x") + field("t") + after, false, 1},
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
        EXPECT_EQ(report.findings[0].text, "[/a\nb] Hardcoded path found") << c.what;
        EXPECT_EQ(report.outcome, c.findings == 2 ? PackageOutcome::NotValidated : PackageOutcome::Passed) << c.what;
    }
}

} // namespace
} // namespace Validator
