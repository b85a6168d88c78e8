#include "checks/Path.h"

#include "checks/BinaryMessages.h"
#include "checks/ElfReader.h"
#include "core/PackageMessages.h"
#include "package/Filesystem.h"
#include "package/PackagedFile.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace Validator {

bool Path::accepts(const std::string&, const std::string&)
{
    return true;
}

void Path::validate(const std::string& path, const std::string& fullPath)
{
    m_path = path;
    m_fullPath = fullPath;
    // Asked once: a failed query is logged, and both steps share its answer.
    m_isDirectory = Validator::Filesystem::isDirectory(unpackedTree(), m_path);
    checkLocation();
    scanForHardcodedPath();
}

std::vector<Path::Location> Path::allowedLocations(const Config& config, const std::string& name)
{
    return {
        {"/usr/share/" + name, false},
        {"/usr/share/icons/hicolor/", false},
        {config.binDir() + name, true},
        {"/usr/share/applications/" + name + ".desktop", false},
        {"/etc/integrityd/config.d/" + name + ".json", false},
        {config.libexecDir() + name, true},
        {"/usr/share/common/", false},
    };
}

std::string Path::helperPrefix(const Config& config, const std::string& name)
{
    return config.libexecDir() + name + "/";
}

void Path::checkLocation()
{
    const std::string& name = meta().name();
    const std::string& path = m_path;
    if (m_locations.empty())
        m_locations = allowedLocations(config(), name);
    // The first rule that matches decides. Prefix tests are plain byte
    // prefixes: "/usr/share/N" also accepts "/usr/share/N-data".
    const auto allowed = [&path](const Location& location) {
        return location.whole ? path == location.path : path.starts_with(location.path);
    };
    if (std::any_of(m_locations.begin(), m_locations.end(), allowed))
        return;
    if (path == "/usr/bin" || path == "/usr/bin/") {
        logger().add(PackageMessage::OwnsUsrBin);
        return;
    }
    if (path.starts_with("/usr/lib/debug") || path.starts_with("/usr/src/debug")) {
        logger().add(PackageMessage::DebugContent);
        return;
    }
    // Helper programs live below libexec/N/ and must be ELF files.
    if (path.starts_with(helperPrefix(config(), name))) {
        if (m_isDirectory)
            return;
        auto reader = ElfReader::fromPackage(unpackedTree(), m_path);
        if (!reader || !reader->isValid())
            logger().add(BinaryMessage::BadExecutableFormat, {path});
        return;
    }
    if (config().extraInstallPaths().matches(path))
        return;
    logger().add(PackageMessage::InstallationNotAllowed, {path});
}

void Path::scanForHardcodedPath()
{
    if (m_isDirectory)
        return;
    auto file = PackagedFile::open(unpackedTree(), m_path);
    if (!file)
        return;
    static constexpr std::string_view kNeedle = "/home/defaultuser";
    static constexpr std::size_t kBlock = 4096;
    static constexpr std::size_t kCarry = kNeedle.size() - 1;
    // Each block is read behind the last bytes of the one before, so that an
    // occurrence across a block boundary is found.
    char buffer[kBlock + kCarry];
    std::size_t kept = 0;
    for (;;) {
        const ssize_t n = file->read(buffer + kept, kBlock);
        if (n <= 0)
            return;
        const std::size_t filled = kept + static_cast<std::size_t>(n);
        if (std::string_view(buffer, filled).find(kNeedle) != std::string_view::npos) {
            logger().add(PackageMessage::HardcodedPath, {m_path});
            return;
        }
        kept = std::min(kCarry, filled);
        std::memmove(buffer, buffer + filled - kept, kept);
    }
}

} // namespace Validator
