#include "checks/desktop/EntrySyntax.h"

#include "checks/desktop/DesktopTables.h"

namespace Validator {

namespace {

bool isUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool isLower(char c) { return c >= 'a' && c <= 'z'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return isUpper(c) || isLower(c); }
bool isAlnum(char c) { return isLetter(c) || isDigit(c); }
bool isWordOrDash(char c) { return isAlnum(c) || c == '-'; }

// Length of the longest prefix of `text` from `from` on whose bytes satisfy
// `accepts`.
template <typename Predicate>
std::size_t runLength(std::string_view text, std::size_t from, Predicate accepts)
{
    std::size_t end = from;
    while (end < text.size() && accepts(text[end]))
        ++end;
    return end - from;
}

} // namespace

// Both alternatives of the first group and the second group consume only
// [A-Za-z0-9-], and what may follow each ("/", ":" or the end) is not in
// that class, so in any match each group is the longest run of the class
// at its place.
std::optional<IntentSpec> parseIntent(std::string_view text)
{
    const std::size_t nameLength = runLength(text, 0, isWordOrDash);
    const std::string_view name = text.substr(0, nameLength);
    const bool valid = name.starts_with("X-") ? name.size() >= 4 && isUpper(name[2])
                                              : name.size() >= 2 && isUpper(name[0]);
    if (!valid)
        return std::nullopt;
    IntentSpec intent{name, {}, std::nullopt};
    std::size_t at = nameLength;
    if (at < text.size() && text[at] == '/') {
        const std::size_t length = runLength(text, at + 1, isWordOrDash);
        if (length < 2 || !isLetter(text[at + 1]))
            return std::nullopt;
        intent.qualifier = text.substr(at, length + 1);
        at += length + 1;
    }
    if (at == text.size())
        return intent;
    if (text[at] != ':')
        return std::nullopt;
    const std::string_view flags = text.substr(at + 1);
    if (flags.find_first_of("\n\r") != std::string_view::npos)
        return std::nullopt;
    intent.flags = flags;
    return intent;
}

bool isTaskGroupName(std::string_view text)
{
    std::size_t at;
    if (text.starts_with("X-Task"))
        at = 6;
    else if (text.starts_with("X-Service"))
        at = 9;
    else
        return false;
    const std::size_t spaces = runLength(text, at, [](char c) { return c == ' '; });
    if (spaces == 0)
        return false;
    const std::string_view name = text.substr(at + spaces);
    return name.size() >= 2 && isLetter(name[0]) && runLength(name, 1, isAlnum) == name.size() - 1;
}

std::optional<ConditionSpec> parseCondition(std::string_view text)
{
    const auto word = [](std::string_view part) {
        return part.size() >= 2 && isLower(part[0])
            && runLength(part, 1, [](char c) { return isLower(c) || isDigit(c) || c == '-'; }) == part.size() - 1;
    };
    const std::size_t colon = text.find(':');
    const std::string_view name = text.substr(0, colon);
    if (!word(name))
        return std::nullopt;
    if (colon == std::string_view::npos)
        return ConditionSpec{name, std::nullopt};
    const std::string_view subtype = text.substr(colon + 1);
    if (!word(subtype))
        return std::nullopt;
    return ConditionSpec{name, subtype};
}

bool isExecutableSuffix(std::string_view text)
{
    return text.size() >= 2 && isLetter(text[0])
        && runLength(text, 1, [](char c) { return isWordOrDash(c) || c == '_'; }) == text.size() - 1;
}

std::optional<std::string> sandboxSection(const AppManifest::ManifestEntry& entry)
{
    std::optional<std::string> section;
    for (std::string_view candidate : DesktopTables::kSandboxSections) {
        if (entry.containsGroup(std::string(candidate)))
            section = candidate;
    }
    return section;
}

std::string_view commandOf(std::string_view text)
{
    return text.substr(0, text.find(' '));
}

} // namespace Validator
