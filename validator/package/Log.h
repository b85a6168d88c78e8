#pragma once

#include <sstream>
#include <string>

namespace Common {

// One diagnostic line of the validator itself (not a validation finding):
// "[I] ", "[W] " or "[E] " + text on standard output, written when the line
// object goes out of scope, and only when the text is not empty.
class LogLine {
public:
    enum class Level { Info = 0, Warning = 1, Error = 2 };

    explicit LogLine(Level level) : m_level(level) {}
    ~LogLine();
    LogLine(const LogLine&) = delete;
    LogLine& operator=(const LogLine&) = delete;

    template <typename T>
    LogLine& operator<<(const T& value)
    {
        m_text << value;
        return *this;
    }

private:
    Level m_level;
    std::ostringstream m_text;
};

inline LogLine logInfo() { return LogLine(LogLine::Level::Info); }
inline LogLine logWarning() { return LogLine(LogLine::Level::Warning); }
inline LogLine logError() { return LogLine(LogLine::Level::Error); }

} // namespace Common
