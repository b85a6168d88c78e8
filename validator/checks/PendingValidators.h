#pragma once

#include "core/IValidator.h"

// Validators whose checks are not built yet. Each keeps its slot in the
// dispatcher so the run order stays fixed, but accepts no file and reports
// nothing. A validator leaves this file when it is built.
namespace Validator {

class PendingValidator : public IValidator {
public:
    using IValidator::IValidator;
    bool accepts(const std::string&, const std::string&) override { return false; }
    void validate(const std::string&, const std::string&) override {}
    void finish() override {}
};

// Not built yet: desktop entry and its five section checkers.
class Desktop final : public PendingValidator {
    using PendingValidator::PendingValidator;
};

} // namespace Validator
