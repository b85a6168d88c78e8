// Feeds arbitrary bytes, as a package header carries them in a requirement,
// a library or import name, an installed path or the package name, to every
// pattern set of every profile, to the package-name check, to the
// normalisation of requirements and to the escaping that prints them.

#include "checks/PackageChecks.h"
#include "common/VisibleText.h"
#include "core/Config.h"
#include "core/Expression.h"
#include "core/Profile.h"
#include "package/RpmMeta.h"

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Validator::Config;
using Validator::PatternSet;
using SetOf = const PatternSet& (Config::*)() const;

constexpr SetOf kSets[] = {
    &Config::extraInstallPaths,
    &Config::allowedPermissions,
    &Config::allowedLibraries,
    &Config::unstableLibraries,
    &Config::deprecatedLibraries,
    &Config::allowedDependencies,
    &Config::unstableDependencies,
    &Config::deprecatedDependencies,
    &Config::allowedImports,
    &Config::unstableImports,
    &Config::deprecatedImports,
    &Config::reservedImportPatterns,
    &Config::forbiddenMimeHandlers,
};

const std::vector<Config>& profiles()
{
    static const std::vector<Config> all = [] {
        std::vector<Config> configs;
        for (int code = 0; code <= 7; ++code)
            configs.emplace_back(static_cast<Validator::Profile>(code));
        return configs;
    }();
    return all;
}

// The name check is a hand-written pass; the same rule as an expression
// must agree with it on every input.
bool reverseDomainByExpression(std::string_view name)
{
    static const Validator::Expression rule(R"([^.]+(?:\.[^.]+){2,})");
    return rule.fullMatch(name);
}

// Escaped text is valid UTF-8 without C0 or C1 control characters, so it
// can neither end a line nor drive a terminal.
bool printableOnOneLine(const std::string& shown)
{
    if (!g_utf8_validate(shown.data(), static_cast<gssize>(shown.size()), nullptr))
        return false;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const auto byte = static_cast<unsigned char>(shown[i]);
        if (byte < 0x20 || byte == 0x7f)
            return false;
        if (byte == 0xc2 && i + 1 < shown.size() && static_cast<unsigned char>(shown[i + 1]) < 0xa0)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);

    std::size_t matched = 0;
    for (const Config& config : profiles()) {
        for (SetOf set : kSets)
            matched += (config.*set)().matches(text);
    }
    volatile std::size_t sink = matched;
    (void)sink;

    if (Validator::isReverseDomain(text) != reverseDomainByExpression(text))
        std::abort();

    // Normalising only filters and cuts suffixes: what is left is a prefix.
    for (const std::string& name : Validator::RpmMeta::normaliseRequires({text})) {
        if (text.compare(0, name.size(), name) != 0)
            std::abort();
    }

    if (!printableOnOneLine(Common::visibleText(text)))
        std::abort();
    return 0;
}
