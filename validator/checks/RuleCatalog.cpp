#include "checks/RuleCatalog.h"

#include "checks/MessageGroups.h"
#include "common/VisibleText.h"
#include "core/RuleText.h"

#include <algorithm>

namespace Validator {

std::span<const Rule> allRules()
{
    static const std::vector<Rule> rules = [] {
        std::vector<Rule> all;
        for (const MessageGroup* group : allMessageGroups()) {
            for (std::size_t code = 0; code < group->size(); ++code)
                all.push_back({group, code});
        }
        all.push_back({&messageConstructionFailure(), 0});
        return all;
    }();
    return rules;
}

const Rule* findRule(std::string_view name)
{
    const std::span<const Rule> rules = allRules();
    const auto found = std::find_if(rules.begin(), rules.end(), [&](const Rule& rule) { return rule.name() == name; });
    return found == rules.end() ? nullptr : &*found;
}

bool checkedUnder(const Rule& rule, const Config& config)
{
    const ProfileFilter filter = rule.spec().checkedUnder;
    return !filter || filter(config);
}

std::string wrapped(std::string_view text, std::string_view indent, std::size_t width)
{
    std::string out;
    std::size_t column = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t start = text.find_first_not_of(' ', at);
        if (start == std::string_view::npos)
            break;
        const std::size_t end = std::min(text.find(' ', start), text.size());
        const std::string_view word = text.substr(start, end - start);
        if (column > 0 && column + 1 + word.size() > width) {
            out += '\n';
            column = 0;
        }
        if (column == 0) {
            out += indent;
            column = indent.size();
        } else {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
        at = end;
    }
    if (column > 0)
        out += '\n';
    return out;
}

std::string explanation(const Rule& rule)
{
    const MessageSpec& spec = rule.spec();
    std::string text(spec.rule);
    text += '\n';
    text += wrapped(std::string(severityName(spec.level)) + " of the group \"" + std::string(rule.group->name())
                        + "\", code " + std::to_string(rule.code) + "; checked under "
                        + RuleText::profilesWhere(spec.checkedUnder) + ".",
                    "  ");
    // The text as a finding line shows it, its arguments as {0} and {1}.
    text += "  Finding: " + Common::visibleText(spec.text) + "\n\n";
    text += wrapped(spec.explanation, "  ");
    if (spec.accepted) {
        text += "\n  Accepted:\n";
        const std::string accepted = spec.accepted();
        for (std::size_t at = 0; at < accepted.size();) {
            const std::size_t end = std::min(accepted.find('\n', at), accepted.size());
            const std::string_view line = std::string_view(accepted).substr(at, end - at);
            const std::string lines = wrapped(line, "      ");
            // The first line of an entry stands out from its continuations.
            text += lines.size() >= 2 ? lines.substr(2) : lines;
            at = end + 1;
        }
    }
    return text;
}

} // namespace Validator
