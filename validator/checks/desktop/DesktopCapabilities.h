#pragma once

#include "core/IValidator.h"

namespace Validator {

// The optional "X-Taliro-Capabilities" group: input devices, user-interface
// features and screen orientations, from a closed table. Reads the file
// with Boost's INI reader, which is stricter than the desktop-entry reader:
// a group or a key given twice makes the file broken here.
class DesktopCapabilities final : public ISubValidator {
public:
    using ISubValidator::ISubValidator;

    void validate(const std::string& path, const std::string& fullPath) override;

private:
    std::string m_path;
    std::string m_fullPath;
};

} // namespace Validator
