#include "package/Log.h"

#include "common/VisibleText.h"

#include <cstdio>
#include <iostream>

namespace Validator {

void printError(std::string_view line)
{
    std::cerr << Common::visibleText(line) << '\n' << std::flush;
}

void flushAllOutput()
{
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
}

LogLine::~LogLine()
{
    const std::string text = m_text.str();
    if (text.empty())
        return;
    static const char* const kTags[] = {"[I] ", "[W] ", "[E] "};
    std::cout << kTags[static_cast<int>(m_level)] << Common::visibleText(text) << '\n' << std::flush;
}

} // namespace Validator
