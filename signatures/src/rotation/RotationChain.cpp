#include "torvel/RotationChain.h"

#include <algorithm>

#include "common/OpenSslHandles.h"
#include "TorvelHandles.h"
#include "rotation/RotationChainCheck.h"

namespace PackageSignatures {

namespace {

std::vector<uint8_t> encode(const ProofOfRotationChain* chain)
{
    if (ProofOfRotationChain_count(chain) == 0)
        return {};
    unsigned char* der = nullptr;
    const int length = i2d_ProofOfRotationChain(chain, &der);
    const Common::OpenSsl::BytesHandle owned(der);
    return length > 0 ? std::vector<uint8_t>(owned.get(), owned.get() + length) : std::vector<uint8_t>();
}

} // namespace

Rotation::Rotation(const ProofOfRotation* proof)
    : m_oldCertificate(std::make_shared<Certificate>(ProofOfRotation_get0_old_cert(proof)))
    , m_newCertificate(std::make_shared<Certificate>(ProofOfRotation_get0_new_cert(proof)))
{
}

RotationChain::RotationChain(const ProofOfRotationChain* chain)
    : m_der(std::make_shared<const std::vector<uint8_t>>(encode(chain)))
{
    for (int i = 0; i < ProofOfRotationChain_count(chain); ++i)
        m_rotations.push_back(std::make_shared<Rotation>(ProofOfRotationChain_get0_at(chain, i)));
}

RotationChain RotationChain::fromFile(const char* path)
{
    const Common::Torvel::ProofOfRotationChainHandle chain(ProofOfRotationChain_read(path));
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

std::string RotationChain::newestKeyId() const
{
    return m_rotations.empty() ? std::string() : m_rotations.back()->newCertificate()->keyId();
}

bool RotationChain::containsKeyId(const std::string& keyId) const
{
    if (keyId.empty() || m_rotations.empty())
        return false;
    const std::vector<std::string> previous = previousKeyids();
    return keyId == newestKeyId() || std::find(previous.begin(), previous.end(), keyId) != previous.end();
}

RotationChainVerification RotationChain::verify() const
{
    if (m_der->empty())
        return {};
    const unsigned char* cursor = m_der->data();
    const Common::Torvel::ProofOfRotationChainHandle chain(
        d2i_ProofOfRotationChain(nullptr, &cursor, long(m_der->size())));
    if (!chain)
        return {RotationChainVerification::Failure::InvalidProof, 0};
    return checkRotationChain(chain.get()).verification;
}

const std::vector<uint8_t>& RotationChain::der() const
{
    return *m_der;
}

} // namespace PackageSignatures
