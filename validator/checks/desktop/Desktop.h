#pragma once

#include "core/IValidator.h"
#include "deskinfo/ManifestEntry.h"

#include <optional>
#include <string>
#include <vector>

namespace Validator {

// Owns the package's one desktop file: applicationsDir + package name +
// ".desktop". Runs the five desktop-entry checkers on it, and at the end
// reports a missing desktop file, files under /usr/share/common/ outside
// the application's own directory, and a wrong ExecDBus command.
class Desktop final : public IValidator {
public:
    using IValidator::IValidator;

    bool accepts(const std::string& path, const std::string& fullPath) override;
    void validate(const std::string& path, const std::string& fullPath) override;
    void finish() override;

private:
    void checkCommonPaths(const std::string& organization);
    void checkExecDBus(const AppManifest::ManifestEntry& entry);
    // The package path an ExecDBus command leads to, its links resolved
    // beneath the extraction root; nullopt, with errno set, when it leads
    // nowhere in the package.
    std::optional<std::string> resolveInPackage(const std::string& command) const;

    // The package path of the accepted desktop file.
    std::string m_desktopFile;
    // The desktop file parsed once, for the checkers and for finish(); empty
    // until then, and when it is broken.
    std::optional<AppManifest::ManifestEntry> m_entry;
    std::vector<std::string> m_commonPaths;
};

} // namespace Validator
