#include "package/Log.h"

#include <iostream>

namespace Common {

LogLine::~LogLine()
{
    const std::string text = m_text.str();
    if (text.empty())
        return;
    static const char* const kTags[] = {"[I] ", "[W] ", "[E] "};
    std::cout << kTags[static_cast<int>(m_level)] << text << '\n' << std::flush;
}

} // namespace Common
