// Building one signature block: a detached CMS SignedData over a range of a
// file's bytes, with the private attributes the package manager reads.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <openssl/cms.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cms/CmsSigning.h"
#include "cms/CmsVerification.h"
#include "common/LibcHandles.h"
#include "common/OpenSslHandles.h"
#include "core/Digests.h"
#include "core/Oids.h"
#include "filesignatures/ImaSignature.h"
#include "filesignatures/PackageFileSigning.h"
#include "torvel/CertificateFunctions.h"
#include "torvel/CmsFunctions.h"

using namespace PackageSignatures;

namespace {

constexpr unsigned signingFlags = CMS_DETACHED | CMS_BINARY | CMS_NOSMIMECAP | CMS_PARTIAL | CMS_USE_KEYID;
constexpr size_t contentPiece = 65536;

bool startsWithRpmLead(int fd, off_t start)
{
    static constexpr unsigned char rpmLeadMagic[] = {0xED, 0xAB, 0xEE, 0xDB};
    unsigned char head[sizeof rpmLeadMagic];
    return pread(fd, head, sizeof head, start) == ssize_t(sizeof head)
           && std::memcmp(head, rpmLeadMagic, sizeof head) == 0;
}

template <typename T, int (*Encode)(const T*, unsigned char**)>
bool addSequenceAttribute(CMS_SignerInfo* signer, int nid, const T* value, const char* encodingFailure,
                          const char* addingFailure)
{
    unsigned char* der = nullptr;
    const int length = Encode(value, &der);
    const Common::OpenSsl::BytesHandle owned(der);
    if (length <= 0) {
        std::fprintf(stderr, "%s", encodingFailure);
        return false;
    }
    if (CMS_signed_add1_attr_by_NID(signer, nid, V_ASN1_SEQUENCE, owned.get(), length) != 1) {
        std::fprintf(stderr, "%s", addingFailure);
        return false;
    }
    return true;
}

bool addFileSignatures(CMS_SignerInfo* signer, int fd, const FileSigningKeys& keys, unsigned threads)
{
    const std::optional<PackageFileSignatures> lists = signPackageFiles(fd, keys, threads);
    if (!lists)
        return false;
    return addSequenceAttribute<FileSignatures, i2d_FileSignatures>(
               signer, Oids::packageFileSignatures(), lists->ordinary.get(),
               "Could not serialize ima file signatures\n", "Could not add CMS attribute\n")
           && addSequenceAttribute<FileSignatures, i2d_FileSignatures>(
               signer, Oids::packageTrustletSignatures(), lists->trustlets.get(),
               "Could not serialize ta file signatures\n", "Could not add CMS attribute\n");
}

std::string keyIdOf(X509* certificate)
{
    const Common::Libc::CStringHandle text(certificate_get_keyid(certificate));
    return text ? std::string(text.get()) : std::string();
}

bool addRotationChain(CMS_SignerInfo* signer, X509* certificate, const ProofOfRotationChain* chain)
{
    const int count = ProofOfRotationChain_count(chain);
    if (count == 0) {
        std::fprintf(stderr, "Proof-of-rotation chain is malformed, no rotations found\n");
        return false;
    }
    X509* newest = ProofOfRotation_get0_new_cert(ProofOfRotationChain_get0_at(chain, count - 1));
    const std::string newestKeyId = keyIdOf(newest);
    if (newestKeyId.empty() || newestKeyId != keyIdOf(certificate)) {
        std::fprintf(stderr, "Last keyid in rotation chain does not match with certificate's keyid\n");
        return false;
    }
    return addSequenceAttribute<ProofOfRotationChain, i2d_ProofOfRotationChain>(
        signer, Oids::rotationChain(), chain, "Could not serialize proof-of-rotation chain\n",
        "Could not add CMS proof-of-rotation chain attribute\n");
}

// Streams the signed bytes through the CMS digest in bounded pieces.
bool finalise(CMS_ContentInfo* cms, BIO* source)
{
    Common::OpenSsl::BioHandle digesting(CMS_dataInit(cms, nullptr));
    if (!digesting)
        return false;
    std::vector<unsigned char> piece(contentPiece);
    int got = 0;
    while ((got = BIO_read(source, piece.data(), int(piece.size()))) > 0) {
        if (BIO_write(digesting.get(), piece.data(), got) != got)
            return false;
    }
    return got == 0 && BIO_flush(digesting.get()) == 1 && CMS_dataFinal(cms, digesting.get()) == 1;
}

unsigned char* encode(CMS_ContentInfo* cms, size_t* outLen)
{
    const Common::OpenSsl::BioHandle memory(BIO_new(BIO_s_mem()));
    if (!memory) {
        std::fprintf(stderr, "Could not encode CMS\n");
        return nullptr;
    }
    if (i2d_CMS_bio(memory.get(), cms) != 1) {
        std::fprintf(stderr, "CMS i2d serializaion failed\n");
        return nullptr;
    }
    char* data = nullptr;
    const long length = BIO_get_mem_data(memory.get(), &data);
    auto* copy = static_cast<unsigned char*>(length > 0 ? std::malloc(size_t(length)) : nullptr);
    if (copy == nullptr) {
        std::fprintf(stderr, "Could not encode CMS\n");
        return nullptr;
    }
    std::memcpy(copy, data, size_t(length));
    if (outLen != nullptr)
        *outLen = size_t(length);
    return copy;
}

} // namespace

namespace PackageSignatures {

unsigned char* signFileRange(int fd, int64_t start, int64_t end, bool signFiles, EVP_PKEY* key, EVP_PKEY* taKey,
                             unsigned taAlgorithm, X509* cert, ProofOfRotationChain* chain, size_t* outLen,
                             unsigned fileSigningThreads)
{
    const Common::OpenSsl::BioHandle source(start < 0 || end < start ? nullptr : fileRangeSource(fd, start, end));
    if (!source) {
        std::fprintf(stderr, "Could not create BIO from file\n");
        return nullptr;
    }
    const Common::OpenSsl::CmsHandle cms(CMS_ContentInfo_new());
    if (!cms || CMS_SignedData_init(cms.get()) != 1 || CMS_set_detached(cms.get(), 1) != 1) {
        std::fprintf(stderr, "Could not create CMS SignedData\n");
        return nullptr;
    }
    const EVP_MD* digest = defaultDigest(key);
    if (digest == nullptr)
        return nullptr;
    CMS_SignerInfo* signer =
        cert == nullptr ? nullptr : CMS_add1_signer(cms.get(), cert, key, digest, signingFlags);
    if (signer == nullptr) {
        std::fprintf(stderr, "Could not add CMS signer\n");
        return nullptr;
    }
    // File signatures belong to a package, not to a previous block.
    if (signFiles && startsWithRpmLead(fd, off_t(start))) {
        const ASN1_OCTET_STRING* identifier = X509_get0_subject_key_id(cert);
        FileSigningKeys keys;
        keys.key = key;
        keys.digest = digest;
        keys.keyIdTail = identifier ? keyIdTail(ASN1_STRING_get0_data(identifier), size_t(ASN1_STRING_length(identifier)))
                                    : std::array<uint8_t, 4> {};
        keys.taKey = taKey;
        keys.taAlgorithm = taAlgorithm;
        // The package is read from its start through a duplicate that
        // shares the descriptor's position.
        if (lseek(fd, off_t(start), SEEK_SET) != off_t(start) || !addFileSignatures(signer, fd, keys, fileSigningThreads))
            return nullptr;
    }
    if (chain != nullptr && !addRotationChain(signer, cert, chain))
        return nullptr;
    if (!finalise(cms.get(), source.get())) {
        std::fprintf(stderr, "CMS signing failed\n");
        return nullptr;
    }
    return encode(cms.get(), outLen);
}

} // namespace PackageSignatures

extern "C" {

unsigned char* cms_sign(int fd, bool signFiles, EVP_PKEY* key, EVP_PKEY* taKey, unsigned taAlgorithm, X509* cert,
                        ProofOfRotationChain* chain, size_t* outLen)
{
    const off_t start = lseek(fd, 0, SEEK_CUR);
    struct stat status;
    const int64_t end = start >= 0 && fstat(fd, &status) == 0 ? int64_t(status.st_size) : -1;
    unsigned char* der =
        signFileRange(fd, start, end, signFiles, key, taKey, taAlgorithm, cert, chain, outLen);
    lseek(fd, 0, SEEK_END);
    return der;
}

} // extern "C"
