#pragma once

#include "core/IValidator.h"

namespace Validator {

// The integrity daemon's watch list of the package,
// /etc/integrityd/config.d/<package>.json: valid JSON that names only files
// the package installs.
class Integrityd final : public IValidator {
public:
    using IValidator::IValidator;

    bool accepts(const std::string& path, const std::string& fullPath) override;
    void validate(const std::string& path, const std::string& fullPath) override;
    void finish() override {}
};

} // namespace Validator
