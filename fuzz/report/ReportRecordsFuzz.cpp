// Feeds arbitrary bytes to the parent's reading of a report channel, as a
// crashed or misled child could have left them, and renders what was read
// in both report formats. Besides the sanitizers, checks that what was read
// writes back to records that read the same, that every JSON line parses
// and gives each finding's arguments, path and acceptance and the counts,
// and that the JUnit document, totals written over its beginning, is
// well-formed XML.

#include "app/report/ReportFormat.h"
#include "app/report/ReportRecords.h"

#include <QXmlStreamReader>
#include <boost/json.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace {

using namespace Validator;

bool sameHeader(const std::optional<PackageHeader>& a, const std::optional<PackageHeader>& b)
{
    if (!a || !b)
        return !a && !b;
    return a->name == b->name && a->version == b->version && a->release == b->release && a->arch == b->arch;
}

bool sameReport(const PackageReport& a, const PackageReport& b)
{
    if (a.outcome != b.outcome || a.reason != b.reason || a.profile != b.profile
        || a.profileSource != b.profileSource || !sameHeader(a.header, b.header)
        || a.findings.size() != b.findings.size())
        return false;
    for (std::size_t i = 0; i < a.findings.size(); ++i) {
        const Finding& x = a.findings[i];
        const Finding& y = b.findings[i];
        if (x.level != y.level || x.group != y.group || x.code != y.code || x.rule != y.rule || x.text != y.text
            || x.arguments != y.arguments || x.path != y.path || x.acceptedBy != y.acceptedBy)
            return false;
    }
    return true;
}

// The records a child that found what `report` holds would have written.
std::string rewritten(const PackageReport& report)
{
    std::string bytes;
    if (!report.profile.empty())
        bytes += ReportRecords::profile(report.profile);
    if (!report.profileSource.empty())
        bytes += ReportRecords::profileSource(report.profileSource);
    if (report.header)
        bytes += ReportRecords::header(*report.header);
    for (const Finding& finding : report.findings)
        bytes += ReportRecords::finding(finding);
    if (report.outcome == PackageOutcome::NotValidated)
        bytes += ReportRecords::notValidated(report.reason);
    return bytes;
}

void checkJsonLines(const PackageReport& report)
{
    RunTotals totals;
    totals.add(report);
    const std::unique_ptr<ReportFormat> format = makeJsonLinesReport();
    // One statement each: the operands of + may be evaluated in any order,
    // and a format writes its parts in sequence.
    std::string text = format->begin();
    text += format->package(report);
    text += format->end(totals);
    std::size_t findings = 0;
    std::size_t accepted = 0;
    bool summaryLine = false;
    bool packageLine = false;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            std::abort();
        boost::system::error_code ec;
        const boost::json::value line = boost::json::parse(std::string_view(text).substr(start, end - start), ec);
        if (ec || !line.is_object())
            std::abort();
        const boost::json::object& object = line.as_object();
        if (object.at("type") == "finding") {
            if (findings >= report.findings.size())
                std::abort();
            const Finding& finding = report.findings[findings++];
            if (object.at("args").as_array().size() != finding.arguments.size()
                || object.at("path").is_null() != !finding.path || object.at("suppressed").as_bool() != finding.accepted())
                std::abort();
            accepted += finding.accepted() ? 1 : 0;
        } else if (object.at("type") == "package") {
            packageLine = true;
            if (object.at("findings").to_number<std::size_t>() + object.at("accepted").to_number<std::size_t>()
                != report.findings.size())
                std::abort();
        } else {
            summaryLine = true;
            if (object.at("accepted").at("ignore").to_number<std::size_t>()
                    + object.at("accepted").at("baseline").to_number<std::size_t>()
                != accepted)
                std::abort();
        }
        start = end + 1;
    }
    if (!packageLine || !summaryLine || findings != report.findings.size())
        std::abort();
}

void checkJUnit(const PackageReport& report, bool errorsFail)
{
    RunTotals totals;
    totals.add(report);
    const std::unique_ptr<ReportFormat> format = makeJUnitReport(errorsFail);
    std::string document = format->begin();
    document += format->package(report);
    document += format->end(totals);
    // The totals are written over the beginning, as the report file does.
    const std::string head = format->head(totals);
    if (head.size() > document.size())
        std::abort();
    document.replace(0, head.size(), head);
    QXmlStreamReader reader(QByteArray::fromRawData(document.data(), static_cast<int>(document.size())));
    while (!reader.atEnd())
        reader.readNext();
    if (reader.hasError())
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    PackageReport report;
    report.package = "fuzz.rpm";
    ReportRecords::read(input, report);

    PackageReport again;
    again.package = report.package;
    if (!ReportRecords::read(rewritten(report), again) || !sameReport(report, again))
        std::abort();

    checkJsonLines(report);
    checkJUnit(report, size % 2 == 0);
    return 0;
}
