#pragma once

#include "core/IValidator.h"

#include <string>
#include <vector>

namespace Validator {

// Where a package may install files, and whether any packaged file carries
// the developer's home directory hard-coded. Sees every file entry.
class Path final : public IValidator {
public:
    using IValidator::IValidator;

    bool accepts(const std::string& path, const std::string& fullPath) override;
    void validate(const std::string& path, const std::string& fullPath) override;
    void finish() override {}

    // A place a package may install to: a path equal to `path` when `whole`,
    // else any path that starts with it.
    struct Location {
        std::string path;
        bool whole;
    };
    // In the order the rule tries them, for package `name`. The profile's
    // extraInstallPaths come after them, and helper programs below
    // helperPrefix(), which must be ELF files.
    static std::vector<Location> allowedLocations(const Config& config, const std::string& name);
    static std::string helperPrefix(const Config& config, const std::string& name);

private:
    void checkLocation();
    void scanForHardcodedPath();

    std::string m_path;
    std::string m_fullPath;
    bool m_isDirectory = false;
    // The package's own locations, made once for all its files.
    std::vector<Location> m_locations;
};

} // namespace Validator
