#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace Validator {

enum class LogLevel : std::int32_t {
    Warning = 0,
    Error = 1,
    Critical = 2,
    Info = 3,
};

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

// One entry of a message group: its level and its text. "{0}" and "{1}" in
// the text stand for the first and second argument.
struct MessageSpec {
    LogLevel level;
    std::string_view text;
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

    // Throws std::out_of_range for an unknown code or a missing argument.
    Message build(std::size_t code, std::span<const std::string_view> arguments) const;

private:
    std::string_view m_name;
    std::span<const MessageSpec> m_specs;
};

// Each group's code enumeration is tied to its group by an overload of
// messageGroupOf() found through argument-dependent lookup:
//     enum class PackageMessage { ... };
//     const MessageGroup& messageGroupOf(PackageMessage);
template <typename Code>
concept MessageCode = std::is_enum_v<Code> && requires(Code code) {
    { messageGroupOf(code) } -> std::same_as<const MessageGroup&>;
};

} // namespace Validator
