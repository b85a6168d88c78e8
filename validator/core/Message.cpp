#include "core/Message.h"

#include "common/VisibleText.h"

#include <stdexcept>

namespace Validator {

Message MessageGroup::build(std::size_t code, std::span<const std::string_view> arguments) const
{
    if (code >= m_specs.size())
        throw std::out_of_range("message code out of range");
    const MessageSpec& spec = m_specs[code];
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
