#include "torvel/Group.h"

#include <array>
#include <string_view>
#include <utility>
#include <vector>

namespace PackageSignatures {

namespace {

constexpr std::array<std::pair<Group, std::string_view>, 3> groupNames {{
    {GroupDeveloper, "developer"},
    {GroupSeclab, "seclab"},
    {GroupClient, "client"},
}};

// Texts by subgroup value. "regular" is only ever printed: a group text
// spelling it out does not parse back to it (see subgroupWords).
constexpr std::array<std::string_view, 9> subgroupNames {
    "<unknown>", "regular", "antivirus", "extended", "mdm", "auth", "market", "systemapp", "substitutecomponent",
};

constexpr std::array<std::pair<std::string_view, Subgroup>, 7> subgroupWords {{
    {"extended", SubgroupExtended},
    {"antivirus", SubgroupAntivirus},
    {"mdm", SubgroupMdm},
    {"auth", SubgroupAuth},
    {"market", SubgroupMarket},
    {"systemapp", SubgroupSystemApp},
    {"substitutecomponent", SubgroupSubstituteComponent},
}};

std::vector<std::string_view> splitFields(std::string_view text)
{
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (true) {
        const size_t colon = text.find(':', start);
        fields.push_back(text.substr(start, colon == std::string_view::npos ? std::string_view::npos : colon - start));
        if (colon == std::string_view::npos)
            return fields;
        start = colon + 1;
    }
}

} // namespace

std::string groupToString(Group group)
{
    for (const auto& [value, name] : groupNames) {
        if (value == group)
            return std::string(name);
    }
    return {};
}

std::string subgroupToString(Subgroup subgroup)
{
    const auto index = size_t(subgroup);
    return std::string(subgroup >= 0 && index < subgroupNames.size() ? subgroupNames[index] : subgroupNames[0]);
}

Group groupFromString(const char* text)
{
    if (text == nullptr)
        return GroupNone;
    const std::string_view first = splitFields(text).front();
    for (const auto& [value, name] : groupNames) {
        if (name == first)
            return value;
    }
    return GroupNone;
}

Subgroup subgroupFromString(const char* text)
{
    if (text == nullptr)
        return SubgroupNone;
    const std::vector<std::string_view> fields = splitFields(text);
    // A group word alone is a regular developer.
    if (fields.size() < 2)
        return SubgroupRegular;
    for (const auto& [word, value] : subgroupWords) {
        if (word == fields[1])
            return value;
    }
    return SubgroupNone;
}

} // namespace PackageSignatures
