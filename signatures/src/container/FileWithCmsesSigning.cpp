// Adding a signature block to a package file. Everything is computed
// first, from the file as it is; then the whole new file replaces the old
// one in a single rename, so that a process killed at any moment leaves
// either the old blocks or the complete new ones, and a failure leaves the
// file exactly as it was.

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <unistd.h>

#include "cms/CmsSigning.h"
#include "common/LibcHandles.h"
#include "common/OpenSslHandles.h"
#include "common/PosixIo.h"
#include "container/BlockLayout.h"
#include "container/BlockLocation.h"
#include "container/ChangeLock.h"
#include "container/FileRange.h"
#include "container/PackageReplacement.h"
#include "container/SigningPosition.h"
#include "torvel/Certificate.h"
#include "torvel/CertificateFunctions.h"
#include "torvel/CmsFunctions.h"
#include "torvel/FileWithCmses.h"

namespace PackageSignatures {

namespace {

using Bytes = std::vector<uint8_t>;

Group signerGroup(X509* certificate)
{
    const Common::Libc::CStringHandle text(certificate_get_group(certificate));
    return groupFromString(text.get());
}

// Only the signer's group is wanted from a block. A developer's block with
// the signatures of many files is megabytes, so its DER goes as soon as it
// is parsed rather than being held beside the parsed CMS.
Group blockGroup(FILE* stream, const LocatedBlock& block)
{
    Common::OpenSsl::CmsHandle parsed;
    {
        const Bytes der = readFileRange(stream, block.location.offset, block.location.end);
        parsed.reset(cms_from_der(der.data(), long(der.size())));
    }
    return Certificate(parsed ? cms_get_certificate(parsed.get()) : nullptr).group();
}

std::vector<Group> blockGroups(FILE* stream, const std::vector<LocatedBlock>& blocks)
{
    std::vector<Group> groups;
    for (const LocatedBlock& block : blocks)
        groups.push_back(block.wellFormed() ? blockGroup(stream, block) : GroupNone);
    return groups;
}

} // namespace

bool FileWithCmses::sign(X509* cert, EVP_PKEY* key, EVP_PKEY* taKey, unsigned taAlgorithm,
                         ProofOfRotationChain* proofs, bool replace, bool zstdFrame, bool signFiles)
{
    return sign(cert, key, taKey, taAlgorithm, proofs, replace, zstdFrame, signFiles, 1);
}

bool FileWithCmses::sign(X509* cert, EVP_PKEY* key, EVP_PKEY* taKey, unsigned taAlgorithm,
                         ProofOfRotationChain* proofs, bool replace, bool zstdFrame, bool signFiles,
                         unsigned fileSigningThreads)
{
    if (cert == nullptr || key == nullptr || !m_stream)
        return false;
    if (isReadOnly()) {
        std::fprintf(stderr, "Could not sign \"%s\": the file is read-only\n", displayPath().c_str());
        return false;
    }
    const Group signer = signerGroup(cert);
    const std::optional<std::string> realPath = lockForChange();
    if (!realPath)
        return false;
    const ChangeLock lock(*this);
    removeStaleReplacements(*realPath);

    const PackageBlocks found = locatePackageBlocks(fd());
    if (!found.floor || *found.floor > found.fileSize) {
        std::fprintf(stderr, "Could not sign \"%s\": %s\n", displayPath().c_str(),
                     found.floor ? "the package is shorter than its header says"
                                 : "the package does not say where it ends");
        return false;
    }
    const std::vector<LocatedBlock>& blocks = found.blocks;
    const SigningPosition position = planSigningPosition(blockGroups(m_stream.get(), blocks), signer, replace);
    if (!position.allowed)
        return false;
    // The new block signs over the blocks it keeps and the old file loses
    // those it replaces: either only when they are what they claim to be.
    for (size_t index = 0; index < blocks.size(); ++index) {
        if (!blocks[index].wellFormed()) {
            std::fprintf(stderr, "Could not sign \"%s\": signature block %zu is malformed, refusing to %s it\n",
                         displayPath().c_str(), index + 1, index < position.keptBlocks ? "sign after" : "replace");
            return false;
        }
    }

    // The first block covers the package; a later one the block before it,
    // from its first DER byte to the end of its trailer.
    const size_t kept = position.keptBlocks;
    const int64_t end = kept < blocks.size() ? blocks[kept].start : found.fileSize;
    const int64_t start = kept == 0 ? 0 : blocks[kept - 1].location.offset;
    size_t length = 0;
    const off_t remembered = lseek(fd(), 0, SEEK_CUR);
    const Common::Libc::CStringHandle der(reinterpret_cast<char*>(
        signFileRange(fd(), start, end, signFiles, key, taKey, taAlgorithm, cert, proofs, &length,
                      fileSigningThreads)));
    lseek(fd(), remembered, SEEK_SET);
    if (!der)
        return false;
    const Bytes block = encodeBlock(zstdFrame ? skippableFrameVersion : 2,
                                    reinterpret_cast<const uint8_t*>(der.get()), length);

    std::fflush(m_stream.get());
    Common::UniqueFd replaced = replacePackage(fd(), *realPath, end, block);
    if (!replaced)
        return false;
    // From here on the object stands for the new file, whose lock it holds.
    Common::Libc::FileHandle stream = Common::streamOf(std::move(replaced), "r+");
    if (!stream)
        stream.reset(std::fopen(realPath->c_str(), "r+"));
    if (stream)
        m_stream.reset(stream.release());
    return true;
}

} // namespace PackageSignatures
