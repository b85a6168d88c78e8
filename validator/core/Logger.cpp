#include "core/Logger.h"

#include "package/Log.h"

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

void Logger::setRecording(const RecordingOptions& options, std::string package)
{
    m_options = options;
    m_package = std::move(package);
}

void Logger::addFrom(const MessageGroup& group, std::size_t code, std::span<const std::string_view> arguments)
{
    const MessageGroup* built = &group;
    std::size_t builtCode = code;
    Message message;
    try {
        message = group.build(code, arguments);
    } catch (const std::exception&) {
        built = &messageConstructionFailure();
        builtCode = 0;
        message = built->build(0, {});
    }
    const MessageSpec& spec = built->spec(builtCode);
    // A critical finding is never accepted: no option or file may switch
    // off the gate it stands for.
    const AcceptedBy acceptedBy = m_options.acceptance && message.level != LogLevel::Critical
        ? m_options.acceptance->acceptedBy(m_package, spec.rule, arguments)
        : AcceptedBy::None;
    const bool accepted = acceptedBy != AcceptedBy::None;
    // Marked before the repeat test: a repeated message still fails its step.
    if (!accepted && message.level == LogLevel::Critical)
        m_criticalSeen = true;
    else if (!accepted && message.level == LogLevel::Error)
        m_errorSeen = true;
    if (!(accepted ? m_accepted : m_recorded).insert(message).second)
        return;
    if (!accepted)
        print(message, spec.rule);
    if (!m_sink)
        return;
    std::optional<std::string_view> path;
    const auto pathIndex = static_cast<std::size_t>(spec.path);
    if (spec.path != PathArgument::None && pathIndex < arguments.size())
        path = arguments[pathIndex];
    else if (m_inFile)
        path = m_currentFile;
    m_sink->found({built->name(), builtCode, spec.rule, message,
                   built == &group ? arguments : std::span<const std::string_view>(), path, acceptedBy});
}

void Logger::print(const Message& message, std::string_view rule) const
{
    const auto level = static_cast<std::int32_t>(message.level);
    if (level < 0 || level > 3)
        return;
    const LevelStyle& style = kStyles[level];
    if (g_color)
        std::cerr << style.escape << style.tag << kReset << message.text;
    else
        std::cerr << style.tag << message.text;
    if (m_options.ruleNames)
        std::cerr << " [" << rule << ']';
    std::cerr << '\n';
    std::cerr.flush();
}

void Logger::setFlag(std::uint32_t key, bool value)
{
    auto it = m_flags.find(key);
    if (it == m_flags.end()) {
        printError("[validator] Unable to set flag with key: \"" + std::to_string(key) + '"');
        return;
    }
    it->second = value;
}

bool Logger::getFlag(std::uint32_t key) const
{
    auto it = m_flags.find(key);
    if (it == m_flags.end()) {
        printError("[validator] Unable to get flag with key: \"" + std::to_string(key) + '"');
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
