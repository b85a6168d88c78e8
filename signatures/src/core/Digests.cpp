#include "core/Digests.h"

#include <cstdio>

#include <openssl/engine.h>
#include <openssl/objects.h>

#include "common/OpenSslHandles.h"

namespace PackageSignatures {

namespace {

// Engine digests are not always in OpenSSL's name table; the engine
// registered as default for the digest is asked directly then.
const EVP_MD* digestByNid(int nid)
{
    if (const EVP_MD* digest = EVP_get_digestbynid(nid))
        return digest;
    // A functional reference: released with ENGINE_finish.
    Common::OpenSsl::EngineFunctionalHandle engine(ENGINE_get_digest_engine(nid));
    return engine ? ENGINE_get_digest(engine.get(), nid) : nullptr;
}

} // namespace

const EVP_MD* defaultDigest(EVP_PKEY* key)
{
    int nid = NID_undef;
    if (key == nullptr || EVP_PKEY_get_default_digest_nid(key, &nid) <= 0 || nid == NID_undef) {
        std::fprintf(stderr, "No default digest found for provided key\n");
        return nullptr;
    }
    const EVP_MD* digest = digestByNid(nid);
    if (digest == nullptr)
        std::fprintf(stderr, "Could not find digest by NID\n");
    return digest;
}

const EVP_MD* findGost2012Digest256()
{
    return digestByNid(NID_id_GostR3411_2012_256);
}

const EVP_MD* gost2012Digest256()
{
    const EVP_MD* digest = findGost2012Digest256();
    if (digest == nullptr)
        std::fprintf(stderr, "Could not get GOST 34.11-2012 256 reference\n");
    return digest;
}

std::optional<std::vector<unsigned char>> keyIdentifierOf(EVP_PKEY* publicKey)
{
    const int length = publicKey == nullptr ? -1 : i2d_PUBKEY(publicKey, nullptr);
    if (length <= 0) {
        std::fprintf(stderr, "Could not get length for public key serialization\n");
        return std::nullopt;
    }
    const EVP_MD* digest = gost2012Digest256();
    if (digest == nullptr)
        return std::nullopt;
    std::vector<unsigned char> der(static_cast<size_t>(length));
    unsigned char* cursor = der.data();
    std::vector<unsigned char> identifier(EVP_MAX_MD_SIZE);
    unsigned identifierLength = 0;
    if (i2d_PUBKEY(publicKey, &cursor) != length
        || EVP_Digest(der.data(), der.size(), identifier.data(), &identifierLength, digest, nullptr) != 1) {
        std::fprintf(stderr, "Keyid serialization failed\n");
        return std::nullopt;
    }
    identifier.resize(identifierLength);
    return identifier;
}

std::string lowerHex(const unsigned char* data, size_t len)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(len * 2);
    for (size_t i = 0; i < len; ++i) {
        text.push_back(digits[data[i] >> 4]);
        text.push_back(digits[data[i] & 0x0F]);
    }
    return text;
}

} // namespace PackageSignatures
