// Building one signature block: a detached CMS SignedData over a range of a
// file's bytes, with the private attributes the package manager reads.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <stop_token>
#include <system_error>
#include <thread>
#include <vector>

#include <malloc.h>
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TORVEL_ADDRESS_SANITIZER 1
#endif
#endif
#include <openssl/cms.h>
#include <openssl/crypto.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cms/CmsSigning.h"
#include "cms/CmsVerification.h"
#include "common/LibcHandles.h"
#include "common/OpenSslHandles.h"
#include "core/Digests.h"
#include "core/Oids.h"
#include "core/PrivateKeys.h"
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

// Adds the DER of a SEQUENCE as a signed attribute whose value the signer
// info takes over. CMS_signed_add1_attr_* copy a value twice (into the
// attribute they make, then into its duplicate in the signer info), and for
// a package of many files each copy is megabytes; so an empty SEQUENCE goes
// in and its value is then swapped for the real one, in place.
bool attachSequenceAttribute(CMS_SignerInfo* signer, int nid, uint8_t* der, size_t length)
{
    Common::OpenSsl::Asn1StringHandle value(ASN1_STRING_type_new(V_ASN1_SEQUENCE));
    if (!value) {
        OPENSSL_free(der);
        return false;
    }
    ASN1_STRING_set0(value.get(), der, int(length));
    static constexpr unsigned char emptySequence[] = {0x30, 0x00};
    if (CMS_signed_add1_attr_by_NID(signer, nid, V_ASN1_SEQUENCE, emptySequence, sizeof emptySequence) != 1)
        return false;
    // The attribute just added is the last one of its kind.
    int location = -1;
    for (int found = -1; (found = CMS_signed_get_attr_by_NID(signer, nid, found)) >= 0;)
        location = found;
    X509_ATTRIBUTE* attribute = location < 0 ? nullptr : CMS_signed_get_attr(signer, location);
    ASN1_TYPE* placeholder = attribute == nullptr ? nullptr : X509_ATTRIBUTE_get0_type(attribute, 0);
    if (placeholder == nullptr)
        return false;
    ASN1_TYPE_set(placeholder, V_ASN1_SEQUENCE, value.release());
    return true;
}

bool addFileSignatureList(CMS_SignerInfo* signer, int nid, FileSignaturesEncoder& list, const char* encodingFailure)
{
    size_t length = 0;
    uint8_t* der = list.release(length);
    if (der == nullptr) {
        std::fprintf(stderr, "%s", encodingFailure);
        return false;
    }
    if (!attachSequenceAttribute(signer, nid, der, length)) {
        std::fprintf(stderr, "Could not add CMS attribute\n");
        return false;
    }
    return true;
}

bool addFileSignatures(CMS_SignerInfo* signer, int fd, const FileSigningKeys& keys, unsigned threads)
{
    std::optional<PackageFileSignatures> lists = signPackageFiles(fd, keys, threads);
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(TORVEL_ADDRESS_SANITIZER)
    // (Not under AddressSanitizer, whose allocator glibc's malloc_trim does
    // not know: glibc's heap bookkeeping then fails at thread exit.)
    // The payload's decompressor, the header and the file list have just
    // been freed, in the middle of the allocator's heaps where they would
    // stay resident; their pages go back before the signed attributes are
    // encoded, which holds the lists three times over.
    malloc_trim(0);
#endif
    return lists
           && addFileSignatureList(signer, Oids::packageFileSignatures(), lists->ordinary,
                                   "Could not serialize ima file signatures\n")
           && addFileSignatureList(signer, Oids::packageTrustletSignatures(), lists->trustlets,
                                   "Could not serialize ta file signatures\n");
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

// Streams the signed bytes through the CMS digest in bounded pieces, until
// the end or until asked to stop. Only the signature at the end needs the key.
bool streamContent(BIO* digesting, BIO* source, const std::stop_token& stop = {})
{
    std::vector<unsigned char> piece(contentPiece);
    int got = 0;
    while (!stop.stop_requested() && (got = BIO_read(source, piece.data(), int(piece.size()))) > 0) {
        if (BIO_write(digesting, piece.data(), got) != got)
            return false;
    }
    return !stop.stop_requested() && got == 0 && BIO_flush(digesting) == 1;
}

// Straight into a buffer of the exact size: through a memory BIO the
// encoding of a block with many file signatures would be held three times.
unsigned char* encode(CMS_ContentInfo* cms, size_t* outLen)
{
    const int length = i2d_CMS_ContentInfo(cms, nullptr);
    if (length <= 0) {
        std::fprintf(stderr, "CMS i2d serializaion failed\n");
        return nullptr;
    }
    auto* der = static_cast<unsigned char*>(std::malloc(size_t(length)));
    if (der == nullptr) {
        std::fprintf(stderr, "Could not encode CMS\n");
        return nullptr;
    }
    unsigned char* end = der;
    if (i2d_CMS_ContentInfo(cms, &end) != length) {
        std::free(der);
        std::fprintf(stderr, "CMS i2d serializaion failed\n");
        return nullptr;
    }
    if (outLen != nullptr)
        *outLen = size_t(length);
    return der;
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
    const Common::OpenSsl::BioHandle digesting(CMS_dataInit(cms.get(), nullptr));
    if (!digesting) {
        std::fprintf(stderr, "CMS signing failed\n");
        return nullptr;
    }
    // File signatures belong to a package, not to a previous block.
    const bool packageFiles = signFiles && startsWithRpmLead(fd, off_t(start));
    // When the files are signed on threads of their own, the digest of the
    // whole package is made alongside them: neither waits for the other.
    // The thread reads with positioned reads and writes only into the
    // digest, which nothing else touches until it has been joined; on an
    // early return it is stopped and joined before anything it uses goes.
    bool streamed = false;
    std::jthread alongside;
    if (packageFiles && fileSigningThreads >= 2) {
        try {
            alongside = std::jthread([&streamed, &digesting, &source](std::stop_token stop) {
                streamed = streamContent(digesting.get(), source.get(), stop);
                OPENSSL_thread_stop();
            });
        } catch (const std::system_error&) {
        }
    }
    if (packageFiles) {
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
    if (alongside.joinable())
        alongside.join();
    else
        streamed = streamContent(digesting.get(), source.get());
    if (chain != nullptr && !addRotationChain(signer, cert, chain))
        return nullptr;
    bool signedAll = false;
    if (streamed) {
        const std::unique_lock<std::mutex> turn = exclusiveUse(key);
        signedAll = CMS_dataFinal(cms.get(), digesting.get()) == 1;
    }
    if (!signedAll) {
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
