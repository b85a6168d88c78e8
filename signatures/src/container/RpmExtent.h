#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace PackageSignatures {

// Where an RPM package ends, read from its own first bytes, so that nothing
// appended to it can ever be taken for, or cut into, the package itself:
//   lead (96 bytes: magic ED AB EE DB, major version 3 or 4, ...,
//         signature type 5 at bytes 78..79)
//   signature header: 8E AD E8 01, 4 zero bytes, index count and data size
//         (big-endian), 16-byte index entries, data; padded to a multiple of 8
//   header and payload: as many bytes as the signature header's LONGSIZE
//         (tag 270, 64-bit) or SIZE (tag 1000, 32-bit) says.
// Every count, offset and size is checked against the bytes given and
// against librpm's own limits, since the package may be hostile.
constexpr size_t rpmLeadSize = 96;
constexpr size_t rpmHeaderIntroSize = 16;
// What rpmSignatureSectionEnd needs to see.
constexpr size_t rpmStartSize = rpmLeadSize + rpmHeaderIntroSize;

// The offset just after the signature header's padding; nullopt when the
// first rpmStartSize bytes are not an RPM lead and header introduction.
std::optional<size_t> rpmSignatureSectionEnd(const uint8_t* data, size_t len);

// The package's length, from at least its first rpmSignatureSectionEnd
// bytes; nullopt when they do not say it.
std::optional<int64_t> rpmPackageLength(const uint8_t* data, size_t len);

} // namespace PackageSignatures
