#include "torvel/RotationChain.h"

#include "Handles.h"

namespace PackageSignatures {

Rotation::Rotation(const ProofOfRotation* proof)
    : m_oldCertificate(std::make_shared<Certificate>(ProofOfRotation_get0_old_cert(proof)))
    , m_newCertificate(std::make_shared<Certificate>(ProofOfRotation_get0_new_cert(proof)))
{
}

RotationChain::RotationChain(const ProofOfRotationChain* chain)
{
    for (int i = 0; i < ProofOfRotationChain_count(chain); ++i)
        m_rotations.push_back(std::make_shared<Rotation>(ProofOfRotationChain_get0_at(chain, i)));
}

RotationChain RotationChain::fromFile(const char* path)
{
    const Handles::ProofOfRotationChainPtr chain(ProofOfRotationChain_read(path));
    return RotationChain(chain.get());
}

std::vector<std::string> RotationChain::previousKeyids() const
{
    if (!m_previousKeyids) {
        std::vector<std::string> keyIds;
        for (const auto& rotation : m_rotations)
            keyIds.push_back(rotation->oldCertificate()->keyId());
        m_previousKeyids = std::move(keyIds);
    }
    return *m_previousKeyids;
}

} // namespace PackageSignatures
