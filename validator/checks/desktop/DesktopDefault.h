#pragma once

#include "core/IValidator.h"
#include "deskinfo/ManifestEntry.h"

#include <optional>

namespace Validator {

// The first desktop-entry checker: which groups the file may have, the two
// vendor groups, and Name, Icon, Type, Exec and the application type of
// "Desktop Entry". Marks the desktop file as seen, and publishes whether the
// application is QML-only and whether it declares the UI toolkit.
class DesktopDefault final : public ISubValidator {
public:
    using ISubValidator::ISubValidator;

    void validate(const std::string& path, const std::string& fullPath) override;

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
    std::optional<AppManifest::ManifestEntry> m_entry;
};

} // namespace Validator
