#include "core/RuleText.h"

#include "core/Profile.h"

#include <algorithm>
#include <set>

namespace Validator::RuleText {

namespace {

// Exact names first, then the expressions as written.
std::vector<std::string> entries(const PatternSet& set)
{
    std::vector<std::string> all = set.sortedNames();
    for (std::string& pattern : set.expressionPatterns())
        all.push_back("expression " + pattern);
    return all;
}

} // namespace

const std::vector<std::pair<std::string, Config>>& profiles()
{
    static const std::vector<std::pair<std::string, Config>> all = [] {
        std::vector<std::pair<std::string, Config>> made;
        for (int code = 0; code <= 7; ++code) {
            const auto profile = static_cast<Profile>(code);
            made.emplace_back(profileName(profile), Config(profile, Config::DeveloperMode::Ignored));
        }
        return made;
    }();
    return all;
}

std::string perProfile(std::string (*describe)(const Config&))
{
    std::vector<std::pair<std::string, std::string>> lines;  // description, profile names
    for (const auto& [name, config] : profiles()) {
        const std::string description = describe(config);
        if (description.empty())
            continue;
        auto line = std::find_if(lines.begin(), lines.end(), [&](const auto& l) { return l.first == description; });
        if (line == lines.end())
            lines.emplace_back(description, name);
        else
            line->second += ", " + name;
    }
    std::string text;
    for (const auto& [description, names] : lines)
        text += names + ": " + description + "\n";
    return text;
}

std::string addedToRegular(const PatternSet& (Config::*list)() const)
{
    const auto& all = profiles();
    const std::vector<std::string> regular = entries((all.front().second.*list)());
    const std::set<std::string> base(regular.begin(), regular.end());
    std::string text = all.front().first + ": " + joined(regular) + "\n";
    for (auto it = all.begin() + 1; it != all.end(); ++it) {
        std::vector<std::string> added;
        for (const std::string& entry : entries((it->second.*list)())) {
            if (!base.count(entry))
                added.push_back(entry);
        }
        if (!added.empty())
            text += it->first + ": " + all.front().first + "'s and " + joined(added) + "\n";
    }
    return text;
}

std::string profilesWhere(bool (*checked)(const Config&))
{
    if (!checked)
        return "every profile";
    std::vector<std::string> names;
    for (const auto& [name, config] : profiles()) {
        if (checked(config))
            names.push_back(name);
    }
    if (names.size() == profiles().size())
        return "every profile";
    if (names.empty())
        return "no profile";
    return joined(names);
}

} // namespace Validator::RuleText
