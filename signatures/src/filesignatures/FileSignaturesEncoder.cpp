#include "filesignatures/FileSignaturesEncoder.h"

#include <climits>
#include <cstring>
#include <utility>

#include <openssl/crypto.h>

namespace PackageSignatures {

namespace {

constexpr uint8_t integerTag = 0x02;
constexpr uint8_t octetStringTag = 0x04;
constexpr uint8_t sequenceTag = 0x30;
// The entries are written after room for the headers that go in front of
// them once their length is known: two SEQUENCE headers of at most 1 + 9
// bytes and the version INTEGER of at most 2 + 9.
constexpr size_t headroom = 2 * 10 + 11;

// A DER length: one byte below 128, else 0x80 + the count of big-endian
// bytes that follow, as few as hold the length.
size_t encodeLength(size_t length, uint8_t* out)
{
    if (length < 0x80) {
        out[0] = uint8_t(length);
        return 1;
    }
    uint8_t bytes[sizeof length];
    size_t count = 0;
    for (size_t rest = length; rest != 0; rest >>= 8)
        bytes[count++] = uint8_t(rest);
    out[0] = uint8_t(0x80 | count);
    for (size_t i = 0; i < count; ++i)
        out[1 + i] = bytes[count - 1 - i];
    return 1 + count;
}

// A DER INTEGER's content: the fewest two's-complement bytes, big-endian.
size_t encodeIntegerContent(long value, uint8_t* out)
{
    uint8_t bytes[sizeof value];
    for (size_t i = 0; i < sizeof value; ++i)
        bytes[i] = uint8_t((unsigned long)value >> (8 * (sizeof value - 1 - i)));
    size_t first = 0;
    // A leading byte may go when the next one carries the same sign.
    while (first + 1 < sizeof value
           && ((bytes[first] == 0x00 && !(bytes[first + 1] & 0x80))
               || (bytes[first] == 0xFF && (bytes[first + 1] & 0x80))))
        ++first;
    std::memcpy(out, bytes + first, sizeof value - first);
    return sizeof value - first;
}

size_t encodeInteger(long value, uint8_t* out)
{
    uint8_t content[sizeof value];
    const size_t length = encodeIntegerContent(value, content);
    out[0] = integerTag;
    out[1] = uint8_t(length);
    std::memcpy(out + 2, content, length);
    return 2 + length;
}

size_t headerLength(size_t contentLength)
{
    uint8_t scratch[10];
    return 1 + encodeLength(contentLength, scratch);
}

} // namespace

FileSignaturesEncoder::FileSignaturesEncoder(long version)
    : m_version(version)
{
}

FileSignaturesEncoder::~FileSignaturesEncoder()
{
    OPENSSL_free(m_buffer);
}

FileSignaturesEncoder::FileSignaturesEncoder(FileSignaturesEncoder&& other) noexcept
{
    *this = std::move(other);
}

FileSignaturesEncoder& FileSignaturesEncoder::operator=(FileSignaturesEncoder&& other) noexcept
{
    if (this != &other) {
        OPENSSL_free(m_buffer);
        m_buffer = std::exchange(other.m_buffer, nullptr);
        m_used = std::exchange(other.m_used, 0);
        m_capacity = std::exchange(other.m_capacity, 0);
        m_count = std::exchange(other.m_count, 0);
        m_version = other.m_version;
        m_failed = other.m_failed;
    }
    return *this;
}

bool FileSignaturesEncoder::reserve(size_t more)
{
    if (m_failed)
        return false;
    const size_t used = m_used == 0 ? headroom : m_used;
    if (more > SIZE_MAX / 2 - used) {
        m_failed = true;
        return false;
    }
    if (used + more <= m_capacity) {
        m_used = used;
        return true;
    }
    // Half as much again: growing an allocation this large moves pages
    // rather than bytes, and leaves less unused than doubling.
    size_t capacity = m_capacity < 4096 ? 4096 : m_capacity + m_capacity / 2;
    if (capacity < used + more)
        capacity = used + more;
    auto* grown = static_cast<uint8_t*>(OPENSSL_realloc(m_buffer, capacity));
    if (grown == nullptr) {
        m_failed = true;
        return false;
    }
    m_buffer = grown;
    m_capacity = capacity;
    m_used = used;
    return true;
}

void FileSignaturesEncoder::expect(size_t entries, size_t valueLength)
{
    // An entry's headers: SEQUENCE and OCTET STRING of at most 1 + 9 bytes
    // each, the INTEGER of at most 2 + 8.
    constexpr size_t entryHeaders = 30;
    if (m_failed || valueLength > SIZE_MAX / 4 || entries > (SIZE_MAX / 4) / (entryHeaders + valueLength))
        return;
    const size_t used = m_used == 0 ? headroom : m_used;
    const size_t wanted = used + entries * (entryHeaders + valueLength);
    if (wanted <= m_capacity || wanted > SIZE_MAX / 4)
        return;
    if (auto* grown = static_cast<uint8_t*>(OPENSSL_realloc(m_buffer, wanted))) {
        m_buffer = grown;
        m_capacity = wanted;
        m_used = used;
    }
}

bool FileSignaturesEncoder::add(long index, const uint8_t* value, size_t len)
{
    uint8_t integer[2 + sizeof index];
    const size_t integerLength = encodeInteger(index, integer);
    uint8_t octetHeader[10];
    octetHeader[0] = octetStringTag;
    const size_t octetHeaderLength = 1 + encodeLength(len, octetHeader + 1);
    if (len > SIZE_MAX / 4) {
        m_failed = true;
        return false;
    }
    const size_t contentLength = integerLength + octetHeaderLength + len;
    uint8_t sequenceHeader[10];
    sequenceHeader[0] = sequenceTag;
    const size_t sequenceHeaderLength = 1 + encodeLength(contentLength, sequenceHeader + 1);
    if (!reserve(sequenceHeaderLength + contentLength))
        return false;
    for (const auto& [bytes, length] : {std::pair<const uint8_t*, size_t> {sequenceHeader, sequenceHeaderLength},
                                        {integer, integerLength},
                                        {octetHeader, octetHeaderLength},
                                        {value, len}}) {
        if (length != 0)
            std::memcpy(m_buffer + m_used, bytes, length);
        m_used += length;
    }
    ++m_count;
    return true;
}

uint8_t* FileSignaturesEncoder::release(size_t& len)
{
    len = 0;
    if (!reserve(0))
        return nullptr;
    const size_t entriesLength = m_used - headroom;
    uint8_t version[2 + sizeof m_version];
    const size_t versionLength = encodeInteger(m_version, version);
    const size_t listLength = headerLength(entriesLength) + entriesLength;
    const size_t total = headerLength(versionLength + listLength) + versionLength + listLength;
    if (total > size_t(INT_MAX)) {
        m_failed = true;
        return nullptr;
    }
    // The headers go right in front of the entries, then everything moves
    // to the start of the buffer, which the caller gets whole.
    uint8_t* start = m_buffer + headroom - (total - entriesLength);
    uint8_t* out = start;
    *out++ = sequenceTag;
    out += encodeLength(versionLength + listLength, out);
    std::memcpy(out, version, versionLength);
    out += versionLength;
    *out++ = sequenceTag;
    out += encodeLength(entriesLength, out);
    std::memmove(m_buffer, start, total);
    // What was expected but not written goes back.
    uint8_t* result = m_buffer;
    if (total < m_capacity) {
        if (auto* shrunk = static_cast<uint8_t*>(OPENSSL_realloc(m_buffer, total)))
            result = shrunk;
    }
    m_buffer = nullptr;
    m_used = 0;
    m_capacity = 0;
    m_count = 0;
    len = total;
    return result;
}

} // namespace PackageSignatures
