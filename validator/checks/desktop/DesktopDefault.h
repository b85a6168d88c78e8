#pragma once

#include "core/IValidator.h"
#include "deskinfo/ManifestEntry.h"


namespace Validator {

// The first desktop-entry checker: which groups the file may have, the two
// vendor groups, and Name, Icon, Type, Exec and the application type of
// "Desktop Entry". Marks the desktop file as seen, and publishes whether the
// application is QML-only and whether it declares the UI toolkit.
class DesktopDefault final : public ISubValidator {
public:
    // `entry` is the desktop file as the desktop validator parsed it, shared
    // by the checkers; it must outlive the checker.
    DesktopDefault(ValidationContext context, const AppManifest::ManifestEntry& entry)
        : ISubValidator(std::move(context)), m_entry(entry)
    {
    }

    void validate(const std::string& path, const std::string& fullPath) override;

    // The Exec values a profile accepts for package `name`, each alone or
    // followed by a space and arguments.
    static std::vector<std::string> execForms(const Config& config, const std::string& name);

private:
    void checkGroups();
    void checkApplicationSection();
    void checkSplashScreen();
    void checkName();
    void checkIcon();
    void checkType();
    void checkExec();
    void checkApplicationType();

    std::string m_path;
    std::string m_fullPath;
    const AppManifest::ManifestEntry& m_entry;
};

} // namespace Validator
