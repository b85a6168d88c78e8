#pragma once

#include "core/Config.h"
#include "core/Message.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Validator {

// One rule: a message of a group, by which users name findings.
struct Rule {
    const MessageGroup* group;
    std::size_t code;

    const MessageSpec& spec() const { return group->spec(code); }
    std::string_view name() const { return spec().rule; }
};

// Every rule vetrik can report, group by group in the order of
// allMessageGroups() and code by code, then the stand-in for a message that
// could not be built.
std::span<const Rule> allRules();
// Null for a name no rule has.
const Rule* findRule(std::string_view name);

// Whether `config`'s profile runs the check behind the rule.
bool checkedUnder(const Rule& rule, const Config& config);

// The rule's explanation as --explain prints it: name, severity, group and
// code, the profiles that check it, the message, what it asks for, and what
// it accepts; lines of at most 80 columns but for long words.
std::string explanation(const Rule& rule);

// Words of `text` on lines of at most `width` columns, each line starting
// with `indent`; a word longer than a line stands alone.
std::string wrapped(std::string_view text, std::string_view indent, std::size_t width = 80);

} // namespace Validator
