#include "package/Log.h"

#include "common/VisibleText.h"

#include <iostream>

namespace Common {

LogLine::~LogLine()
{
    const std::string text = m_text.str();
    if (text.empty())
        return;
    static const char* const kTags[] = {"[I] ", "[W] ", "[E] "};
    // The text may carry paths of the package (a filesystem error names them).
    std::cout << kTags[static_cast<int>(m_level)] << Common::visibleText(text) << '\n' << std::flush;
}

} // namespace Common
