// Checking one signature block: cms_verify over bytes in memory, and the
// same steps over a range of a package file for FileWithCmses::verify.

#include "cms/CmsVerification.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <openssl/err.h>
#include <unistd.h>

#include "cms/LargeData.h"
#include "common/LibcHandles.h"
#include "common/OpenSslHandles.h"
#include "certificates/CertificateFacts.h"
#include "cms/CmsReading.h"
#include "common/PosixIo.h"
#include "TorvelHandles.h"
#include "core/Digests.h"
#include "rotation/RotationChainCheck.h"
#include "torvel/CertificateFunctions.h"
#include "torvel/CmsFunctions.h"
#include "torvel/RotationFunctions.h"

namespace PackageSignatures {

namespace {

constexpr int digestPiece = 8192;
constexpr long rangeBufferSize = 65536;

struct FileRange {
    int fd;
    int64_t position;
    int64_t end;
};

int readRange(BIO* bio, char* out, int len)
{
    auto* range = static_cast<FileRange*>(BIO_get_data(bio));
    const int64_t want = std::min<int64_t>(len, range->end - range->position);
    if (want <= 0)
        return 0;
    const ssize_t got = Common::retryOnInterrupt([&] { return pread(range->fd, out, size_t(want), off_t(range->position)); });
    if (got <= 0)
        return -1; // the file ended before the range did
    range->position += got;
    return int(got);
}

long controlRange(BIO* bio, int command, long, void*)
{
    const auto* range = static_cast<FileRange*>(BIO_get_data(bio));
    switch (command) {
    case BIO_CTRL_EOF: return range->position >= range->end ? 1 : 0;
    case BIO_CTRL_PENDING: return long(std::min<int64_t>(range->end - range->position, 0x7FFFFFFF));
    case BIO_CTRL_FLUSH: return 1;
    default: return 0;
    }
}

int destroyRange(BIO* bio)
{
    delete static_cast<FileRange*>(BIO_get_data(bio));
    BIO_set_data(bio, nullptr);
    return 1;
}

// Made once; OpenSSL keeps no reference to a method beyond its BIOs.
const BIO_METHOD* fileRangeMethod()
{
    static BIO_METHOD* method = [] {
        BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "file range");
        if (made != nullptr) {
            BIO_meth_set_read(made, readRange);
            BIO_meth_set_ctrl(made, controlRange);
            BIO_meth_set_destroy(made, destroyRange);
        }
        return made;
    }();
    return method;
}

std::string keyIdOf(X509* certificate)
{
    const Common::Libc::CStringHandle text(certificate_get_keyid(certificate));
    return text ? std::string(text.get()) : std::string();
}

enum class DigestComparison { Matches, NoDigest, NotComputed, WrongLength, Differs };

struct EmbeddedDigest {
    DigestComparison comparison = DigestComparison::NotComputed;
    unsigned computedLength = 0;
};

// The legacy form embeds the GOST R 34.11-2012 digest of the data instead
// of signing the data itself.
EmbeddedDigest compareEmbeddedDigest(BIO* data, const std::vector<unsigned char>& embedded)
{
    EmbeddedDigest result;
    const EVP_MD* digest = findGost2012Digest256();
    if (digest == nullptr) {
        result.comparison = DigestComparison::NoDigest;
        return result;
    }
    const Common::OpenSsl::EvpMdCtxHandle context(EVP_MD_CTX_new());
    std::vector<unsigned char> piece(digestPiece);
    unsigned char computed[EVP_MAX_MD_SIZE];
    bool digested = context && EVP_DigestInit_ex(context.get(), digest, nullptr) == 1;
    int got = 0;
    while (digested && (got = BIO_read(data, piece.data(), digestPiece)) > 0)
        digested = EVP_DigestUpdate(context.get(), piece.data(), size_t(got)) == 1;
    if (!digested || got < 0 || EVP_DigestFinal_ex(context.get(), computed, &result.computedLength) != 1)
        return result;
    if (embedded.size() != result.computedLength)
        result.comparison = DigestComparison::WrongLength;
    else if (std::memcmp(embedded.data(), computed, result.computedLength) != 0)
        result.comparison = DigestComparison::Differs;
    else
        result.comparison = DigestComparison::Matches;
    return result;
}

bool embeddedDigestMatches(BIO* data, const std::vector<unsigned char>& embedded)
{
    const EmbeddedDigest result = compareEmbeddedDigest(data, embedded);
    switch (result.comparison) {
    case DigestComparison::Matches: return true;
    case DigestComparison::NoDigest:
        std::fprintf(stderr, "Could not get GOST 34.11-2012 256 reference\n");
        return false;
    case DigestComparison::NotComputed:
        std::fprintf(stderr, "Could not calculate digest for data\n");
        return false;
    case DigestComparison::WrongLength:
        std::fprintf(stderr, "CMS contains digest with wrong length (expected %u, got %ld)\n", result.computedLength,
                     long(embedded.size()));
        return false;
    case DigestComparison::Differs:
        std::fprintf(stderr, "Digests differ from each other (signed data was corrupted?)\n");
        return false;
    }
    return false;
}

// The content of a legacy block: what it says the digest of the data is.
std::optional<std::vector<unsigned char>> embeddedContent(CMS_ContentInfo* cms, X509_STORE* store, unsigned flags)
{
    const Common::OpenSsl::BioHandle content(BIO_new(BIO_s_mem()));
    if (!content || CMS_verify(cms, nullptr, store, nullptr, content.get(), CMS_BINARY | flags) != 1)
        return std::nullopt;
    char* bytes = nullptr;
    const long length = BIO_get_mem_data(content.get(), &bytes);
    const auto* begin = reinterpret_cast<const unsigned char*>(bytes);
    return std::vector<unsigned char>(begin, begin + std::max(length, 0L));
}

bool signatureHolds(BIO* data, CMS_ContentInfo* cms, X509_STORE* store)
{
    if (CMS_is_detached(cms)) {
        if (CMS_verify(cms, nullptr, store, data, nullptr, CMS_BINARY) == 1)
            return true;
        ERR_print_errors_fp(stderr);
        return false;
    }
    const std::optional<std::vector<unsigned char>> embedded = embeddedContent(cms, store, 0);
    if (!embedded) {
        std::fprintf(stderr, "Unable to verify CMS certificate chain\n");
        return false;
    }
    return embeddedDigestMatches(data, *embedded);
}

VerificationFailure rotationChainHolds(CMS_ContentInfo* cms)
{
    const Common::Torvel::ProofOfRotationChainHandle chain(cms_get_rotation_chain(cms));
    if (!chain)
        return VerificationFailure::None;
    if (ProofOfRotationChain_verify(chain.get()) != 1) {
        std::fprintf(stderr, "Proof-of-rotation chain verification failed\n");
        return VerificationFailure::InvalidRotationChain;
    }
    const int count = ProofOfRotationChain_count(chain.get());
    if (count == 0)
        return VerificationFailure::None;
    const std::string newest = keyIdOf(ProofOfRotation_get0_new_cert(ProofOfRotationChain_get0_at(chain.get(), count - 1)));
    if (newest.empty() || newest != keyIdOf(cms_get_certificate(cms))) {
        std::fprintf(stderr, "Last keyid in rotation chain does not match with CMS certificate\n");
        return VerificationFailure::RotationKeyMismatch;
    }
    return VerificationFailure::None;
}

// OpenSSL's error queue as ERR_print_errors_fp would print it; the queue
// is emptied.
std::string takeOpensslErrors()
{
    std::string text;
    ERR_print_errors_cb(
        [](const char* line, size_t length, void* out) {
            static_cast<std::string*>(out)->append(line, length);
            return 1;
        },
        &text);
    return text;
}

BlockIssue chainIssue(int error)
{
    switch (error) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return BlockIssue::UnknownIssuer;
    case X509_V_ERR_CERT_HAS_EXPIRED: return BlockIssue::CertificateExpired;
    case X509_V_ERR_CERT_NOT_YET_VALID: return BlockIssue::CertificateNotYetValid;
    case X509_V_ERR_INVALID_PURPOSE: return BlockIssue::CertificateNotForSigning;
    default: return BlockIssue::InvalidChain;
    }
}

// The chain check CMS_verify makes: the signer's certificate, with the
// CMS's certificates as untrusted intermediates, for S/MIME signing.
std::optional<BlockProblem> chainProblem(CMS_ContentInfo* cms, X509* signer, X509_STORE* store)
{
    const Common::OpenSsl::X509StackHandle untrusted(CMS_get1_certs(cms));
    const Common::OpenSsl::X509StoreCtxHandle context(X509_STORE_CTX_new());
    if (!context || X509_STORE_CTX_init(context.get(), store, signer, untrusted.get()) != 1
        || X509_STORE_CTX_set_default(context.get(), "smime_sign") != 1)
        return BlockProblem {BlockIssue::InvalidChain, "the check could not be set up"};
    if (X509_verify_cert(context.get()) == 1)
        return std::nullopt;
    const int error = X509_STORE_CTX_get_error(context.get());
    std::string detail = X509_verify_cert_error_string(error);
    // Past the signer's own certificate the problem is an issuer's.
    X509* at = X509_STORE_CTX_get_current_cert(context.get());
    if (X509_STORE_CTX_get_error_depth(context.get()) > 0 && at != nullptr)
        detail += " (in the certificate of its issuer " + distinguishedName(X509_get_subject_name(at)) + ")";
    return BlockProblem {chainIssue(error), detail};
}

// The signer's signature over its signed attributes, with the embedded
// certificate's key. Empty when it holds, or when the block has no signed
// attributes (the signature is then over the content, and the content check
// tells).
bool signedAttributesMismatch(CMS_ContentInfo* cms)
{
    CMS_SignerInfo* signer = onlySignerInfo(cms);
    if (signer == nullptr || CMS_signed_get_attr_count(signer) < 0)
        return false;
    if (CMS_set1_signers_certs(cms, nullptr, 0) < 0)
        return false;
    return CMS_SignerInfo_verify(signer) != 1;
}

// Whether the covered bytes are those signed: the digest in the signed
// attributes (or the signature over the content) for the detached form, the
// embedded digest for the legacy one. Neither the chain nor the signature
// over the attributes is checked again.
bool coveredBytesHold(const CoveredBytes& covered, CMS_ContentInfo* cms, X509_STORE* store)
{
    const Common::OpenSsl::BioHandle data = covered();
    if (!data)
        return false;
    constexpr unsigned onlyContent = CMS_NO_SIGNER_CERT_VERIFY | CMS_NO_ATTR_VERIFY;
    if (CMS_is_detached(cms))
        return CMS_verify(cms, nullptr, store, data.get(), nullptr, CMS_BINARY | onlyContent) == 1;
    const std::optional<std::vector<unsigned char>> embedded = embeddedContent(cms, store, onlyContent);
    return embedded && compareEmbeddedDigest(data.get(), *embedded).comparison == DigestComparison::Matches;
}

// The authoritative check, the one checkCms makes.
bool signatureHoldsQuietly(const CoveredBytes& covered, CMS_ContentInfo* cms, X509_STORE* store)
{
    const Common::OpenSsl::BioHandle data = covered();
    if (!data)
        return false;
    if (CMS_is_detached(cms))
        return CMS_verify(cms, nullptr, store, data.get(), nullptr, CMS_BINARY) == 1;
    const std::optional<std::vector<unsigned char>> embedded = embeddedContent(cms, store, 0);
    return embedded && compareEmbeddedDigest(data.get(), *embedded).comparison == DigestComparison::Matches;
}

// Why a signature that does not hold fails, told part by part.
std::vector<BlockProblem> signatureProblems(const CoveredBytes& covered, CMS_ContentInfo* cms, X509_STORE* store,
                                            const std::string& firstReason)
{
    std::vector<BlockProblem> problems;
    X509* signer = onlyCertificate(cms);
    if (signer == nullptr || onlySignerInfo(cms) == nullptr) {
        problems.push_back({BlockIssue::NoSignerCertificate, {}});
        return problems;
    }
    if (std::optional<BlockProblem> chain = chainProblem(cms, signer, store))
        problems.push_back(*chain);
    const bool mismatch = signedAttributesMismatch(cms);
    if (mismatch)
        problems.push_back({BlockIssue::SignatureMismatch, {}});
    else if (!coveredBytesHold(covered, cms, store))
        problems.push_back({BlockIssue::CoveredBytesChanged, {}});
    if (problems.empty())
        problems.push_back({BlockIssue::SignatureMismatch, firstReason});
    ERR_clear_error();
    return problems;
}

std::optional<BlockProblem> rotationProblem(CMS_ContentInfo* cms)
{
    using Failure = RotationChainVerification::Failure;
    const std::optional<ProofOfRotationChain*> decoded = decodeRotationChain(cms);
    // An attribute that does not decode counts as none, as in checkCms.
    const Common::Torvel::ProofOfRotationChainHandle chain(decoded ? *decoded : nullptr);
    if (!chain)
        return std::nullopt;
    const RotationChainCheck check = checkRotationChain(chain.get(), Diagnostics::Silent);
    if (check.result != 1) {
        const int index = check.verification.proofIndex;
        std::string detail = "proof " + std::to_string(index + 1) + ": ";
        switch (check.verification.failure) {
        case Failure::InvalidProof: detail += "a signature of the proof does not verify"; break;
        case Failure::MissingOldKeyId: detail += "its old certificate has no key id"; break;
        case Failure::BrokenLink: detail += "its old key is not the key the proof before it ended with"; break;
        case Failure::MissingNewKeyId: detail += "its new certificate has no key id"; break;
        case Failure::None: detail += "it could not be checked"; break;
        }
        ERR_clear_error();
        return BlockProblem {BlockIssue::InvalidRotationChain, detail};
    }
    const int count = ProofOfRotationChain_count(chain.get());
    if (count == 0)
        return std::nullopt;
    const std::string newest = subjectKeyIdText(ProofOfRotation_get0_new_cert(ProofOfRotationChain_get0_at(chain.get(), count - 1)));
    if (newest.empty() || newest != subjectKeyIdText(onlyCertificate(cms)))
        return BlockProblem {BlockIssue::RotationKeyMismatch, newest};
    return std::nullopt;
}

} // namespace

VerificationFailure checkCms(BIO* data, CMS_ContentInfo* cms, X509_STORE* store)
{
    if (data == nullptr || cms == nullptr || store == nullptr || !signatureHolds(data, cms, store)) {
        std::fprintf(stderr, "CMS verification failed\n");
        return VerificationFailure::InvalidSignature;
    }
    return rotationChainHolds(cms);
}

CmsInspection inspectCms(const CoveredBytes& covered, CMS_ContentInfo* cms, X509_STORE* store)
{
    CmsInspection inspection;
    if (cms == nullptr || store == nullptr) {
        inspection.problems.push_back({BlockIssue::Unparsable, {}});
        return inspection;
    }
    // Errors left by someone else are not this block's.
    ERR_clear_error();
    if (!signatureHoldsQuietly(covered, cms, store)) {
        const unsigned long first = ERR_peek_error();
        const char* reason = first == 0 ? nullptr : ERR_reason_error_string(first);
        inspection.opensslErrors = takeOpensslErrors();
        inspection.problems = signatureProblems(covered, cms, store, reason ? reason : "");
    }
    if (std::optional<BlockProblem> rotation = rotationProblem(cms))
        inspection.problems.push_back(*rotation);
    return inspection;
}

BIO* fileRangeSource(int fd, int64_t start, int64_t end)
{
    const BIO_METHOD* method = fileRangeMethod();
    Common::OpenSsl::BioHandle range(method == nullptr ? nullptr : BIO_new(method));
    if (!range)
        return nullptr;
    BIO_set_data(range.get(), new FileRange {fd, start, std::max(start, end)});
    BIO_set_init(range.get(), 1);
    // OpenSSL reads content in 4 KiB pieces; the buffer turns them into
    // fewer, larger reads.
    Common::OpenSsl::BioHandle buffer(BIO_new(BIO_f_buffer()));
    if (!buffer || BIO_set_read_buffer_size(buffer.get(), rangeBufferSize) != 1)
        return nullptr;
    return BIO_push(buffer.release(), range.release());
}

} // namespace PackageSignatures

extern "C" {

int cms_verify(const unsigned char* data, long len, CMS_ContentInfo* cms, X509_STORE* store)
{
    using namespace PackageSignatures;
    const Common::OpenSsl::BioHandle source(data == nullptr || len < 0 ? nullptr : dataSource(data, size_t(len)));
    return checkCms(source.get(), cms, store) == VerificationFailure::None ? 1 : 0;
}

} // extern "C"
