#include "app/report/ReportChannel.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <sys/mman.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace Validator {

namespace {

// Record kinds; each is followed by its fields, every field a 32-bit length
// in this machine's byte order and that many bytes.
constexpr char kFinding = 'F';      // level, group, code, text
constexpr char kProfile = 'P';      // profile name
constexpr char kProfileSource = 'S'; // how it was chosen
constexpr char kNotValidated = 'N'; // reason

void writeAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // The text output stays whole; the report then misses this
            // record, which is all a full memory can cost.
            return;
        }
        done += static_cast<std::size_t>(n);
    }
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

} // namespace

ReportChannel::ReportChannel()
{
    m_fd = ::memfd_create("vetrik-report", MFD_CLOEXEC);
    if (m_fd < 0)
        throw std::system_error(errno, std::generic_category(), "cannot make the report channel");
}

ReportChannel::~ReportChannel()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void ReportChannel::append(char kind, std::initializer_list<std::string_view> fields)
{
    std::string record(1, kind);
    for (std::string_view field : fields) {
        const auto length = static_cast<std::uint32_t>(field.size());
        record.append(reinterpret_cast<const char*>(&length), sizeof length);
        record.append(field.substr(0, length));
    }
    // One write per record, so a record is either whole or the last one.
    writeAll(m_fd, record);
}

void ReportChannel::found(std::string_view group, std::size_t code, const Message& message)
{
    const std::string level = std::to_string(static_cast<std::int32_t>(message.level));
    const std::string number = std::to_string(code);
    append(kFinding, {level, group, number, message.text});
}

void ReportChannel::profileChosen(std::string_view profile, std::string_view source)
{
    append(kProfile, {profile});
    append(kProfileSource, {source});
}

void ReportChannel::notValidated(std::string_view reason)
{
    append(kNotValidated, {reason});
}

void ReportChannel::collect(PackageReport& report) const
{
    struct stat st {};
    if (::fstat(m_fd, &st) != 0 || st.st_size <= 0)
        return;
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pread(m_fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);

    RecordReader reader(bytes);
    while (!reader.atEnd()) {
        const char kind = reader.kind();
        if (kind == kFinding) {
            std::string_view level, group, code, text;
            if (!reader.field(level) || !reader.field(group) || !reader.field(code) || !reader.field(text))
                return;
            Finding finding;
            std::int32_t levelNumber = 0;
            if (!parseNumber(level, levelNumber) || !parseNumber(code, finding.code))
                return;
            finding.level = static_cast<LogLevel>(levelNumber);
            finding.group = group;
            finding.text = text;
            report.findings.push_back(std::move(finding));
        } else if (kind == kProfile || kind == kProfileSource || kind == kNotValidated) {
            std::string_view value;
            if (!reader.field(value))
                return;
            if (kind == kProfile) {
                report.profile = value;
            } else if (kind == kProfileSource) {
                report.profileSource = value;
            } else {
                report.outcome = PackageOutcome::NotValidated;
                report.reason = value;
            }
        } else {
            return;
        }
    }
}

} // namespace Validator
