#pragma once

#include "core/IValidator.h"

namespace Validator {

// Where a package may install files, and whether any packaged file carries
// the developer's home directory hard-coded. Sees every file entry.
class Path final : public IValidator {
public:
    using IValidator::IValidator;

    bool accepts(const std::string& path, const std::string& fullPath) override;
    void validate(const std::string& path, const std::string& fullPath) override;
    void finish() override {}

private:
    void checkLocation();
    void scanForHardcodedPath();

    std::string m_path;
    std::string m_fullPath;
    bool m_isDirectory = false;
};

} // namespace Validator
