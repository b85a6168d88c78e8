#include "filesignatures/ImaSignature.h"

#include <openssl/obj_mac.h>

namespace PackageSignatures {

std::vector<uint8_t> ImaSignature::serialize() const
{
    std::vector<uint8_t> out(headerSize + signature.size());
    out[0] = digitalSignatureType;
    out[1] = formatVersion;
    out[2] = hashAlgorithm;
    for (size_t i = 0; i < keyIdTail.size(); ++i)
        out[3 + i] = keyIdTail[i];
    out[7] = uint8_t(signature.size() >> 8);
    out[8] = uint8_t(signature.size());
    for (size_t i = 0; i < signature.size(); ++i)
        out[headerSize + i] = signature[i];
    return out;
}

std::optional<ImaSignature> ImaSignature::parse(const uint8_t* data, size_t len)
{
    if (data == nullptr || len < headerSize || data[0] != digitalSignatureType || data[1] != formatVersion)
        return std::nullopt;
    const size_t signatureSize = size_t(data[7]) << 8 | data[8];
    if (len != headerSize + signatureSize)
        return std::nullopt;
    ImaSignature value;
    value.hashAlgorithm = data[2];
    for (size_t i = 0; i < value.keyIdTail.size(); ++i)
        value.keyIdTail[i] = data[3 + i];
    value.signature.assign(data + headerSize, data + len);
    return value;
}

std::optional<uint8_t> imaHashAlgorithm(int digestNid)
{
    struct Code {
        int nid;
        uint8_t code;
    };
    // The kernel's enum hash_algo; GOST R 34.11-2012 is its Streebog.
    static constexpr Code codes[] = {
        {NID_md4, 0},
        {NID_md5, 1},
        {NID_sha1, 2},
        {NID_ripemd160, 3},
        {NID_sha256, 4},
        {NID_sha384, 5},
        {NID_sha512, 6},
        {NID_sha224, 7},
        {NID_id_GostR3411_2012_256, 18},
        {NID_id_GostR3411_2012_512, 19},
    };
    for (const Code& entry : codes) {
        if (entry.nid == digestNid)
            return entry.code;
    }
    return std::nullopt;
}

std::array<uint8_t, 4> keyIdTail(const uint8_t* identifier, size_t len)
{
    std::array<uint8_t, 4> tail {};
    if (identifier != nullptr && len >= tail.size()) {
        for (size_t i = 0; i < tail.size(); ++i)
            tail[i] = identifier[len - tail.size() + i];
    }
    return tail;
}

} // namespace PackageSignatures
