#pragma once

#include <boost/regex.hpp>

#include <string>
#include <string_view>

namespace Validator {

// A regular expression (ECMAScript syntax) matched against a whole text.
// "." matches no line break (\n, \r, and, stricter than ECMAScript, \f).
//
// Package data is hostile and unbounded, so matching must never recurse once
// per input character the way the standard library's regex does: Boost.Regex runs on its own
// bounded state stack. When a text is so pathological that the engine gives
// up (state stack or complexity limit), the text counts as not matching, so
// a check built on an allow list fails closed instead of crashing.
class Expression {
public:
    explicit Expression(const std::string& pattern);

    bool fullMatch(std::string_view text) const;

    const std::string& pattern() const { return m_pattern; }

private:
    std::string m_pattern;
    boost::regex m_regex;
};

} // namespace Validator
