#pragma once

#include <cstdint>
#include <vector>

#include <openssl/evp.h>

#include "common/OpenSslHandles.h"

namespace PackageSignatures {

// The one way the signatures of a package's files use the signing key, from
// however many threads sign at once. Each of those threads holds a context
// of its own from newContext(); the key is shared by all of them and only
// read, which OpenSSL allows for software keys. A key that only one thread
// at a time may use is serialised here, in sign().
class DigestSigner {
public:
    DigestSigner(EVP_PKEY* key, const EVP_MD* digest);

    // Null when the key cannot sign with the digest.
    Common::OpenSsl::EvpPkeyCtxHandle newContext() const;

    // A raw signature over the digest, the way the kernel checks it: no
    // DigestInfo is built here, the context's signature digest says which
    // one it is. Fails for signatures longer than an integrity value holds.
    bool sign(EVP_PKEY_CTX* context, const std::vector<uint8_t>& digest, std::vector<uint8_t>& signature) const;

private:
    EVP_PKEY* m_key;
    const EVP_MD* m_digest;
};

} // namespace PackageSignatures
