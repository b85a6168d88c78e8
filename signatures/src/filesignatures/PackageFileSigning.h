#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include <openssl/evp.h>

#include "filesignatures/FileSignaturesEncoder.h"

namespace PackageSignatures {

struct FileSigningKeys {
    EVP_PKEY* key = nullptr;        // signs ordinary files
    const EVP_MD* digest = nullptr; // the digest of the package's block
    std::array<uint8_t, 4> keyIdTail {};
    EVP_PKEY* taKey = nullptr;      // signs trusted applications; may be null
    unsigned taAlgorithm = 0;
};

// One list per signed attribute, both of version 1: integrity-subsystem
// values of ordinary files and signed headers of trusted applications, in
// archive order.
struct PackageFileSignatures {
    FileSignaturesEncoder ordinary {1};
    FileSignaturesEncoder trustlets {1};
};

// Signs every regular file of the RPM package that starts at fd's current
// position, reading the payload once. The signatures of ordinary files are
// made by `threads` threads at once (1: on the calling thread alone); the
// lists are the same, entry for entry and in the same order, for every
// number of threads. Empty on failure, with diagnostics.
std::optional<PackageFileSignatures> signPackageFiles(int fd, const FileSigningKeys& keys, unsigned threads);

} // namespace PackageSignatures
