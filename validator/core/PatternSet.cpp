#include "core/PatternSet.h"

namespace Validator {

void PatternSet::addExpression(const std::string& expression)
{
    m_expressions.emplace_back(expression);
}

bool PatternSet::matches(const std::string& text) const
{
    if (m_names.count(text))
        return true;
    for (const Expression& expression : m_expressions) {
        if (expression.fullMatch(text))
            return true;
    }
    return false;
}

} // namespace Validator
