#include "Findings.h"

#include <algorithm>
#include <regex>

namespace TestKit {

std::vector<std::string> fileValidatorLines(const std::vector<std::string>& findings)
{
    static const std::regex headerCheckLine(
        "\\(INFO\\)\t\t\\[.*\\] Beware that symbolic links are only allowed for exclusive paths"
        "|\\(ERROR\\)\t\t\\[.*\\] (Symbolic link is targeting to not allowed path for it: .*"
        "|Failed to read file attributes|File must not be executable)");
    const auto first = std::find_if_not(findings.begin(), findings.end(),
                                        [](const std::string& line) { return std::regex_match(line, headerCheckLine); });
    return {first, findings.end()};
}

std::vector<std::string> findingLines(const std::vector<std::string>& lines)
{
    std::vector<std::string> out;
    for (const std::string& line : lines) {
        if (line.starts_with("(WARNING)") || line.starts_with("(ERROR)") || line.starts_with("(CRITICAL)")
            || line.starts_with("(INFO)"))
            out.push_back(line);
    }
    return out;
}

} // namespace TestKit
