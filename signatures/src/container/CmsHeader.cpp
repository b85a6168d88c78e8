#include "torvel/CmsHeader.h"

namespace {

uint32_t readLe32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint64_t readLe64(const unsigned char* p)
{
    return uint64_t(readLe32(p)) | uint64_t(readLe32(p + 4)) << 32;
}

void appendLe32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(uint8_t(value >> shift));
}

} // namespace

CmsHeader::CmsHeader(unsigned version, long size)
    : version(version)
    , derSize(size)
{
}

std::optional<CmsHeader> CmsHeader::read(const unsigned char* data, long len)
{
    if (data == nullptr || len < encodedSize)
        return std::nullopt;
    const unsigned char* trailer = data + len - encodedSize;
    const uint32_t magic = readLe32(trailer + 8);
    CmsHeader header;
    if (magic == legacyMagic) {
        // The legacy form has no version field: it is always read as 1.
        header.version = 1;
        header.derSize = int64_t(readLe64(trailer));
    } else if (magic == currentMagic) {
        header.version = readLe32(trailer + 4);
        header.derSize = int64_t(readLe32(trailer));
    } else {
        return std::nullopt;
    }
    return header;
}

std::vector<uint8_t> CmsHeader::serialize() const
{
    std::vector<uint8_t> out;
    out.reserve(encodedSize);
    const uint64_t size = uint64_t(derSize);
    if (version <= 1) {
        appendLe32(out, uint32_t(size));
        appendLe32(out, uint32_t(size >> 32));
        appendLe32(out, legacyMagic);
    } else {
        appendLe32(out, uint32_t(size));
        appendLe32(out, version);
        appendLe32(out, currentMagic);
    }
    return out;
}
