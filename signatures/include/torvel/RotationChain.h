#pragma once

#include <cstdint>
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

// What a check of a chain found: the first proof that failed and how.
struct TORVEL_EXPORT RotationChainVerification {
    enum class Failure {
        None,
        InvalidProof,    // a signature of the proof does not verify
        MissingOldKeyId, // its old certificate has no subject key identifier
        BrokenLink,      // its old key is not the previous proof's new key
        MissingNewKeyId,
    };
    Failure failure = Failure::None;
    int proofIndex = -1;

    bool verified() const { return failure == Failure::None; }
};

// Why a chain could not be extended by one proof (make_proof_of_rotation_chain
// prints the library's own diagnostics all the same).
enum class RotationRefusal {
    None,
    OldCertificateUnreadable,
    OldKeyUnreadable,
    NewCertificateUnreadable,
    NewKeyUnreadable,
    ChainUnreadable,
    ProofNotMade,
    OldKeyDoesNotMatchCertificate,
    NewKeyDoesNotMatchCertificate,
    ChainDoesNotEndWithOldKey, // the chain given to extend ends with another key
    InvalidChain,              // any other failure of the extended chain's check
    OutputNotWritten,
};

struct TORVEL_EXPORT RotationExtension {
    RotationRefusal refusal = RotationRefusal::None;
    // The proof the chain check failed at, from 0; -1 otherwise.
    int proofIndex = -1;

    bool succeeded() const { return refusal == RotationRefusal::None; }
};

// make_proof_of_rotation_chain, telling which step refused.
TORVEL_EXPORT RotationExtension extendRotationChain(const char* outPath, const char* inChainPath,
                                                    const char* oldCertPath, const char* oldKeyPath,
                                                    const char* newCertPath, const char* newKeyPath);

// The rotations of a developer's keys, oldest first. A value: it keeps the
// encoded proofs it was made from, so it can be checked again at any time.
// Copies share the rotations.
class TORVEL_EXPORT RotationChain {
public:
    // The stack is only read; null gives an empty chain.
    explicit RotationChain(const ProofOfRotationChain* chain = nullptr);
    RotationChain(const RotationChain& other) = default;
    RotationChain& operator=(const RotationChain& other) = default;

    // An unreadable file gives an empty chain.
    static RotationChain fromFile(const char* path);

    std::vector<std::shared_ptr<Rotation>> rotations() const { return m_rotations; }
    bool empty() const { return m_rotations.empty(); }
    size_t size() const { return m_rotations.size(); }
    // Key ids of the old certificates, in chain order.
    std::vector<std::string> previousKeyids() const;
    // The key id the chain ends with: its last new certificate's; "" when empty.
    std::string newestKeyId() const;
    // Whether the key id is one of the chain's old keys or its newest key.
    bool containsKeyId(const std::string& keyId) const;

    // Checks every proof and every link; an empty chain is valid.
    RotationChainVerification verify() const;
    // The DER of the chain as it was read; empty for an empty chain.
    const std::vector<uint8_t>& der() const;

private:
    std::vector<std::shared_ptr<Rotation>> m_rotations;
    std::shared_ptr<const std::vector<uint8_t>> m_der;
    mutable std::optional<std::vector<std::string>> m_previousKeyids;
};

} // namespace PackageSignatures
