#include "container/ReplacementName.h"

#include <cstdint>
#include <cstdio>

namespace PackageSignatures {

namespace {
constexpr char marker[] = ".torvel-";
constexpr size_t maximumNameLength = 255;
}

std::string replacementPrefix(const std::string& packageName)
{
    // Long names are shortened, and told apart by a hash of the whole name,
    // so that the prefix never matches another package's new file.
    const size_t room = maximumNameLength - 1 - (sizeof marker - 1) - replacementSuffixLength;
    if (packageName.size() <= room)
        return "." + packageName + marker;
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char byte : packageName)
        hash = (hash ^ byte) * 1099511628211ull;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", (unsigned long long)hash);
    return "." + packageName.substr(0, room - 17) + "~" + hex + marker;
}

} // namespace PackageSignatures
