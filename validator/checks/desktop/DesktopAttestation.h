#pragma once

#include "core/IValidator.h"
#include "deskinfo/ManifestEntry.h"

namespace Validator {

// The optional "Attestation" group: what the system does when the
// application fails attestation. A closed table of keys and values.
class DesktopAttestation final : public ISubValidator {
public:
    // `entry` is the desktop file as the desktop validator parsed it, shared
    // by the checkers; it must outlive the checker.
    DesktopAttestation(ValidationContext context, const AppManifest::ManifestEntry& entry)
        : ISubValidator(std::move(context)), m_entry(entry)
    {
    }

    void validate(const std::string& path, const std::string& fullPath) override;

private:
    std::string m_path;
    std::string m_fullPath;
    const AppManifest::ManifestEntry& m_entry;
};

} // namespace Validator
