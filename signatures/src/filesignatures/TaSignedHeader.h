#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace PackageSignatures {

// OP-TEE's signed header of a bootstrap trusted application, all integers
// little-endian:
//   magic "HSTO" (0x4F545348), image type 1, image size, algorithm    4 bytes each
//   hash size, signature size                                          2 bytes each
//   hash (hash size bytes), signature (signature size bytes)
//   UUID (16 bytes, RFC 4122 byte order), TA version                   16 + 4 bytes
// The hash covers the first 20 bytes, then the UUID and TA version, then
// the image; OP-TEE checks it in the same order when it loads the TA.
struct TaSignedHeader {
    static constexpr uint32_t magic = 0x4F545348;
    static constexpr uint32_t bootstrapImageType = 1;
    static constexpr size_t leadingSize = 20;
    static constexpr size_t trailingSize = 20;

    uint32_t imageType = bootstrapImageType;
    uint32_t imageSize = 0;
    uint32_t algorithm = 0;
    std::vector<uint8_t> hash;
    std::vector<uint8_t> signature;
    std::array<uint8_t, 16> uuid {};
    uint32_t taVersion = 0;

    // Magic through signature size: the first bytes the hash covers.
    std::vector<uint8_t> leadingFields() const;
    // UUID and TA version: hashed after the leading fields.
    std::vector<uint8_t> trailingFields() const;
    std::vector<uint8_t> serialize() const;
    // Empty unless the bytes are exactly one header.
    static std::optional<TaSignedHeader> parse(const uint8_t* data, size_t len);
};

// OP-TEE's algorithm identifiers (GlobalPlatform TEE_ALG_*).
constexpr uint32_t taAlgorithmRsaPssSha256 = 0x70414930;    // TEE_ALG_RSASSA_PKCS1_PSS_MGF1_SHA256
constexpr uint32_t taAlgorithmRsaPkcs1Sha256 = 0x70004830;  // TEE_ALG_RSASSA_PKCS1_V1_5_SHA256

// The UUID a TA file is named after ("<uuid>.ta", with the last two groups
// written apart or together), in RFC 4122 byte order.
std::optional<std::array<uint8_t, 16>> taUuidFromFileName(const char* baseName);

} // namespace PackageSignatures
