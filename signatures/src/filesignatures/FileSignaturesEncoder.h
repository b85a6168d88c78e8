#pragma once

#include <cstddef>
#include <cstdint>

namespace PackageSignatures {

// Writes the DER of a FileSignatures list entry by entry, as the signatures
// come, into one buffer that holds nothing but the encoding:
//   FileSignatures ::= SEQUENCE { version INTEGER, signatures SEQUENCE OF FileSignature }
//   FileSignature  ::= SEQUENCE { index INTEGER, value OCTET STRING }
// A SEQUENCE OF keeps its order in DER, so the bytes are those of
// i2d_FileSignatures over the same entries. For a package of many files
// this is megabytes, which the ASN.1 objects of every entry would take
// more than once over.
//
// The buffer comes from OPENSSL_malloc and grows with OPENSSL_realloc,
// so that it can be handed to an ASN1_STRING without a copy.
class FileSignaturesEncoder {
public:
    explicit FileSignaturesEncoder(long version);
    ~FileSignaturesEncoder();
    FileSignaturesEncoder(const FileSignaturesEncoder&) = delete;
    FileSignaturesEncoder& operator=(const FileSignaturesEncoder&) = delete;
    FileSignaturesEncoder(FileSignaturesEncoder&& other) noexcept;
    FileSignaturesEncoder& operator=(FileSignaturesEncoder&& other) noexcept;

    // False when memory runs out; the encoder then refuses everything.
    bool add(long index, const uint8_t* value, size_t len);
    // Room for this many more entries with values of this length, taken at
    // once rather than by growing: growing copies the entries when the
    // allocator cannot move pages, and leaves the old copy behind in its
    // heap. Room never written is never touched. Only a hint: when the
    // room cannot be had, nothing changes.
    void expect(size_t entries, size_t valueLength);
    size_t count() const { return m_count; }

    // The complete DER, in a buffer from OPENSSL_malloc that the caller now
    // owns; the encoder is empty afterwards. Null when memory ran out or
    // the encoding would be longer than an ASN.1 length of OpenSSL holds.
    uint8_t* release(size_t& len);

private:
    bool reserve(size_t more);

    uint8_t* m_buffer = nullptr;
    size_t m_used = 0; // headroom included
    size_t m_capacity = 0;
    size_t m_count = 0;
    long m_version = 0;
    bool m_failed = false;
};

} // namespace PackageSignatures
