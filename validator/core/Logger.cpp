#include "core/Logger.h"

#include <cstdio>
#include <exception>
#include <iostream>

namespace Validator {

namespace {

bool g_color = false;

struct LevelStyle {
    const char* tag;
    const char* escape;
};

// Tags carry their tabs so that the texts line up.
constexpr LevelStyle kStyles[] = {
    {"(WARNING)\t", "\033[33m"},
    {"(ERROR)\t\t", "\033[31m"},
    {"(CRITICAL)\t", "\033[31m"},
    {"(INFO)\t\t", "\033[1m"},
};

constexpr const char* kReset = "\033[m";

} // namespace

Logger::Logger()
{
    for (std::uint32_t key = 0; key <= 13; ++key)
        m_flags.emplace(key, false);
}

void Logger::setColor(bool on)
{
    g_color = on;
}

bool Logger::color()
{
    return g_color;
}

void Logger::addFrom(const MessageGroup& group, std::size_t code, std::span<const std::string_view> arguments)
{
    Message message;
    try {
        message = group.build(code, arguments);
    } catch (const std::exception&) {
        message = {LogLevel::Info, "[validator] Error while construct message"};
    }
    // Marked before the repeat test: a repeated message still fails its step.
    if (message.level == LogLevel::Critical)
        m_criticalSeen = true;
    else if (message.level == LogLevel::Error)
        m_errorSeen = true;
    if (!m_recorded.insert(message).second)
        return;
    print(message);
    if (m_sink)
        m_sink->found(group.name(), code, message);
}

void Logger::print(const Message& message) const
{
    const auto level = static_cast<std::int32_t>(message.level);
    if (level < 0 || level > 3)
        return;
    const LevelStyle& style = kStyles[level];
    if (g_color)
        std::cerr << style.escape << style.tag << kReset << message.text << '\n';
    else
        std::cerr << style.tag << message.text << '\n';
    std::cerr.flush();
}

void Logger::setFlag(std::uint32_t key, bool value)
{
    auto it = m_flags.find(key);
    if (it == m_flags.end()) {
        std::cerr << "[validator] Unable to set flag with key: \"" << key << "\"\n";
        return;
    }
    it->second = value;
}

bool Logger::getFlag(std::uint32_t key) const
{
    auto it = m_flags.find(key);
    if (it == m_flags.end()) {
        std::cerr << "[validator] Unable to get flag with key: \"" << key << "\"\n";
        return false;
    }
    return it->second;
}

void Logger::clearMarks()
{
    m_errorSeen = false;
    m_criticalSeen = false;
}

bool Logger::takeStepVerdict(bool fullChecks)
{
    const bool failed = m_criticalSeen || (m_errorSeen && fullChecks);
    clearMarks();
    return failed;
}

} // namespace Validator
