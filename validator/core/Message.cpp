#include "core/Message.h"

#include "common/VisibleText.h"

#include <stdexcept>

namespace Validator {

namespace {

constexpr MessageSpec kConstructionFailure[] = {
    {LogLevel::Info, "[validator] Error while construct message", "validator-message-broken", PathArgument::None,
     "A check of vetrik asked for a message without the values its text needs. This is a fault of vetrik, not of "
     "the package: the finding it stands for is lost, and the package is judged without it. Please report it "
     "together with the package."},
};

constexpr MessageGroup kConstructionFailureGroup("validator", kConstructionFailure);

} // namespace

std::string_view severityName(LogLevel level)
{
    switch (level) {
    case LogLevel::Warning:
        return "warning";
    case LogLevel::Error:
        return "error";
    case LogLevel::Critical:
        return "critical";
    case LogLevel::Info:
        break;
    }
    return "info";
}

const MessageGroup& messageConstructionFailure()
{
    return kConstructionFailureGroup;
}

const MessageSpec& MessageGroup::spec(std::size_t code) const
{
    if (code >= m_specs.size())
        throw std::out_of_range("message code out of range");
    return m_specs[code];
}

Message MessageGroup::build(std::size_t code, std::span<const std::string_view> arguments) const
{
    const MessageSpec& spec = this->spec(code);
    std::string text;
    text.reserve(spec.text.size() + 64);
    for (std::size_t i = 0; i < spec.text.size(); ++i) {
        const char c = spec.text[i];
        if (c == '{' && i + 2 < spec.text.size() && spec.text[i + 2] == '}' && spec.text[i + 1] >= '0'
            && spec.text[i + 1] <= '9') {
            const std::size_t index = static_cast<std::size_t>(spec.text[i + 1] - '0');
            if (index >= arguments.size())
                throw std::out_of_range("message argument missing");
            // Arguments come from the package: shown with their control
            // characters escaped, so that a finding stays one line.
            text.append(Common::visibleText(arguments[index]));
            i += 2;
        } else {
            text.push_back(c);
        }
    }
    return {spec.level, std::move(text)};
}

} // namespace Validator
