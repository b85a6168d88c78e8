#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "torvel/Asn1Structures.h"
#include "torvel/Certificate.h"
#include "torvel/Export.h"

namespace PackageSignatures {

// One proof of rotation as a pair of certificates: the key of newCertificate
// succeeds the key of oldCertificate.
class TORVEL_EXPORT Rotation {
public:
    // A null proof gives null certificates.
    explicit Rotation(const ProofOfRotation* proof);

    std::shared_ptr<Certificate> oldCertificate() const { return m_oldCertificate; }
    std::shared_ptr<Certificate> newCertificate() const { return m_newCertificate; }

private:
    std::shared_ptr<Certificate> m_oldCertificate;
    std::shared_ptr<Certificate> m_newCertificate;
};

// The rotations of a developer's keys, oldest first. Copies share the
// rotations.
class TORVEL_EXPORT RotationChain {
public:
    // The stack is only read; null gives an empty chain.
    explicit RotationChain(const ProofOfRotationChain* chain = nullptr);
    RotationChain(const RotationChain& other) = default;

    // An unreadable file gives an empty chain.
    static RotationChain fromFile(const char* path);

    std::vector<std::shared_ptr<Rotation>> rotations() const { return m_rotations; }
    // Key ids of the old certificates, in chain order.
    std::vector<std::string> previousKeyids() const;

private:
    std::vector<std::shared_ptr<Rotation>> m_rotations;
    mutable std::optional<std::vector<std::string>> m_previousKeyids;
};

} // namespace PackageSignatures
