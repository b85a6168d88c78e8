#pragma once

// The one channel of the validator's own lines, as against the findings of
// its checks (core/Logger): what the driver says about a package and its
// run on standard error, and the tagged diagnostics of its reading steps on
// standard output. Each line goes out through here, escaped (it may carry
// names and texts from the package) and whole, so that it stays one line.

#include <sstream>
#include <string>
#include <string_view>

namespace Validator {

// One line on standard error, flushed at once.
void printError(std::string_view line);

// Everything the process wrote so far through iostreams and stdio, out:
// before a fork, which would copy what is still buffered into the child,
// and before _exit, which would drop it.
void flushAllOutput();

// One diagnostic line of a reading step: "[I] ", "[W] " or "[E] " + text on
// standard output, written when the line object goes out of scope, and only
// when the text is not empty.
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

} // namespace Validator
