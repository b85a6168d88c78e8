#include "core/Expression.h"

#include <stdexcept>

namespace Validator {

Expression::Expression(const std::string& pattern)
    : m_pattern(pattern)
    , m_regex(pattern, boost::regex::ECMAScript)
{
}

bool Expression::fullMatch(std::string_view text) const
{
    try {
        return boost::regex_match(text.begin(), text.end(), m_regex);
    } catch (const std::runtime_error&) {
        return false;
    }
}

} // namespace Validator
