// Feeds arbitrary manifests and system versions to the manifest rules. The
// input's first line is the system version, the rest the manifest. Besides
// the sanitizers, checks the version rules against their definitions.

#include "checks/manifest/ManifestRules.h"
#include "core/Logger.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

namespace {

using Validator::ManifestRules::Version;

std::string joined(const Version& version)
{
    std::string text;
    for (std::size_t i = 0; i < version.size(); ++i)
        text += (i ? "." : "") + std::to_string(version[i]);
    return text;
}

// Minimum versions split from the manifest text at commas, so that the
// compatibility test sees lists of every shape.
std::vector<std::string> splitAtCommas(std::string_view text)
{
    std::vector<std::string> parts;
    for (std::size_t start = 0;;) {
        const std::size_t comma = text.find(',', start);
        parts.emplace_back(text.substr(start, comma - start));
        if (comma == std::string_view::npos || parts.size() > 64)
            return parts;
        start = comma + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Findings are printed as they are recorded; nobody reads them here.
    static std::ostringstream sink;
    std::cerr.rdbuf(sink.rdbuf());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t newline = input.find('\n');
    const std::string system(input.substr(0, newline));
    const std::string_view manifest = newline == std::string_view::npos ? std::string_view() : input.substr(newline + 1);

    Validator::Logger logger;
    Validator::ManifestRules::checkManifest(manifest, [&system] { return system; }, logger);
    std::cerr.rdbuf()->pubseekpos(0);

    // A parsed version prints back to itself, less leading zeros.
    if (const auto version = Validator::ManifestRules::parseVersion(system)) {
        if (version->empty() || Validator::ManifestRules::parseVersion(joined(*version)) != version)
            std::abort();
    }
    const std::vector<std::string> minimums = splitAtCommas(manifest);
    const bool compatible = Validator::ManifestRules::isCompatible(system, minimums);
    const auto parsedSystem = Validator::ManifestRules::parseSystemVersion(system);
    if (compatible && !parsedSystem)
        std::abort();
    if (parsedSystem) {
        // Compatible whenever the system reaches the greatest valid minimum,
        // never when it is below the smallest.
        std::vector<Version> valid;
        for (const std::string& minimum : minimums) {
            if (auto version = Validator::ManifestRules::parseVersion(minimum))
                valid.push_back(*version);
        }
        if (!valid.empty()) {
            const auto [smallest, greatest] = std::minmax_element(valid.begin(), valid.end());
            if (*parsedSystem >= *greatest && !compatible)
                std::abort();
            if (*parsedSystem < *smallest && compatible)
                std::abort();
        } else if (compatible) {
            std::abort();
        }
    }
    return 0;
}
