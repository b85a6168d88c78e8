#pragma once

#include "core/IValidator.h"
#include "deskinfo/ManifestEntry.h"


namespace Validator {

// The second desktop-entry checker: the application sandbox section (its
// name, keys, organisation and application name, activation commands and
// permissions) and the package's dependency on the QML launcher library.
// Marks a file without a sandbox section for the checks that follow.
class DesktopTervane final : public ISubValidator {
public:
    // `entry` is the desktop file as the desktop validator parsed it, shared
    // by the checkers; it must outlive the checker.
    DesktopTervane(ValidationContext context, const AppManifest::ManifestEntry& entry)
        : ISubValidator(std::move(context)), m_entry(entry)
    {
    }

    void validate(const std::string& path, const std::string& fullPath) override;

    // Whether a profile may declare a system service in the sandbox
    // section: its keys are allowed and their rules run only then.
    static bool runsSystemServices(const Config& config);

private:
    void checkSections();
    void checkKeys();
    void checkOrganizationName();
    void checkApplicationName();
    void checkReservedFragments();
    void checkPackageName();
    void checkSystemService();
    void checkPermissions();
    void checkLauncherDependency();
    void checkHyphen();

    std::string m_path;
    std::string m_fullPath;
    const AppManifest::ManifestEntry& m_entry;
    std::string m_section;
    std::string m_applicationName;
    bool m_nameHasHyphen = false;
    bool m_hyphenIsFatal = false;
};

} // namespace Validator
