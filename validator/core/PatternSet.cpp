#include "core/PatternSet.h"

namespace Validator {

void PatternSet::addExpression(const std::string& expression)
{
    m_expressions.emplace_back(expression, std::regex::ECMAScript | std::regex::optimize);
}

bool PatternSet::matches(const std::string& text) const
{
    if (m_names.count(text))
        return true;
    for (const std::regex& expression : m_expressions) {
        if (std::regex_match(text, expression))
            return true;
    }
    return false;
}

} // namespace Validator
