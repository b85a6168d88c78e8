#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "torvel/Export.h"

// The 12-byte trailer that ends every signature block appended to a package.
// Version 0 and 1 use the legacy form (64-bit size, magic F09F8E83); version 2
// and above the current form (32-bit size, 32-bit version, magic F09F91BB).
// All fields are little-endian.
class TORVEL_EXPORT CmsHeader {
public:
    static constexpr uint32_t legacyMagic = 0xF09F8E83u;
    static constexpr uint32_t currentMagic = 0xF09F91BBu;
    static constexpr long encodedSize = 12;

    CmsHeader() = default;
    CmsHeader(unsigned version, long size);

    // Decodes the trailer held in the last 12 bytes of the len bytes at data.
    static std::optional<CmsHeader> read(const unsigned char* data, long len);

    std::vector<uint8_t> serialize() const;
    // The trailer's own length, the same for both forms.
    long size() const { return encodedSize; }

    uint32_t version = 0;
    // Length of the DER that precedes the trailer. Not called `size`, which
    // is taken by the trailer-length accessor above.
    int64_t derSize = 0;
};
