#include "checks/desktop/DesktopCapabilities.h"

#include "checks/desktop/DesktopMessages.h"
#include "checks/desktop/DesktopTables.h"
#include "checks/desktop/IniSection.h"
#include "package/PackagedFile.h"

#include <algorithm>
#include <map>
#include <string_view>
#include <vector>

namespace Validator {

namespace {

using namespace DesktopTables;

} // namespace

void DesktopCapabilities::validate(const std::string& path, const std::string& fullPath)
{
    m_path = path;
    m_fullPath = fullPath;
    std::vector<std::string> keys;
    for (const KeyValues& capability : kCapabilities)
        keys.emplace_back(capability.key);
    std::optional<PackagedFile> file = PackagedFile::open(unpackedTree(), m_path);
    const std::optional<IniEntries> entries = file ? readCapabilitiesSection(*file, keys) : std::nullopt;
    if (!entries) {
        logger().add(DesktopMessage::BrokenFile);
        return;
    }
    for (const auto& [key, value] : *entries) {
        const KeyValues* capability = findKey(key, kCapabilities);
        if (!capability) {
            logger().add(CapabilitiesMessage::KeyInvalid, {key, kCapabilitiesGroup});
            continue;
        }
        // Every ";" splits: a value ending in ";" has an empty last piece.
        std::string_view rest = value;
        for (;;) {
            const std::size_t semicolon = rest.find(';');
            const std::string_view piece = rest.substr(0, semicolon);
            if (!isOneOf(piece, capability->values))
                logger().add(CapabilitiesMessage::ValueInvalid, {piece, key});
            if (semicolon == std::string_view::npos)
                break;
            rest.remove_prefix(semicolon + 1);
        }
    }
}

} // namespace Validator
