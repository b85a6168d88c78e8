#include "package/CpioEntryGuard.h"

#include <algorithm>
#include <string_view>
#include <sys/stat.h>

namespace Validator {

namespace {

constexpr std::size_t kHeaderSize = 110;
// Names longer than any path the kernel accepts are refused before they are
// buffered.
constexpr std::uint64_t kMaxNameSize = 4096;

bool parseHex(std::string_view field, std::uint64_t& value)
{
    value = 0;
    for (char c : field) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        value = value * 16 + static_cast<std::uint64_t>(digit);
    }
    return true;
}

std::uint64_t padTo4(std::uint64_t offset)
{
    return (4 - offset % 4) % 4;
}

} // namespace

void CpioEntryGuard::refuse(std::string reason)
{
    m_state = State::Refused;
    m_reason = std::move(reason);
}

CpioEntryGuard::State CpioEntryGuard::feed(const char* data, std::size_t length)
{
    while (length > 0 && m_state == State::Reading) {
        std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(m_need, length));
        if (m_phase != Phase::Data)
            m_buffer.append(data, take);
        data += take;
        length -= take;
        m_need -= take;
        m_offset += take;
        if (m_need > 0)
            continue;
        switch (m_phase) {
        case Phase::Header:
            headerComplete();
            break;
        case Phase::Name:
            nameComplete();
            break;
        case Phase::Data:
            m_phase = Phase::Header;
            m_need = kHeaderSize;
            m_buffer.clear();
            m_entryStart = m_offset;
            break;
        }
    }
    return m_state;
}

std::uint64_t CpioEntryGuard::skippable() const
{
    if (m_state == State::Finished)
        return UINT64_MAX;
    return m_state == State::Reading && m_phase == Phase::Data ? m_need : 0;
}

void CpioEntryGuard::skip(std::uint64_t length)
{
    if (m_state != State::Reading || m_phase != Phase::Data)
        return;
    m_need -= std::min(length, m_need);
    m_offset += length;
    if (m_need == 0) {
        m_phase = Phase::Header;
        m_need = kHeaderSize;
        m_buffer.clear();
        m_entryStart = m_offset;
    }
}

std::uint64_t CpioEntryGuard::wanted() const
{
    return m_state == State::Reading && m_phase != Phase::Data ? m_need : 0;
}

void CpioEntryGuard::headerComplete()
{
    std::string_view header(m_buffer);
    if (header.substr(0, 6) != "070701" && header.substr(0, 6) != "070702")
        return refuse("unexpected archive format");
    // Thirteen 8-digit hexadecimal fields follow the magic.
    std::uint64_t fields[13];
    for (int i = 0; i < 13; ++i) {
        if (!parseHex(header.substr(6 + 8 * i, 8), fields[i]))
            return refuse("malformed archive header");
    }
    m_mode = static_cast<std::uint32_t>(fields[1]);
    m_links = fields[4];
    std::uint64_t fileSize = fields[6];
    m_fileSize = fileSize;
    m_nameSize = fields[11];
    if (m_nameSize == 0 || m_nameSize > kMaxNameSize)
        return refuse("malformed archive entry name");
    // The name and its NUL are padded so that header plus name end on a
    // multiple of four; so is the data. The name is judged as soon as its
    // last byte arrives, before any byte after it is forwarded.
    m_need = m_nameSize;
    m_dataSize = padTo4(m_offset + m_nameSize) + fileSize + padTo4(fileSize);
    m_phase = Phase::Name;
    m_buffer.clear();
}

void CpioEntryGuard::nameComplete()
{
    std::string name = m_buffer;
    if (name.empty() || name.back() != '\0')
        return refuse("malformed archive entry name");
    name.pop_back();
    if (name.find('\0') != std::string::npos)
        return refuse("malformed archive entry name");

    if (name == "TRAILER!!!") {
        m_state = State::Finished;
        return;
    }
    if (name.empty() || name.front() == '/')
        return refuse("archive entry with an absolute name: " + name);

    // Walk the components: no "..", and no prefix that the archive itself
    // made a symbolic link (writing through it would leave the root).
    std::string normalised;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        if (end == std::string::npos)
            end = name.size();
        std::string_view component(name.data() + start, end - start);
        if (component == "..")
            return refuse("archive entry with a \"..\" component: " + name);
        if (!component.empty() && component != ".") {
            if (!normalised.empty() && m_symlinks.count(normalised))
                return refuse("archive entry below a symbolic link: " + name);
            if (!normalised.empty())
                normalised += '/';
            normalised.append(component);
        }
        start = end + 1;
    }
    if (S_ISLNK(m_mode))
        m_symlinks.insert(normalised);
    if (m_observer)
        m_observer({std::move(normalised), m_mode, m_links, m_fileSize, m_offset + m_dataSize});

    m_buffer.clear();
    if (m_dataSize == 0) {
        m_phase = Phase::Header;
        m_need = kHeaderSize;
        m_entryStart = m_offset;
    } else {
        m_phase = Phase::Data;
        m_need = m_dataSize;
    }
}

} // namespace Validator
