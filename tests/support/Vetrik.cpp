#include "Vetrik.h"

#include <filesystem>
#include <regex>
#include <sstream>

namespace TestKit {

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        result.push_back(line);
    return result;
}

Vetrik::Vetrik() : m_root("vetrik-root")
{
    setDeveloperModeFile("[developermode]\nvalidationEnabled=true\n");
}

void Vetrik::setDeveloperModeFile(const std::string& content)
{
    const std::string file = m_root / "var/lib/developer-moded/developer-moded.conf";
    std::filesystem::remove(file);
    if (!content.empty())
        writeFile(file, content);
}

void Vetrik::setOsRelease(const std::string& content)
{
    const std::string file = m_root / "etc/os-release";
    std::filesystem::remove(file);
    if (!content.empty())
        writeFile(file, content);
}

std::string Vetrik::path()
{
    return VETRIK_PATH;
}

VetrikResult Vetrik::operator()(const std::vector<std::string>& arguments, RunOptions options) const
{
    std::vector<std::string> argv = {path()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    options.env.emplace_back("KVD_ROOT_FS", m_root.path());
    VetrikResult result;
    result.run = run(argv, options);
    result.exitCode = result.run.exitCode;
    result.out = lines(result.run.out);
    result.rawErr = result.run.err;
    static const std::regex cpioBlocks("^[0-9]+ blocks?$");
    for (const std::string& line : lines(result.run.err)) {
        if (!std::regex_match(line, cpioBlocks))
            result.findings.push_back(line);
    }
    return result;
}

} // namespace TestKit
