#include "app/report/ReportFormat.h"

#include "common/VisibleText.h"

#include <boost/json.hpp>

#include <cmath>
#include <cstdint>

namespace Validator {

namespace {

boost::json::string jsonText(std::string_view text)
{
    // JSON strings must be valid UTF-8; the text output's escaping gives
    // that and keeps both records equal.
    return boost::json::string(Common::visibleText(text));
}

// One object per finding, then one for the package, each on a line of its
// own, so a reader can stream the file and group by "package".
class JsonLinesReport final : public ReportFormat {
public:
    std::string begin() override { return {}; }
    std::string end() override { return {}; }

    std::string package(const PackageReport& report) override
    {
        std::string out;
        const boost::json::string package = jsonText(report.package);
        for (const Finding& finding : report.findings) {
            boost::json::object line;
            line["type"] = "finding";
            line["package"] = package;
            line["severity"] = severityName(finding.level);
            line["group"] = jsonText(finding.group);
            line["code"] = finding.code;
            line["text"] = jsonText(finding.text);
            out += boost::json::serialize(line);
            out += '\n';
        }
        boost::json::object line;
        line["type"] = "package";
        line["package"] = package;
        line["outcome"] = outcomeName(report.outcome);
        if (report.profile.empty())
            line["profile"] = nullptr;
        else
            line["profile"] = jsonText(report.profile);
        if (report.profileSource.empty())
            line["profile_source"] = nullptr;
        else
            line["profile_source"] = jsonText(report.profileSource);
        if (report.outcome == PackageOutcome::NotValidated)
            line["reason"] = jsonText(report.reason);
        line["findings"] = report.findings.size();
        line["milliseconds"] = static_cast<std::int64_t>(std::llround(report.seconds * 1000));
        out += boost::json::serialize(line);
        out += '\n';
        return out;
    }
};

} // namespace

std::unique_ptr<ReportFormat> makeJsonLinesReport()
{
    return std::make_unique<JsonLinesReport>();
}

} // namespace Validator
