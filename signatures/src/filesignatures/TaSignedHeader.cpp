#include "filesignatures/TaSignedHeader.h"

#include <cstdio>

namespace PackageSignatures {

namespace {

void appendLe(std::vector<uint8_t>& out, uint32_t value, int width)
{
    for (int i = 0; i < width; ++i)
        out.push_back(uint8_t(value >> (8 * i)));
}

uint32_t readLe(const uint8_t* data, int width)
{
    uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = value << 8 | data[i];
    return value;
}

} // namespace

std::vector<uint8_t> TaSignedHeader::leadingFields() const
{
    std::vector<uint8_t> out;
    out.reserve(leadingSize);
    appendLe(out, magic, 4);
    appendLe(out, imageType, 4);
    appendLe(out, imageSize, 4);
    appendLe(out, algorithm, 4);
    appendLe(out, uint32_t(hash.size()), 2);
    appendLe(out, uint32_t(signature.size()), 2);
    return out;
}

std::vector<uint8_t> TaSignedHeader::trailingFields() const
{
    std::vector<uint8_t> out(uuid.begin(), uuid.end());
    appendLe(out, taVersion, 4);
    return out;
}

std::vector<uint8_t> TaSignedHeader::serialize() const
{
    std::vector<uint8_t> out = leadingFields();
    out.insert(out.end(), hash.begin(), hash.end());
    out.insert(out.end(), signature.begin(), signature.end());
    const std::vector<uint8_t> trailing = trailingFields();
    out.insert(out.end(), trailing.begin(), trailing.end());
    return out;
}

std::optional<TaSignedHeader> TaSignedHeader::parse(const uint8_t* data, size_t len)
{
    if (data == nullptr || len < leadingSize + trailingSize || readLe(data, 4) != magic)
        return std::nullopt;
    const size_t hashSize = readLe(data + 16, 2);
    const size_t signatureSize = readLe(data + 18, 2);
    if (len != leadingSize + hashSize + signatureSize + trailingSize)
        return std::nullopt;
    TaSignedHeader header;
    header.imageType = readLe(data + 4, 4);
    header.imageSize = readLe(data + 8, 4);
    header.algorithm = readLe(data + 12, 4);
    const uint8_t* cursor = data + leadingSize;
    header.hash.assign(cursor, cursor + hashSize);
    cursor += hashSize;
    header.signature.assign(cursor, cursor + signatureSize);
    cursor += signatureSize;
    for (uint8_t& byte : header.uuid)
        byte = *cursor++;
    header.taVersion = readLe(cursor, 4);
    return header;
}

std::optional<std::array<uint8_t, 16>> taUuidFromFileName(const char* baseName)
{
    if (baseName == nullptr)
        return std::nullopt;
    unsigned timeLow = 0;
    unsigned short timeMid = 0;
    unsigned short timeHiAndVersion = 0;
    unsigned char node[8] {};
    static const char* const patterns[] = {
        "%08x-%04hx-%04hx-%02hhx%02hhx-%02hhx%02hhx%02hhx%02hhx%02hhx%02hhx.ta",
        "%08x-%04hx-%04hx-%02hhx%02hhx%02hhx%02hhx%02hhx%02hhx%02hhx%02hhx.ta",
    };
    bool converted = false;
    for (const char* pattern : patterns) {
        if (std::sscanf(baseName, pattern, &timeLow, &timeMid, &timeHiAndVersion, &node[0], &node[1], &node[2],
                        &node[3], &node[4], &node[5], &node[6], &node[7])
            == 11) {
            converted = true;
            break;
        }
    }
    if (!converted)
        return std::nullopt;
    // The first three fields are stored big-endian, as RFC 4122 writes them.
    std::array<uint8_t, 16> uuid {uint8_t(timeLow >> 24), uint8_t(timeLow >> 16), uint8_t(timeLow >> 8),
                                  uint8_t(timeLow),       uint8_t(timeMid >> 8),  uint8_t(timeMid),
                                  uint8_t(timeHiAndVersion >> 8), uint8_t(timeHiAndVersion)};
    for (int i = 0; i < 8; ++i)
        uuid[8 + i] = node[i];
    return uuid;
}

} // namespace PackageSignatures
