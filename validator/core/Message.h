#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace Validator {

class Config;

enum class LogLevel : std::int32_t {
    Warning = 0,
    Error = 1,
    Critical = 2,
    Info = 3,
};

// "warning", "error", "critical" or "info".
std::string_view severityName(LogLevel level);

struct Message {
    LogLevel level = LogLevel::Info;
    std::string text;

    bool operator==(const Message&) const = default;
};

struct MessageHash {
    std::size_t operator()(const Message& message) const
    {
        return std::hash<std::string>()(message.text) * 31 + static_cast<std::size_t>(message.level);
    }
};

// Which argument of a message, if any, is the path inside the package that
// the finding concerns. Where none is, the store falls back on the file
// being validated when the finding arose.
enum class PathArgument : std::int8_t {
    None = -1,
    First = 0,
    Second = 1,
};

// The values a rule accepts, as lines of text for its explanation. Computed
// from the constants and profiles the check itself reads, so that what the
// explanation lists is what the check does.
using AcceptedValues = std::string (*)();

// Whether a profile runs the check behind a rule at all.
using ProfileFilter = bool (*)(const Config&);

// One entry of a message group: its level and its text, the name of the
// rule behind it and what that rule asks for. "{0}" and "{1}" in the text
// stand for the first and second argument.
//
// Rule names are how users refer to a finding (--ignore, --explain,
// baselines, reports): once released, a name never changes.
struct MessageSpec {
    LogLevel level;
    std::string_view text;
    std::string_view rule = {};
    PathArgument path = PathArgument::None;
    // What the rule requires, why, and how to satisfy it.
    std::string_view explanation = {};
    AcceptedValues accepted = nullptr;
    // Null: every profile runs the check.
    ProfileFilter checkedUnder = nullptr;
};

// A family of numbered messages; each validator family owns one, written as
// a table next to the validator that uses it.
class MessageGroup {
public:
    constexpr MessageGroup(std::string_view name, std::span<const MessageSpec> specs)
        : m_name(name), m_specs(specs)
    {
    }

    std::string_view name() const { return m_name; }
    std::size_t size() const { return m_specs.size(); }
    std::span<const MessageSpec> specs() const { return m_specs; }
    // Throws std::out_of_range for an unknown code.
    const MessageSpec& spec(std::size_t code) const;

    // Throws std::out_of_range for an unknown code or a missing argument.
    Message build(std::size_t code, std::span<const std::string_view> arguments) const;

private:
    std::string_view m_name;
    std::span<const MessageSpec> m_specs;
};

// What a store records in place of a message it could not build (a check
// that passed too few arguments): a group of its own with one entry.
const MessageGroup& messageConstructionFailure();

// Each group's code enumeration is tied to its group by an overload of
// messageGroupOf() found through argument-dependent lookup:
//     enum class PackageMessage { ... };
//     const MessageGroup& messageGroupOf(PackageMessage);
template <typename Code>
concept MessageCode = std::is_enum_v<Code> && requires(Code code) {
    { messageGroupOf(code) } -> std::same_as<const MessageGroup&>;
};

// For the static_assert that ties a table to its enumeration: one entry per
// code, the last code included. Codes are positions in the table.
template <typename Code, std::size_t N>
constexpr bool coversEveryCode(const MessageSpec (&)[N], Code last)
{
    return N == static_cast<std::size_t>(last) + 1;
}

} // namespace Validator
