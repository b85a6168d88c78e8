#pragma once

#include "core/PatternSet.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Configuration {

using Validator::PatternSet;

// What a profile allows. Every profile class builds on its base class and
// only adds to the inherited lists, so each profile is a superset of its base.
class ConfigBase {
public:
    virtual ~ConfigBase() = default;

    virtual bool requiresDesktopFile() const = 0;
    virtual bool checksIcons() const = 0;

    bool fullChecks() const { return m_fullChecks; }
    void setFullChecks(bool on) { m_fullChecks = on; }

    const std::vector<std::int32_t>& iconSizes() const { return m_iconSizes; }
    const std::string& name() const { return m_name; }
    const std::string& binDir() const { return m_binDir; }
    const std::string& shareDir() const { return m_shareDir; }
    const std::string& applicationsDir() const { return m_applicationsDir; }
    const std::string& iconsDir() const { return m_iconsDir; }
    const std::string& libexecDir() const { return m_libexecDir; }
    const std::string& exclusiveProvide() const { return m_exclusiveProvide; }
    const PatternSet& extraInstallPaths() const { return m_extraInstallPaths; }
    const PatternSet& allowedPermissions() const { return m_allowedPermissions; }
    const PatternSet& allowedLibraries() const { return m_allowedLibraries; }
    const PatternSet& unstableLibraries() const { return m_unstableLibraries; }
    const PatternSet& deprecatedLibraries() const { return m_deprecatedLibraries; }
    const PatternSet& allowedDependencies() const { return m_allowedDependencies; }
    const PatternSet& unstableDependencies() const { return m_unstableDependencies; }
    const PatternSet& deprecatedDependencies() const { return m_deprecatedDependencies; }
    const PatternSet& allowedImports() const { return m_allowedImports; }
    const PatternSet& unstableImports() const { return m_unstableImports; }
    const PatternSet& deprecatedImports() const { return m_deprecatedImports; }
    const PatternSet& reservedImportPatterns() const { return m_reservedImportPatterns; }
    const PatternSet& forbiddenMimeHandlers() const { return m_forbiddenMimeHandlers; }

protected:
    ConfigBase();

    bool m_fullChecks = true;
    std::vector<std::int32_t> m_iconSizes;
    std::string m_name;
    std::string m_binDir;
    std::string m_shareDir;
    std::string m_applicationsDir;
    std::string m_iconsDir;
    std::string m_libexecDir;
    std::string m_exclusiveProvide;
    PatternSet m_extraInstallPaths;
    PatternSet m_allowedPermissions;
    PatternSet m_allowedLibraries;
    PatternSet m_unstableLibraries;
    PatternSet m_deprecatedLibraries;
    PatternSet m_allowedDependencies;
    PatternSet m_unstableDependencies;
    PatternSet m_deprecatedDependencies;
    PatternSet m_allowedImports;
    PatternSet m_unstableImports;
    PatternSet m_deprecatedImports;
    PatternSet m_reservedImportPatterns;
    PatternSet m_forbiddenMimeHandlers;
};

// The developer-mode setting "developermode.validationEnabled" of
// <platform root>/var/lib/developer-moded/developer-moded.conf; true, with a
// line on standard error, when it cannot be read. Validator::Config reads it
// into a profile right after building one for a package run.
bool readValidationEnabled();

} // namespace Configuration
