#include "core/FindingAcceptance.h"

#include <cstdint>

namespace Validator {

namespace {

void appendField(std::string& key, std::string_view field)
{
    const std::uint64_t length = field.size();
    key.append(reinterpret_cast<const char*>(&length), sizeof length);
    key.append(field);
}

template <typename Argument>
std::string baselineKey(std::string_view package, std::string_view rule, std::span<const Argument> arguments)
{
    std::string key;
    appendField(key, package);
    appendField(key, rule);
    for (const Argument& argument : arguments)
        appendField(key, argument);
    return key;
}

} // namespace

void FindingAcceptance::ignore(std::string rule)
{
    m_ignored.insert(std::move(rule));
}

void FindingAcceptance::acceptFromBaseline(std::string_view package, std::string_view rule,
                                           std::span<const std::string> arguments)
{
    m_baseline.insert(baselineKey(package, rule, arguments));
}

AcceptedBy FindingAcceptance::acceptedBy(std::string_view package, std::string_view rule,
                                         std::span<const std::string_view> arguments) const
{
    if (m_ignored.find(rule) != m_ignored.end())
        return AcceptedBy::Ignore;
    if (!m_baseline.empty() && m_baseline.count(baselineKey(package, rule, arguments)))
        return AcceptedBy::Baseline;
    return AcceptedBy::None;
}

} // namespace Validator
