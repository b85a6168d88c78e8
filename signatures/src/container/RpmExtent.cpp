#include "container/RpmExtent.h"

#include <cstring>

namespace PackageSignatures {

namespace {

constexpr uint8_t leadMagic[] = {0xED, 0xAB, 0xEE, 0xDB};
constexpr uint8_t headerMagic[] = {0x8E, 0xAD, 0xE8, 0x01, 0x00, 0x00, 0x00, 0x00};
constexpr size_t signatureTypeOffset = 78;
constexpr uint16_t headerSignatureType = 5;
constexpr size_t indexEntrySize = 16;
// librpm refuses headers with more entries or more data than this.
constexpr uint32_t maximumEntries = 0xFFFF;
constexpr uint32_t maximumDataSize = 0x00FFFFFF;

constexpr uint32_t sizeTag = 1000;
constexpr uint32_t longSizeTag = 270;
constexpr uint32_t int32Type = 4;
constexpr uint32_t int64Type = 5;
// Far beyond any file, and small enough that adding it cannot overflow.
constexpr uint64_t maximumLength = uint64_t(1) << 62;

uint32_t readBe32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

uint64_t readBe64(const uint8_t* p)
{
    return uint64_t(readBe32(p)) << 32 | readBe32(p + 4);
}

struct SignatureHeader {
    uint32_t entries;
    uint32_t dataSize;
};

std::optional<SignatureHeader> signatureHeader(const uint8_t* data, size_t len)
{
    if (data == nullptr || len < rpmStartSize || std::memcmp(data, leadMagic, sizeof leadMagic) != 0)
        return std::nullopt;
    const uint8_t major = data[4];
    const uint16_t signatureType = uint16_t(data[signatureTypeOffset] << 8 | data[signatureTypeOffset + 1]);
    if ((major != 3 && major != 4) || signatureType != headerSignatureType)
        return std::nullopt;
    const uint8_t* intro = data + rpmLeadSize;
    if (std::memcmp(intro, headerMagic, sizeof headerMagic) != 0)
        return std::nullopt;
    const SignatureHeader header {readBe32(intro + 8), readBe32(intro + 12)};
    if (header.entries == 0 || header.entries > maximumEntries || header.dataSize > maximumDataSize)
        return std::nullopt;
    return header;
}

} // namespace

std::optional<size_t> rpmSignatureSectionEnd(const uint8_t* data, size_t len)
{
    const std::optional<SignatureHeader> header = signatureHeader(data, len);
    if (!header)
        return std::nullopt;
    // Bounded by the limits above: well below 32 MiB.
    const size_t unpadded = rpmStartSize + size_t(header->entries) * indexEntrySize + header->dataSize;
    return (unpadded + 7) / 8 * 8;
}

std::optional<int64_t> rpmPackageLength(const uint8_t* data, size_t len)
{
    const std::optional<size_t> sectionEnd = rpmSignatureSectionEnd(data, len);
    if (!sectionEnd || len < *sectionEnd)
        return std::nullopt;
    const std::optional<SignatureHeader> header = signatureHeader(data, len);
    const uint8_t* index = data + rpmStartSize;
    const uint8_t* store = index + size_t(header->entries) * indexEntrySize;

    std::optional<uint64_t> size;
    std::optional<uint64_t> longSize;
    for (uint32_t i = 0; i < header->entries; ++i) {
        const uint8_t* entry = index + size_t(i) * indexEntrySize;
        const uint32_t tag = readBe32(entry);
        const uint32_t type = readBe32(entry + 4);
        const uint32_t offset = readBe32(entry + 8);
        const uint32_t count = readBe32(entry + 12);
        const bool isSize = tag == sizeTag && type == int32Type;
        const bool isLongSize = tag == longSizeTag && type == int64Type;
        if (!isSize && !isLongSize)
            continue;
        const uint32_t width = isSize ? 4 : 8;
        if (count != 1 || offset > header->dataSize || header->dataSize - offset < width)
            return std::nullopt;
        if (isSize)
            size = readBe32(store + offset);
        else
            longSize = readBe64(store + offset);
    }
    // LONGSIZE is written instead of SIZE for packages of 4 GiB and more;
    // when both are there they must agree.
    if (size && longSize && *size != *longSize)
        return std::nullopt;
    const std::optional<uint64_t> headerAndPayload = longSize ? longSize : size;
    if (!headerAndPayload || *headerAndPayload > maximumLength)
        return std::nullopt;
    return int64_t(*sectionEnd + *headerAndPayload);
}

} // namespace PackageSignatures
