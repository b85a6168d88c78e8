#pragma once

#include "core/IValidator.h"

namespace Validator {

// Managed-configuration parameter files. The platform's parameter-file
// library decides which files of the package are such files and whether
// each is valid.
class ConfigurationParameterFile final : public IValidator {
public:
    using IValidator::IValidator;

    bool accepts(const std::string& path, const std::string& fullPath) override;
    void validate(const std::string& path, const std::string& fullPath) override;
    void finish() override {}
};

} // namespace Validator
