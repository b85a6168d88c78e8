#include "checks/desktop/DesktopCapabilities.h"

#include "checks/desktop/DesktopMessages.h"
#include "checks/desktop/IniSection.h"
#include "package/PackagedFile.h"

#include <algorithm>
#include <map>
#include <string_view>
#include <vector>

namespace Validator {

namespace {

const std::map<std::string, std::vector<std::string>, std::less<>> kCapabilities = {
    {"Input", {"Mouse", "Tablet"}},
    {"UserInterface", {"ResizeableContent"}},
    {"ScreenOrientation", {"Landscape", "LandscapeInverted", "Portrait", "PortraitInverted"}},
};

} // namespace

void DesktopCapabilities::validate(const std::string& path, const std::string& fullPath)
{
    m_path = path;
    m_fullPath = fullPath;
    std::vector<std::string> keys;
    for (const auto& [key, values] : kCapabilities)
        keys.push_back(key);
    std::optional<PackagedFile> file = PackagedFile::open(unpackedTree(), m_path);
    const std::optional<IniEntries> entries = file ? readCapabilitiesSection(*file, keys) : std::nullopt;
    if (!entries) {
        logger().add(DesktopMessage::BrokenFile);
        return;
    }
    for (const auto& [key, value] : *entries) {
        const auto capability = kCapabilities.find(key);
        if (capability == kCapabilities.end()) {
            logger().add(CapabilitiesMessage::KeyInvalid, {key, kCapabilitiesGroup});
            continue;
        }
        // Every ";" splits: a value ending in ";" has an empty last piece.
        const std::vector<std::string>& allowed = capability->second;
        std::string_view rest = value;
        for (;;) {
            const std::size_t semicolon = rest.find(';');
            const std::string_view piece = rest.substr(0, semicolon);
            if (std::find(allowed.begin(), allowed.end(), piece) == allowed.end())
                logger().add(CapabilitiesMessage::ValueInvalid, {piece, key});
            if (semicolon == std::string_view::npos)
                break;
            rest.remove_prefix(semicolon + 1);
        }
    }
}

} // namespace Validator
