#include "core/PatternSet.h"

#include <algorithm>

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

std::vector<std::string> PatternSet::sortedNames() const
{
    std::vector<std::string> names(m_names.begin(), m_names.end());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> PatternSet::expressionPatterns() const
{
    std::vector<std::string> patterns;
    for (const Expression& expression : m_expressions)
        patterns.push_back(expression.pattern());
    return patterns;
}

} // namespace Validator
