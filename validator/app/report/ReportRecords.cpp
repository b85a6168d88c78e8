#include "app/report/ReportRecords.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <initializer_list>

namespace Validator::ReportRecords {

namespace {

// Record kinds, each with its fields.
constexpr char kFinding = 'F';       // level, group, code, rule, text, accepted by, has path, path,
                                     // argument count, then the arguments
constexpr char kProfile = 'P';       // profile name
constexpr char kProfileSource = 'S'; // how the profile was chosen
constexpr char kNotValidated = 'N';  // reason
constexpr char kHeader = 'H';        // name, version, release, arch

void appendField(std::string& bytes, std::string_view field)
{
    // A field beyond 4 GiB is cut to what its length can say, so the
    // record stays readable.
    const auto length = static_cast<std::uint32_t>(std::min<std::size_t>(field.size(), UINT32_MAX));
    bytes.append(reinterpret_cast<const char*>(&length), sizeof length);
    bytes.append(field.substr(0, length));
}

std::string record(char kind, std::initializer_list<std::string_view> fields)
{
    std::string bytes(1, kind);
    for (std::string_view field : fields)
        appendField(bytes, field);
    return bytes;
}

class RecordReader {
public:
    explicit RecordReader(std::string_view bytes) : m_bytes(bytes) {}

    bool atEnd() const { return m_offset >= m_bytes.size(); }
    char kind() { return m_bytes[m_offset++]; }

    bool field(std::string_view& out)
    {
        std::uint32_t length = 0;
        if (m_bytes.size() - m_offset < sizeof length)
            return false;
        std::memcpy(&length, m_bytes.data() + m_offset, sizeof length);
        m_offset += sizeof length;
        if (m_bytes.size() - m_offset < length)
            return false;
        out = m_bytes.substr(m_offset, length);
        m_offset += length;
        return true;
    }

private:
    std::string_view m_bytes;
    std::size_t m_offset = 0;
};

template <typename Number>
bool parseNumber(std::string_view text, Number& out)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

bool knownAcceptance(unsigned acceptedBy)
{
    switch (static_cast<AcceptedBy>(acceptedBy)) {
    case AcceptedBy::None:
    case AcceptedBy::Ignore:
    case AcceptedBy::Baseline:
        return true;
    }
    return false;
}

bool knownLevel(std::int32_t level)
{
    switch (static_cast<LogLevel>(level)) {
    case LogLevel::Warning:
    case LogLevel::Error:
    case LogLevel::Critical:
    case LogLevel::Info:
        return true;
    }
    return false;
}

} // namespace

std::string finding(const RecordedFinding& finding)
{
    const std::string level = std::to_string(static_cast<std::int32_t>(finding.message.level));
    const std::string number = std::to_string(finding.code);
    const std::string accepted = std::to_string(static_cast<unsigned>(finding.acceptedBy));
    const std::string count = std::to_string(finding.arguments.size());
    std::string bytes = record(kFinding, {level, finding.group, number, finding.rule, finding.message.text, accepted,
                                          finding.path ? "1" : "0", finding.path.value_or(std::string_view()), count});
    for (std::string_view argument : finding.arguments)
        appendField(bytes, argument);
    return bytes;
}

std::string finding(const Finding& finding)
{
    const std::vector<std::string_view> arguments(finding.arguments.begin(), finding.arguments.end());
    const Message message {finding.level, finding.text};
    return ReportRecords::finding(RecordedFinding {
        finding.group, finding.code, finding.rule, message, arguments,
        finding.path ? std::optional<std::string_view>(*finding.path) : std::nullopt, finding.acceptedBy});
}

std::string header(const PackageHeader& header)
{
    return record(kHeader, {header.name, header.version, header.release, header.arch});
}

std::string profile(std::string_view name)
{
    return record(kProfile, {name});
}

std::string profileSource(std::string_view source)
{
    return record(kProfileSource, {source});
}

std::string notValidated(std::string_view reason)
{
    return record(kNotValidated, {reason});
}

bool read(std::string_view bytes, PackageReport& report)
{
    RecordReader reader(bytes);
    while (!reader.atEnd()) {
        const char kind = reader.kind();
        if (kind == kFinding) {
            std::string_view level, group, code, rule, text, accepted, hasPath, path, count;
            if (!reader.field(level) || !reader.field(group) || !reader.field(code) || !reader.field(rule)
                || !reader.field(text) || !reader.field(accepted) || !reader.field(hasPath) || !reader.field(path)
                || !reader.field(count))
                return false;
            Finding finding;
            std::int32_t levelNumber = 0;
            unsigned acceptedNumber = 0;
            std::size_t arguments = 0;
            if (!parseNumber(level, levelNumber) || !knownLevel(levelNumber) || !parseNumber(code, finding.code)
                || !parseNumber(accepted, acceptedNumber) || !knownAcceptance(acceptedNumber)
                || !parseNumber(count, arguments))
                return false;
            finding.level = static_cast<LogLevel>(levelNumber);
            finding.acceptedBy = static_cast<AcceptedBy>(acceptedNumber);
            // No child of this program accepts a critical finding.
            if (finding.level == LogLevel::Critical && finding.accepted())
                return false;
            if (hasPath == "1")
                finding.path = path;
            else if (hasPath != "0" || !path.empty())
                return false;
            // Nothing is reserved for the count: one larger than the rest
            // can hold fails at the first argument that is not there.
            for (std::size_t i = 0; i < arguments; ++i) {
                std::string_view argument;
                if (!reader.field(argument))
                    return false;
                finding.arguments.emplace_back(argument);
            }
            finding.group = group;
            finding.rule = rule;
            finding.text = text;
            report.findings.push_back(std::move(finding));
        } else if (kind == kHeader) {
            std::string_view name, version, release, arch;
            if (!reader.field(name) || !reader.field(version) || !reader.field(release) || !reader.field(arch))
                return false;
            report.header = PackageHeader {std::string(name), std::string(version), std::string(release),
                                           std::string(arch)};
        } else if (kind == kProfile || kind == kProfileSource || kind == kNotValidated) {
            std::string_view value;
            if (!reader.field(value))
                return false;
            if (kind == kProfile) {
                report.profile = value;
            } else if (kind == kProfileSource) {
                report.profileSource = value;
            } else {
                report.outcome = PackageOutcome::NotValidated;
                report.reason = value;
            }
        } else {
            return false;
        }
    }
    return true;
}

} // namespace Validator::ReportRecords
