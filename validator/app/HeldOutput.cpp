#include "app/HeldOutput.h"

#include <iostream>

namespace Validator {

HeldOutput::HeldOutput(FindingSink* forward) : m_forward(forward)
{
    std::cout.flush();
    std::cerr.flush();
    m_savedOut = std::cout.rdbuf(&m_out);
    m_savedErr = std::cerr.rdbuf(&m_err);
    m_holding = true;
}

HeldOutput::~HeldOutput()
{
    discard();
}

HeldOutput::Capture::int_type HeldOutput::Capture::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    m_owner.append(m_stream, &ch, 1);
    return c;
}

std::streamsize HeldOutput::Capture::xsputn(const char* data, std::streamsize length)
{
    m_owner.append(m_stream, data, static_cast<std::size_t>(length));
    return length;
}

void HeldOutput::append(int stream, const char* data, std::size_t length)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_pieces.empty() || m_pieces.back().stream != stream)
        m_pieces.push_back({stream, {}});
    m_pieces.back().text.append(data, length);
}

bool HeldOutput::restore()
{
    if (!m_holding)
        return false;
    std::cout.rdbuf(m_savedOut);
    std::cerr.rdbuf(m_savedErr);
    m_holding = false;
    return true;
}

void HeldOutput::release()
{
    if (!restore())
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const Piece& piece : m_pieces) {
        std::ostream& stream = piece.stream == 0 ? std::cout : std::cerr;
        stream << piece.text << std::flush;
    }
    m_pieces.clear();
    m_pieces.shrink_to_fit();
    if (m_forward) {
        for (const HeldFinding& finding : m_findings) {
            if (finding.group.empty()) {
                m_forward->notValidated(finding.message.text);
                continue;
            }
            const std::vector<std::string_view> arguments(finding.arguments.begin(), finding.arguments.end());
            m_forward->found({finding.group, finding.code, finding.rule, finding.message, arguments,
                              finding.path ? std::optional<std::string_view>(*finding.path) : std::nullopt,
                              finding.acceptedBy});
        }
    }
    m_findings.clear();
    m_findings.shrink_to_fit();
}

void HeldOutput::found(const RecordedFinding& finding)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_holding) {
        if (m_forward)
            m_forward->found(finding);
        return;
    }
    m_findings.push_back({std::string(finding.group), finding.code, std::string(finding.rule), finding.message,
                          std::vector<std::string>(finding.arguments.begin(), finding.arguments.end()),
                          finding.path ? std::optional<std::string>(*finding.path) : std::nullopt,
                          finding.acceptedBy});
}

void HeldOutput::discard()
{
    if (!restore())
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pieces.clear();
    m_pieces.shrink_to_fit();
    m_findings.clear();
    m_findings.shrink_to_fit();
}

void HeldOutput::notValidated(std::string_view reason)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_holding) {
        // Held without a group: every finding has one, so release() knows
        // this for the reason, not a finding.
        HeldFinding held;
        held.message = Message {LogLevel::Info, std::string(reason)};
        m_findings.push_back(std::move(held));
    } else if (m_forward)
        m_forward->notValidated(reason);
}

} // namespace Validator
