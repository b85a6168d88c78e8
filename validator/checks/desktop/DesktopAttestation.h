#pragma once

#include "core/IValidator.h"
#include "deskinfo/ManifestEntry.h"

#include <optional>

namespace Validator {

// The optional "Attestation" group: what the system does when the
// application fails attestation. A closed table of keys and values.
class DesktopAttestation final : public ISubValidator {
public:
    using ISubValidator::ISubValidator;

    void validate(const std::string& path, const std::string& fullPath) override;

private:
    std::string m_path;
    std::string m_fullPath;
    std::optional<AppManifest::ManifestEntry> m_entry;
};

} // namespace Validator
