#pragma once

#include <cstddef>
#include <cstdint>

#include <openssl/evp.h>
#include <openssl/x509.h>

#include "torvel/Asn1Structures.h"

namespace PackageSignatures {

// cms_sign over bytes [start, end) of the file instead of from the
// descriptor's position to its end: a replacing signer signs what the new
// block will cover while the blocks it replaces are still in the file.
// Moves the descriptor's position when it signs the files of a package,
// whose signatures are made by fileSigningThreads threads at once.
unsigned char* signFileRange(int fd, int64_t start, int64_t end, bool signFiles, EVP_PKEY* key, EVP_PKEY* taKey,
                             unsigned taAlgorithm, X509* cert, ProofOfRotationChain* chain, size_t* outLen,
                             unsigned fileSigningThreads = 1);

} // namespace PackageSignatures
