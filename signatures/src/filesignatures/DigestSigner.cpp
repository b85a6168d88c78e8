#include "filesignatures/DigestSigner.h"

#include "core/PrivateKeys.h"
#include "filesignatures/ImaSignature.h"

namespace PackageSignatures {

DigestSigner::DigestSigner(EVP_PKEY* key, const EVP_MD* digest)
    : m_key(key)
    , m_digest(digest)
{
}

Common::OpenSsl::EvpPkeyCtxHandle DigestSigner::newContext() const
{
    const std::unique_lock<std::mutex> turn = exclusiveUse(m_key);
    Common::OpenSsl::EvpPkeyCtxHandle context(m_key == nullptr ? nullptr : EVP_PKEY_CTX_new(m_key, nullptr));
    if (!context || EVP_PKEY_sign_init(context.get()) <= 0
        || EVP_PKEY_CTX_set_signature_md(context.get(), m_digest) <= 0)
        context.reset();
    return context;
}

bool DigestSigner::sign(EVP_PKEY_CTX* context, const std::vector<uint8_t>& digest,
                        std::vector<uint8_t>& signature) const
{
    // A token key's signatures take turns at the token; the other threads
    // go on meanwhile with their own digests.
    const std::unique_lock<std::mutex> turn = exclusiveUse(m_key);
    size_t length = 0;
    if (context == nullptr || EVP_PKEY_sign(context, nullptr, &length, digest.data(), digest.size()) <= 0
        || length == 0 || length > ImaSignature::maximumSignatureSize)
        return false;
    signature.resize(length);
    if (EVP_PKEY_sign(context, signature.data(), &length, digest.data(), digest.size()) <= 0)
        return false;
    signature.resize(length);
    return true;
}

} // namespace PackageSignatures
