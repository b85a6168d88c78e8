#include "app/report/ReportRecords.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <initializer_list>

namespace Validator::ReportRecords {

namespace {

// Record kinds, each with its fields.
constexpr char kFinding = 'F';       // level, group, code, text
constexpr char kProfile = 'P';       // profile name
constexpr char kProfileSource = 'S'; // how the profile was chosen
constexpr char kNotValidated = 'N';  // reason

std::string record(char kind, std::initializer_list<std::string_view> fields)
{
    std::string bytes(1, kind);
    for (std::string_view field : fields) {
        // A field beyond 4 GiB is cut to what its length can say, so the
        // record stays readable.
        const auto length = static_cast<std::uint32_t>(std::min<std::size_t>(field.size(), UINT32_MAX));
        bytes.append(reinterpret_cast<const char*>(&length), sizeof length);
        bytes.append(field.substr(0, length));
    }
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

std::string finding(std::string_view group, std::size_t code, const Message& message)
{
    const std::string level = std::to_string(static_cast<std::int32_t>(message.level));
    const std::string number = std::to_string(code);
    return record(kFinding, {level, group, number, message.text});
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
            std::string_view level, group, code, text;
            if (!reader.field(level) || !reader.field(group) || !reader.field(code) || !reader.field(text))
                return false;
            Finding finding;
            std::int32_t levelNumber = 0;
            if (!parseNumber(level, levelNumber) || !knownLevel(levelNumber) || !parseNumber(code, finding.code))
                return false;
            finding.level = static_cast<LogLevel>(levelNumber);
            finding.group = group;
            finding.text = text;
            report.findings.push_back(std::move(finding));
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
