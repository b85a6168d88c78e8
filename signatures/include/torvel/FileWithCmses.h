#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <openssl/evp.h>
#include <openssl/x509.h>

#include "torvel/Asn1Structures.h"
#include "torvel/BlockVerification.h"
#include "torvel/Cms.h"
#include "torvel/Export.h"
#include "torvel/SigningOutcome.h"
#include "torvel/Verification.h"

namespace PackageSignatures {

// One block found at the end of a file.
struct CmsLocation {
    int64_t offset = 0;  // first DER byte
    int64_t end = 0;     // offset + size: where the trailer starts
    uint32_t version = 0;
    int64_t size = 0;    // DER length
};

// A package file with the signature blocks appended to it. Blocks are located
// afresh by every operation, so nothing taken earlier follows later changes.
// Only regular files are opened. Blocks never reach into an RPM package
// itself (its length is read from its lead and signature header), and only
// well-formed blocks (a CMS, a version-3 block with its frame header) are
// ever removed or signed over.
//
// Signing replaces the file: the new contents are written to a new file in
// the same directory, which is renamed over the package, so that a process
// killed at any moment leaves either the old blocks or all the new ones.
// Hard links to the package keep the old contents. Signing and deleting
// hold an exclusive flock() on the package, so concurrent signers of one
// package take turns.
class TORVEL_EXPORT FileWithCmses {
public:
    // Takes ownership of the stream.
    explicit FileWithCmses(FILE* stream);
    ~FileWithCmses();
    FileWithCmses(const FileWithCmses&) = delete;
    FileWithCmses& operator=(const FileWithCmses&) = delete;

    static std::unique_ptr<FileWithCmses> fromPath(const char* path, const char* mode);
    // Read-write, falling back to read-only with a notice on standard error.
    static std::unique_ptr<FileWithCmses> fromPath(const char* path);
    static std::unique_ptr<FileWithCmses> fromPath(const std::string& path);

    int fd() const;
    bool isRpmPackage() const;
    std::vector<Cms> cmses() const;
    // Truncates the file before the last block (onlyLast) or before the first
    // one, which removes them all; refuses when a block to remove is not
    // well-formed or the file was opened read-only.
    bool deleteCmses(bool onlyLast);

    // Appends a block signed by cert and key: over the package when it is
    // the first block, over the block before it otherwise. With replace, a
    // block of the signer's own group at the end (every block, for a
    // developer) is replaced. zstdFrame writes a version-3 block. signFiles
    // signs the files inside an RPM package for its first block; taKey and
    // proofs may be null. On failure the file keeps exactly the bytes it had.
    // Refuses when a block it would sign over or replace is not well-formed.
    bool sign(X509* cert, EVP_PKEY* key, EVP_PKEY* taKey, unsigned taAlgorithm, ProofOfRotationChain* proofs,
              bool replace, bool zstdFrame, bool signFiles);
    // The same, with the signatures of the package's files made by
    // fileSigningThreads threads at once (the form above uses the calling
    // thread alone). The block holds the same file signatures, in the same
    // order, for every number of threads; key, and taKey, must allow use
    // from several threads at once.
    bool sign(X509* cert, EVP_PKEY* key, EVP_PKEY* taKey, unsigned taAlgorithm, ProofOfRotationChain* proofs,
              bool replace, bool zstdFrame, bool signFiles, unsigned fileSigningThreads);
    // The same, telling which step refused and which blocks were found,
    // kept and replaced.
    SigningOutcome signWithOutcome(X509* cert, EVP_PKEY* key, EVP_PKEY* taKey, unsigned taAlgorithm,
                                   ProofOfRotationChain* proofs, bool replace, bool zstdFrame, bool signFiles,
                                   unsigned fileSigningThreads);

    // Checks every block against the CA bundle at caPath, the bytes it
    // covers and its position; verifyCmses is verify(...).verified().
    VerificationResult verify(const char* caPath) const;
    bool verifyCmses(const char* caPath) const;
    // Checks every block as verify does, but goes on past a failure and
    // tells what each block is and everything found wrong with it. Prints
    // nothing.
    PackageVerification inspect(const char* caPath) const;
    // The first block alone, checked as verify checks it: for a reader that
    // takes the developer's certificate at its word only once it holds.
    PackageVerification inspectFirstBlock(const char* caPath) const;

    // In file order; empty when the file cannot be mapped.
    std::vector<CmsLocation> locateCmses() const;

private:
    struct StreamCloser {
        void operator()(FILE* stream) const noexcept { std::fclose(stream); }
    };
    // Locks the package for a change and returns its real path; when the
    // path names another file by then (a signer replaced it), reopens it.
    std::optional<std::string> lockForChange();
    bool isReadOnly() const;
    std::string displayPath() const;

    std::unique_ptr<FILE, StreamCloser> m_stream;
    std::string m_path; // as opened; empty for a stream given by the caller
};

} // namespace PackageSignatures
