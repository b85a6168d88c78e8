#include "app/report/ReportFormat.h"

#include "checks/MessageGroups.h"
#include "common/VisibleText.h"

#include <QBuffer>
#include <QXmlStreamWriter>

#include <algorithm>
#include <map>
#include <vector>

namespace Validator {

namespace {

QString xmlText(std::string_view text)
{
    // XML 1.0 admits no control characters even as references; the text
    // output's escaping removes them and keeps both records equal.
    const std::string visible = Common::visibleText(text);
    return QString::fromUtf8(visible.data(), static_cast<int>(visible.size()));
}

std::string_view levelTag(LogLevel level)
{
    switch (level) {
    case LogLevel::Warning:
        return "(WARNING) ";
    case LogLevel::Error:
        return "(ERROR) ";
    case LogLevel::Critical:
        return "(CRITICAL) ";
    case LogLevel::Info:
        break;
    }
    return "(INFO) ";
}

// Room left in the root element's start tag for the run's totals, which are
// written over it once the run has ended: a start tag may end in spaces.
constexpr std::size_t kTotalsRoom = 160;

// One test suite per package and one test case per message group. A group
// fails when it recorded a finding that fails the package, and its failure
// names the rule; every finding of the group is listed in its standard
// output, as the text shows it, accepted ones marked. A package that could
// not be validated has one more case, "validation", in error, and lists only
// the groups that recorded something before that. The root element carries
// the totals of the run.
class JUnitReport final : public ReportFormat {
public:
    explicit JUnitReport(bool errorsFail) : m_errorsFail(errorsFail)
    {
        m_buffer.open(QIODevice::WriteOnly);
        m_xml.setDevice(&m_buffer);
        m_xml.setAutoFormatting(true);
        m_xml.setAutoFormattingIndent(2);
    }

    std::string begin() override
    {
        m_xml.writeStartDocument();
        m_xml.writeStartElement("testsuites");
        m_xml.writeAttribute("name", "vetrik");
        std::string start = take() + std::string(kTotalsRoom, ' ');
        m_beginSize = start.size();
        return start;
    }

    std::string end(const RunTotals&) override
    {
        m_xml.writeEndElement();
        m_xml.writeEndDocument();
        return take();
    }

    std::string head(const RunTotals& totals) override
    {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QXmlStreamWriter xml(&buffer);
        xml.setAutoFormatting(true);
        xml.setAutoFormattingIndent(2);
        xml.writeStartDocument();
        xml.writeStartElement("testsuites");
        xml.writeAttribute("name", "vetrik");
        xml.writeAttribute("tests", QString::number(m_tests));
        xml.writeAttribute("failures", QString::number(m_failures));
        xml.writeAttribute("errors", QString::number(m_errors));
        xml.writeAttribute("time", QString::number(totals.seconds, 'f', 3));
        std::string start = buffer.data().toStdString();
        if (start.size() > m_beginSize)
            return {};
        start.append(m_beginSize - start.size(), ' ');
        return start;
    }

    std::string package(const PackageReport& report) override
    {
        std::map<std::string_view, std::vector<const Finding*>> byGroup;
        for (const Finding& finding : report.findings)
            byGroup[finding.group].push_back(&finding);

        const bool notValidated = report.outcome == PackageOutcome::NotValidated;
        std::vector<std::string_view> groups;
        for (const MessageGroup* group : allMessageGroups()) {
            if (!notValidated || byGroup.count(group->name()))
                groups.push_back(group->name());
        }
        // A group this build does not know cannot come from it, yet is kept.
        for (const auto& [name, findings] : byGroup) {
            if (std::find(groups.begin(), groups.end(), name) == groups.end())
                groups.push_back(name);
        }

        std::size_t failures = 0;
        for (std::string_view group : groups)
            failures += firstFailure(byGroup[group]) != nullptr;

        m_tests += groups.size() + (notValidated ? 1 : 0);
        m_failures += failures;
        m_errors += notValidated ? 1 : 0;

        const QString suite = xmlText(report.package);
        m_xml.writeStartElement("testsuite");
        m_xml.writeAttribute("name", suite);
        m_xml.writeAttribute("tests", QString::number(groups.size() + (notValidated ? 1 : 0)));
        m_xml.writeAttribute("failures", QString::number(failures));
        m_xml.writeAttribute("errors", notValidated ? "1" : "0");
        m_xml.writeAttribute("skipped", "0");
        m_xml.writeAttribute("time", QString::number(report.seconds, 'f', 3));

        m_xml.writeStartElement("properties");
        writeProperty("outcome", xmlText(outcomeName(report.outcome)));
        if (!report.profile.empty())
            writeProperty("profile", xmlText(report.profile));
        if (!report.profileSource.empty())
            writeProperty("profile_source", xmlText(report.profileSource));
        m_xml.writeEndElement();

        for (std::string_view group : groups)
            writeGroup(suite, group, byGroup[group]);
        if (notValidated) {
            m_xml.writeStartElement("testcase");
            m_xml.writeAttribute("name", "validation");
            m_xml.writeAttribute("classname", suite);
            m_xml.writeStartElement("error");
            m_xml.writeAttribute("message", xmlText(report.reason));
            m_xml.writeAttribute("type", "not-validated");
            m_xml.writeEndElement();
            m_xml.writeEndElement();
        }
        m_xml.writeEndElement();
        return take();
    }

private:
    bool fails(const Finding& finding) const
    {
        return !finding.accepted()
            && (finding.level == LogLevel::Critical || (m_errorsFail && finding.level == LogLevel::Error));
    }

    const Finding* firstFailure(const std::vector<const Finding*>& findings) const
    {
        for (const Finding* finding : findings) {
            if (fails(*finding))
                return finding;
        }
        return nullptr;
    }

    void writeProperty(const QString& name, const QString& value)
    {
        m_xml.writeStartElement("property");
        m_xml.writeAttribute("name", name);
        m_xml.writeAttribute("value", value);
        m_xml.writeEndElement();
    }

    void writeGroup(const QString& suite, std::string_view group, const std::vector<const Finding*>& findings)
    {
        m_xml.writeStartElement("testcase");
        m_xml.writeAttribute("name", xmlText(group));
        m_xml.writeAttribute("classname", suite);
        if (const Finding* first = firstFailure(findings)) {
            QString lines;
            for (const Finding* finding : findings) {
                if (fails(*finding))
                    lines += xmlText(levelTag(finding->level)) + xmlText(finding->text) + " [" + xmlText(finding->rule)
                        + "]\n";
            }
            m_xml.writeStartElement("failure");
            m_xml.writeAttribute("message", xmlText(first->rule) + ": " + xmlText(first->text));
            m_xml.writeAttribute("type", xmlText(severityName(first->level)));
            m_xml.writeCharacters(lines);
            m_xml.writeEndElement();
        }
        if (!findings.empty()) {
            QString lines;
            for (const Finding* finding : findings) {
                if (finding->accepted())
                    lines += "(ACCEPTED by --" + xmlText(acceptedByName(finding->acceptedBy)) + ") ";
                lines += xmlText(levelTag(finding->level)) + xmlText(finding->text) + '\n';
            }
            m_xml.writeTextElement("system-out", lines);
        }
        m_xml.writeEndElement();
    }

    std::string take()
    {
        std::string bytes = m_buffer.data().toStdString();
        m_buffer.buffer().clear();
        m_buffer.seek(0);
        return bytes;
    }

    bool m_errorsFail;
    std::size_t m_beginSize = 0;
    std::size_t m_tests = 0;
    std::size_t m_failures = 0;
    std::size_t m_errors = 0;
    QBuffer m_buffer;
    QXmlStreamWriter m_xml;
};

} // namespace

std::unique_ptr<ReportFormat> makeJUnitReport(bool errorsFail)
{
    return std::make_unique<JUnitReport>(errorsFail);
}

} // namespace Validator
