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

std::int64_t milliseconds(double seconds)
{
    return static_cast<std::int64_t>(std::llround(seconds * 1000));
}

// One object per finding, then one for the package, each on a line of its
// own, so a reader can stream the file and group by "package"; one summary
// object ends the run. The fields are described in vetrik(1) and in
// schema/vetrik-report.schema.json.
class JsonLinesReport final : public ReportFormat {
public:
    std::string begin() override { return {}; }

    std::string end(const RunTotals& totals) override
    {
        boost::json::object line;
        line["type"] = "summary";
        line["packages"] = totals.packages();
        line["passed"] = totals.passed;
        line["failed"] = totals.failed;
        line["not_validated"] = totals.notValidated;
        line["findings"] = {
            {"critical", totals.critical},
            {"error", totals.errors},
            {"warning", totals.warnings},
            {"info", totals.infos},
        };
        line["accepted"] = {
            {"ignore", totals.acceptedByIgnore},
            {"baseline", totals.acceptedByBaseline},
        };
        line["milliseconds"] = milliseconds(totals.seconds);
        return boost::json::serialize(line) + '\n';
    }

    std::string package(const PackageReport& report) override
    {
        std::string out;
        const boost::json::string package = jsonText(report.package);
        std::size_t accepted = 0;
        for (const Finding& finding : report.findings) {
            boost::json::object line;
            line["type"] = "finding";
            line["package"] = package;
            line["severity"] = severityName(finding.level);
            line["group"] = jsonText(finding.group);
            line["code"] = finding.code;
            line["rule"] = jsonText(finding.rule);
            line["text"] = jsonText(finding.text);
            boost::json::array arguments;
            for (const std::string& argument : finding.arguments)
                arguments.emplace_back(jsonText(argument));
            line["args"] = std::move(arguments);
            if (finding.path)
                line["path"] = jsonText(*finding.path);
            else
                line["path"] = nullptr;
            line["suppressed"] = finding.accepted();
            if (finding.accepted()) {
                line["suppressed_by"] = acceptedByName(finding.acceptedBy);
                ++accepted;
            }
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
        const auto headerField = [&](const char* key, const std::string PackageHeader::*field) {
            if (report.header)
                line[key] = jsonText((*report.header).*field);
            else
                line[key] = nullptr;
        };
        headerField("name", &PackageHeader::name);
        headerField("version", &PackageHeader::version);
        headerField("release", &PackageHeader::release);
        headerField("arch", &PackageHeader::arch);
        line["findings"] = report.findings.size() - accepted;
        line["accepted"] = accepted;
        line["milliseconds"] = milliseconds(report.seconds);
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
