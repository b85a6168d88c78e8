// Signatures of the files inside an RPM package: the payload is decompressed
// once, through librpm's archive reader, and each regular file is digested
// while it streams past; its digest is signed by a few threads at once.

#include "filesignatures/PackageFileSigning.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <openssl/crypto.h>
#include <openssl/x509v3.h>
// rpmarchive.h uses librpm's types without declaring them itself.
#include <rpm/rpmtypes.h>
#include <rpm/rpmarchive.h>
#include <rpm/rpmlib.h>
#include <rpm/rpmtag.h>
#include <sys/stat.h>

#include "common/GlibHandles.h"
#include "common/OpenSslHandles.h"
#include "common/RpmHandles.h"
#include "core/Digests.h"
#include "core/PrivateKeys.h"
#include "filesignatures/DigestSigner.h"
#include "filesignatures/ImaSignature.h"
#include "filesignatures/OrderedWork.h"
#include "filesignatures/TaSignedHeader.h"
#include "torvel/PackageFileFunctions.h"

namespace PackageSignatures {

namespace {

constexpr size_t archivePiece = 4096;
constexpr const char* trustedApplicationDirectory = "/usr/lib/optee_armtz/";

using Bytes = std::vector<uint8_t>;
using ContentSink = std::function<bool(const uint8_t* data, size_t len)>;

// Feeds the current file's content to sink in pieces of at most 4096 bytes.
bool readArchiveContent(rpmfi fi, const ContentSink& sink)
{
    uint8_t piece[archivePiece];
    for (rpm_loff_t left = rpmfiFSize(fi); left > 0;) {
        const size_t want = left < archivePiece ? size_t(left) : archivePiece;
        const ssize_t got = rpmfiArchiveRead(fi, piece, want);
        if (got != ssize_t(want)) {
            std::fprintf(stderr, "Could not read file from rpm payload\n");
            return false;
        }
        if (!sink(piece, want))
            return false;
        left -= want;
    }
    return true;
}

struct OpenedPackage {
    Common::Rpm::FdHandle fd;
    Common::Rpm::HeaderHandle header;
};

std::optional<OpenedPackage> readPackage(int fd)
{
    // No configuration is read: the library must not reset the macros of
    // a package manager it is loaded into, and reading needs none.
    OpenedPackage package;
    package.fd.reset(fdDup(fd));
    if (!package.fd || Ferror(package.fd.get())) {
        std::fprintf(stderr, "Could not duplicate fd: %s\n",
                     package.fd ? Fstrerror(package.fd.get()) : std::strerror(errno));
        return std::nullopt;
    }
    Header header = nullptr;
    // The package's own RPM signatures do not decide anything here.
    const rpmRC result = rpmReadPackageFile(nullptr, package.fd.get(), nullptr, &header);
    package.header.reset(header);
    if (result == RPMRC_NOTFOUND) {
        std::fprintf(stderr, "Argument is not an RPM package\n");
        return std::nullopt;
    }
    if (result == RPMRC_FAIL || !package.header) {
        std::fprintf(stderr, "Could not read header from package\n");
        return std::nullopt;
    }
    return package;
}

// Pushes the payload's decompressor onto the package's handle.
bool openPayload(OpenedPackage& package)
{
    const char* compressor = headerGetString(package.header.get(), RPMTAG_PAYLOADCOMPRESSOR);
    const std::string mode = std::string("r.") + (compressor ? compressor : "gzip");
    FD_t payload = Fdopen(package.fd.get(), mode.c_str());
    if (payload == nullptr || Ferror(payload)) {
        std::fprintf(stderr, "Could not reopen payload: %s\n", Fstrerror(payload ? payload : package.fd.get()));
        return false;
    }
    // Fdopen hands back the same handle with the decompressor on top.
    if (payload != package.fd.get()) {
        package.fd.release();
        package.fd.reset(payload);
    }
    return true;
}

// The file's own index, then every further hard link in librpm's order: all
// of them get the same value.
std::vector<int> linkIndexes(rpmfi fi)
{
    const int index = rpmfiFX(fi);
    std::vector<int> indexes {index};
    const int* links = nullptr;
    const uint32_t count = rpmfiFLinks(fi, &links);
    for (uint32_t i = 0; count >= 2 && i < count; ++i) {
        if (links[i] != index)
            indexes.push_back(links[i]);
    }
    return indexes;
}

bool addEntries(FileSignaturesEncoder& list, const std::vector<int>& indexes, const Bytes& value)
{
    for (const int index : indexes) {
        if (!list.add(index, value.data(), value.size()))
            return false;
    }
    return true;
}

// An ordinary file whose content has been digested, waiting for its
// signature.
struct DigestedFile {
    Bytes digest;
    std::vector<int> indexes;
    std::string path; // for the diagnostic when signing fails
};

std::optional<Bytes> digestContent(rpmfi fi, EVP_MD_CTX* context, const EVP_MD* digestType)
{
    if (EVP_DigestInit_ex(context, digestType, nullptr) != 1)
        return std::nullopt;
    if (!readArchiveContent(fi, [context](const uint8_t* data, size_t len) {
            return EVP_DigestUpdate(context, data, len) == 1;
        }))
        return std::nullopt;
    Bytes digest(EVP_MAX_MD_SIZE);
    unsigned length = 0;
    if (EVP_DigestFinal_ex(context, digest.data(), &length) != 1)
        return std::nullopt;
    digest.resize(length);
    return digest;
}

// What one signing thread does with a digested file: the integrity value
// around the signature of its digest. The context is the thread's own.
OrderedWork<DigestedFile, Bytes>::Work integrityValueWork(const DigestSigner& signer, uint8_t hashAlgorithm,
                                                          const std::array<uint8_t, 4>& keyIdTail)
{
    // Shared only so that the work can be a std::function; one thread uses it.
    auto context = std::make_shared<Common::OpenSsl::EvpPkeyCtxHandle>(signer.newContext());
    return [&signer, context, hashAlgorithm, keyIdTail](const DigestedFile& file) -> std::optional<Bytes> {
        ImaSignature value;
        value.hashAlgorithm = hashAlgorithm;
        value.keyIdTail = keyIdTail;
        if (!signer.sign(context->get(), file.digest, value.signature))
            return std::nullopt;
        return value.serialize();
    };
}

std::optional<Bytes> signTrustedApplication(rpmfi fi, const FileSigningKeys& keys)
{
    const Common::Glib::ByteArrayHandle text(rpmfi_ta_shdr(fi, keys.taKey, keys.taAlgorithm));
    if (!text)
        return std::nullopt;
    return Bytes(text->data, text->data + text->len);
}

// Decompressing and digesting the payload is one pass on this thread, in
// archive order; the signatures of the digests are made by `threads`
// threads at once and come back in that order. Trusted applications, rare
// and signed with their own key, are signed here as they pass.
bool walkArchive(OpenedPackage& package, const FileSigningKeys& keys, unsigned threads, PackageFileSignatures& lists)
{
    const Common::Rpm::FilesHandle files(
        rpmfilesNew(nullptr, package.header.get(), RPMTAG_BASENAMES, RPMFI_KEEPHEADER));
    if (!files || rpmfilesFC(files.get()) == 0) {
        std::fprintf(stderr, "Notice: package contains no files\n");
        return true;
    }
    // Content comes with the first of a file's hard links; the others are
    // visited without content and take its value.
    const Common::Rpm::FiHandle archive(
        rpmfiNewArchiveReader(package.fd.get(), files.get(), RPMFI_ITER_READ_ARCHIVE_CONTENT_FIRST));
    const Common::OpenSsl::EvpMdCtxHandle digesting(EVP_MD_CTX_new());
    if (!archive || !digesting)
        return false;
    const int digestNid = EVP_MD_type(keys.digest);
    const std::optional<uint8_t> hashAlgorithm = imaHashAlgorithm(digestNid);
    const DigestSigner signer(keys.key, keys.digest);
    FileSignaturesEncoder& ordinary = lists.ordinary;
    // A few digests per thread in flight keep every thread busy while the
    // file sizes vary, and bound what waits in memory.
    OrderedWork<DigestedFile, Bytes> signing(
        threads, size_t(threads) * 16,
        [&] { return integrityValueWork(signer, hashAlgorithm.value_or(0), keys.keyIdTail); },
        [&ordinary, fileCount = size_t(rpmfilesFC(files.get()))](const DigestedFile& file,
                                                                  std::optional<Bytes>& value) {
            // Every file of the package may get an entry, all of about
            // the length of the first.
            if (value && ordinary.count() == 0)
                ordinary.expect(fileCount, value->size());
            if (!value || !addEntries(ordinary, file.indexes, *value)) {
                std::fprintf(stderr, "Could not sign file from rpm: %s\n", file.path.c_str());
                return false;
            }
            return true;
        },
        [] { OPENSSL_thread_stop(); });

    int next = 0;
    while ((next = rpmfiNext(archive.get())) >= 0) {
        rpmfi fi = archive.get();
        if (!S_ISREG(rpmfiFMode(fi)) || !rpmfiArchiveHasContent(fi))
            continue;
        if (is_fi_ta(fi)) {
            if (keys.taKey == nullptr) {
                std::fprintf(stderr, "TA key is absent yet there are TAs in RPM!\n");
                return false;
            }
            const std::optional<Bytes> value = signTrustedApplication(fi, keys);
            if (!value || !addEntries(lists.trustlets, linkIndexes(fi), *value)) {
                std::fprintf(stderr, "Could not sign file from rpm: %s\n", rpmfiFN(fi));
                return false;
            }
            continue;
        }
        if (!hashAlgorithm)
            std::fprintf(stderr, "Hash algo is unknown for imaevm: %s\n", OBJ_nid2sn(digestNid));
        std::optional<Bytes> digest =
            hashAlgorithm ? digestContent(fi, digesting.get(), keys.digest) : std::nullopt;
        if (!digest) {
            std::fprintf(stderr, "Could not sign file from rpm: %s\n", rpmfiFN(fi));
            return false;
        }
        if (!signing.submit(DigestedFile {std::move(*digest), linkIndexes(fi), rpmfiFN(fi)}))
            return false;
    }
    // Anything but the end of the archive is a damaged payload.
    return signing.finish() && next == RPMERR_ITER_END;
}

} // namespace

std::optional<PackageFileSignatures> signPackageFiles(int fd, const FileSigningKeys& keys, unsigned threads)
{
    // More threads than any machine this runs on has cores would gain
    // nothing and cost a stack and a context each.
    constexpr unsigned mostThreads = 64;
    threads = std::clamp(threads, 1u, mostThreads);
    PackageFileSignatures lists;
    std::optional<OpenedPackage> package = readPackage(fd);
    const bool signedAll = package && openPayload(*package) && walkArchive(*package, keys, threads, lists);
    if (!signedAll) {
        std::fprintf(stderr, "Could not sign files in package\n");
        return std::nullopt;
    }
    return lists;
}

} // namespace PackageSignatures

using namespace PackageSignatures;

extern "C" {

bool is_fi_ta(rpmfi fi)
{
    const char* directory = fi == nullptr ? nullptr : rpmfiDN(fi);
    const char* baseName = fi == nullptr ? nullptr : rpmfiBN(fi);
    if (directory == nullptr || baseName == nullptr || std::strcmp(directory, trustedApplicationDirectory) != 0)
        return false;
    const size_t length = std::strlen(baseName);
    return length >= 3 && std::strcmp(baseName + length - 3, ".ta") == 0;
}

GByteArray* rpmfi_ta_shdr(rpmfi fi, EVP_PKEY* taKey, unsigned taAlgorithm)
{
    const EVP_MD* digest = EVP_sha256();
    Common::OpenSsl::EvpPkeyCtxHandle context(taKey == nullptr ? nullptr : EVP_PKEY_CTX_new(taKey, nullptr));
    if (!context || EVP_PKEY_sign_init(context.get()) <= 0
        || EVP_PKEY_CTX_set_signature_md(context.get(), digest) <= 0) {
        std::fprintf(stderr, "Failed to initialize ctx\n");
        return nullptr;
    }
    bool parametersSet = false;
    if (taAlgorithm == taAlgorithmRsaPssSha256) {
        parametersSet = EVP_PKEY_CTX_ctrl_str(context.get(), "rsa_padding_mode", "pss") > 0
                        && EVP_PKEY_CTX_ctrl_str(context.get(), "rsa_pss_saltlen", "digest") > 0
                        && EVP_PKEY_CTX_ctrl_str(context.get(), "rsa_mgf1_md", "sha256") > 0;
    } else if (taAlgorithm == taAlgorithmRsaPkcs1Sha256) {
        parametersSet = EVP_PKEY_CTX_ctrl_str(context.get(), "rsa_padding_mode", "pkcs1") > 0;
    } else {
        std::fprintf(stderr, "Unknown signing algorithm.\n");
        return nullptr;
    }
    if (!parametersSet) {
        std::fprintf(stderr, "Failed to set ctx parameters.\n");
        return nullptr;
    }

    TaSignedHeader header;
    header.hash.assign(size_t(EVP_MD_size(digest)), 0);
    size_t signatureLength = 0;
    if (EVP_PKEY_sign(context.get(), nullptr, &signatureLength, header.hash.data(), header.hash.size()) <= 0
        || signatureLength == 0) {
        std::fprintf(stderr, "Failed to get sig len\n");
        return nullptr;
    }
    header.signature.assign(signatureLength, 0);
    header.imageSize = uint32_t(rpmfiFSize(fi));
    header.algorithm = taAlgorithm;
    const auto uuid = taUuidFromFileName(rpmfiBN(fi));
    if (!uuid) {
        std::fprintf(stderr, "Bad UUID!\n");
        std::fprintf(stderr, "Failed to get the UUID of TA.\n");
        return nullptr;
    }
    header.uuid = *uuid;

    const Common::OpenSsl::EvpMdCtxHandle hashing(EVP_MD_CTX_new());
    const Bytes leading = header.leadingFields();
    const Bytes trailing = header.trailingFields();
    EVP_MD_CTX* hash = hashing.get();
    unsigned hashLength = 0;
    if (!hash || EVP_DigestInit_ex(hash, digest, nullptr) != 1
        || EVP_DigestUpdate(hash, leading.data(), leading.size()) != 1
        || EVP_DigestUpdate(hash, trailing.data(), trailing.size()) != 1
        || !readArchiveContent(fi, [hash](const uint8_t* data, size_t len) {
               return EVP_DigestUpdate(hash, data, len) == 1;
           })
        || EVP_DigestFinal_ex(hash, header.hash.data(), &hashLength) != 1) {
        std::fprintf(stderr, "Failed to get the digest of TA.\n");
        return nullptr;
    }
    // The signature size is part of what was hashed, so the signature must
    // have exactly the length announced for it.
    size_t signedLength = signatureLength;
    const std::unique_lock<std::mutex> turn = exclusiveUse(taKey);
    if (EVP_PKEY_sign(context.get(), header.signature.data(), &signedLength, header.hash.data(), header.hash.size())
            <= 0
        || signedLength != signatureLength) {
        std::fprintf(stderr, "Failed to sign\n");
        return nullptr;
    }

    const Bytes bytes = header.serialize();
    const std::string text = lowerHex(bytes.data(), bytes.size());
    GByteArray* result = g_byte_array_sized_new(guint(text.size()));
    g_byte_array_append(result, reinterpret_cast<const guint8*>(text.data()), guint(text.size()));
    return result;
}

} // extern "C"
