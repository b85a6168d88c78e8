#pragma once

#include "core/Profile.h"
#include "core/profiles/ConfigBase.h"

#include <memory>

namespace Validator {

// The profile object shared by the driver, the dispatcher and every
// validator of one package run.
class Config {
public:
    enum class DeveloperMode {
        Read,     // for a package run: the setting decides full checks
        Ignored,  // for describing a profile: nothing read, nothing printed
    };

    // An unknown code gives the regular profile.
    explicit Config(Profile profile, DeveloperMode developerMode = DeveloperMode::Read);

    const Configuration::ConfigBase& profile() const { return *m_profile; }

    bool requiresDesktopFile() const { return m_profile->requiresDesktopFile(); }
    bool checksIcons() const { return m_profile->checksIcons(); }
    bool fullChecks() const { return m_profile->fullChecks(); }
    void setFullChecks(bool on) { m_profile->setFullChecks(on); }

    const std::vector<std::int32_t>& iconSizes() const { return m_profile->iconSizes(); }
    const std::string& name() const { return m_profile->name(); }
    const std::string& binDir() const { return m_profile->binDir(); }
    const std::string& shareDir() const { return m_profile->shareDir(); }
    const std::string& applicationsDir() const { return m_profile->applicationsDir(); }
    const std::string& iconsDir() const { return m_profile->iconsDir(); }
    const std::string& libexecDir() const { return m_profile->libexecDir(); }
    const std::string& exclusiveProvide() const { return m_profile->exclusiveProvide(); }
    const PatternSet& extraInstallPaths() const { return m_profile->extraInstallPaths(); }
    const PatternSet& allowedPermissions() const { return m_profile->allowedPermissions(); }
    const PatternSet& allowedLibraries() const { return m_profile->allowedLibraries(); }
    const PatternSet& unstableLibraries() const { return m_profile->unstableLibraries(); }
    const PatternSet& deprecatedLibraries() const { return m_profile->deprecatedLibraries(); }
    const PatternSet& allowedDependencies() const { return m_profile->allowedDependencies(); }
    const PatternSet& unstableDependencies() const { return m_profile->unstableDependencies(); }
    const PatternSet& deprecatedDependencies() const { return m_profile->deprecatedDependencies(); }
    const PatternSet& allowedImports() const { return m_profile->allowedImports(); }
    const PatternSet& unstableImports() const { return m_profile->unstableImports(); }
    const PatternSet& deprecatedImports() const { return m_profile->deprecatedImports(); }
    const PatternSet& reservedImportPatterns() const { return m_profile->reservedImportPatterns(); }
    const PatternSet& forbiddenMimeHandlers() const { return m_profile->forbiddenMimeHandlers(); }

private:
    std::shared_ptr<Configuration::ConfigBase> m_profile;
};

} // namespace Validator
