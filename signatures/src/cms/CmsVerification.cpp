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
#include "common/PosixIo.h"
#include "TorvelHandles.h"
#include "core/Digests.h"
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

// The legacy form embeds the GOST R 34.11-2012 digest of the data instead
// of signing the data itself.
bool embeddedDigestMatches(BIO* data, const std::vector<unsigned char>& embedded)
{
    const EVP_MD* digest = gost2012Digest256();
    if (digest == nullptr)
        return false;
    const Common::OpenSsl::EvpMdCtxHandle context(EVP_MD_CTX_new());
    std::vector<unsigned char> piece(digestPiece);
    unsigned char computed[EVP_MAX_MD_SIZE];
    unsigned computedLength = 0;
    bool digested = context && EVP_DigestInit_ex(context.get(), digest, nullptr) == 1;
    int got = 0;
    while (digested && (got = BIO_read(data, piece.data(), digestPiece)) > 0)
        digested = EVP_DigestUpdate(context.get(), piece.data(), size_t(got)) == 1;
    if (!digested || got < 0 || EVP_DigestFinal_ex(context.get(), computed, &computedLength) != 1) {
        std::fprintf(stderr, "Could not calculate digest for data\n");
        return false;
    }
    if (embedded.size() != computedLength) {
        std::fprintf(stderr, "CMS contains digest with wrong length (expected %u, got %ld)\n", computedLength,
                     long(embedded.size()));
        return false;
    }
    if (std::memcmp(embedded.data(), computed, computedLength) != 0) {
        std::fprintf(stderr, "Digests differ from each other (signed data was corrupted?)\n");
        return false;
    }
    return true;
}

bool signatureHolds(BIO* data, CMS_ContentInfo* cms, X509_STORE* store)
{
    if (CMS_is_detached(cms)) {
        if (CMS_verify(cms, nullptr, store, data, nullptr, CMS_BINARY) == 1)
            return true;
        ERR_print_errors_fp(stderr);
        return false;
    }
    const Common::OpenSsl::BioHandle content(BIO_new(BIO_s_mem()));
    if (!content || CMS_verify(cms, nullptr, store, nullptr, content.get(), CMS_BINARY) != 1) {
        std::fprintf(stderr, "Unable to verify CMS certificate chain\n");
        return false;
    }
    char* bytes = nullptr;
    const long length = BIO_get_mem_data(content.get(), &bytes);
    const auto* begin = reinterpret_cast<const unsigned char*>(bytes);
    return embeddedDigestMatches(data, std::vector<unsigned char>(begin, begin + std::max(length, 0L)));
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

} // namespace

VerificationFailure checkCms(BIO* data, CMS_ContentInfo* cms, X509_STORE* store)
{
    if (data == nullptr || cms == nullptr || store == nullptr || !signatureHolds(data, cms, store)) {
        std::fprintf(stderr, "CMS verification failed\n");
        return VerificationFailure::InvalidSignature;
    }
    return rotationChainHolds(cms);
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
