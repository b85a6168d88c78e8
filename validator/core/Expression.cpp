#include "core/Expression.h"

#include <stdexcept>

namespace Validator {

Expression::Expression(const std::string& pattern)
    : m_pattern(pattern)
    // Boost's "." also matches line breaks unless told otherwise; ECMAScript's
    // does not, and the profile lists are written for ECMAScript: an entry
    // "lib.so.1(.*)" must not accept a name with a newline in its version.
    , m_regex(pattern, boost::regex::ECMAScript | boost::regex::no_mod_s)
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
