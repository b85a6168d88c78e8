#pragma once

#include <cstddef>

#include <openssl/bio.h>

namespace PackageSignatures {

// OpenSSL's memory sources take an int length.
constexpr long largestMemorySource = 2147483647L;

// A source over len bytes: a memory source up to largestMemorySource bytes,
// beyond that an anonymous temporary file holding a copy. Null on failure,
// with a diagnostic.
BIO* dataSource(const unsigned char* data, size_t len);

} // namespace PackageSignatures
