#pragma once

// Helpers of the rules' explanations: lists of what a check accepts, made
// from the very constants and profiles the check reads.

#include "core/Config.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Validator::RuleText {

template <typename Range>
std::string joined(const Range& range, std::string_view separator = ", ")
{
    std::string text;
    for (const auto& item : range) {
        if (!text.empty())
            text += separator;
        text += std::string_view(item);
    }
    return text;
}

// Every profile of the profile table, in its order, built as a package run
// builds it but without reading the developer-mode file.
const std::vector<std::pair<std::string, Config>>& profiles();

// One line per distinct description: the names of the profiles it applies
// to, a colon, the description. Profiles whose description is empty are
// left out.
std::string perProfile(std::string (*describe)(const Config&));

// A list every profile extends: "regular: ..." with the regular profile's
// entries, then one line per profile that adds entries, naming the added
// ones. Every profile builds on the regular one and only adds.
std::string addedToRegular(const PatternSet& (Config::*list)() const);

// The profiles under which `checked` holds, or "every profile".
std::string profilesWhere(bool (*checked)(const Config&));

} // namespace Validator::RuleText
