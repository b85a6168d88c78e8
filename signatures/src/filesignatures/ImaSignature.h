#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace PackageSignatures {

// The kernel integrity subsystem's version-2 digital signature, as the
// package manager writes it into the security.ima attribute of an installed
// file:
//   byte 0     3 (digital signature)
//   byte 1     2 (format version)
//   byte 2     hash algorithm code (the kernel's hash_algo numbering)
//   bytes 3-6  last four bytes of the signer's subject key identifier
//   bytes 7-8  signature length, big-endian
//   bytes 9-   the signature
struct ImaSignature {
    static constexpr uint8_t digitalSignatureType = 3;
    static constexpr uint8_t formatVersion = 2;
    static constexpr size_t headerSize = 9;
    // The kernel reads at most 1024 bytes of the attribute, header included.
    static constexpr size_t maximumSignatureSize = 1015;

    uint8_t hashAlgorithm = 0;
    std::array<uint8_t, 4> keyIdTail {};
    std::vector<uint8_t> signature;

    std::vector<uint8_t> serialize() const;
    // Empty unless the bytes are exactly one well-formed value.
    static std::optional<ImaSignature> parse(const uint8_t* data, size_t len);
};

// The kernel's code for an OpenSSL digest, by the digest's NID.
std::optional<uint8_t> imaHashAlgorithm(int digestNid);

// The last four bytes of a key identifier; zeros when it is shorter.
std::array<uint8_t, 4> keyIdTail(const uint8_t* identifier, size_t len);

} // namespace PackageSignatures
