#pragma once

#include "core/IValidator.h"

namespace Validator {

// The application manifest, /manifest.json: JSON syntax, known keys and the
// kinds of their values, and whether the system the validator runs against
// satisfies the minimum OS versions it declares.
class Manifest final : public IValidator {
public:
    using IValidator::IValidator;

    bool accepts(const std::string& path, const std::string& fullPath) override;
    void validate(const std::string& path, const std::string& fullPath) override;
    void finish() override {}
};

} // namespace Validator
