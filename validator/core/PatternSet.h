#pragma once

#include "core/Expression.h"

#include <string>
#include <unordered_set>
#include <vector>

namespace Validator {

// Names a profile allows: exact names in a hash set, plus regular
// expressions (ECMAScript) that must match the whole text.
class PatternSet {
public:
    void addName(std::string name) { m_names.insert(std::move(name)); }
    void addExpression(const std::string& expression);

    bool matches(const std::string& text) const;

    std::size_t nameCount() const { return m_names.size(); }
    std::size_t expressionCount() const { return m_expressions.size(); }
    // The exact names in byte order, and the expressions as written in
    // insertion order: for describing what a profile allows.
    std::vector<std::string> sortedNames() const;
    std::vector<std::string> expressionPatterns() const;

private:
    std::unordered_set<std::string> m_names;
    std::vector<Expression> m_expressions;
};

} // namespace Validator
