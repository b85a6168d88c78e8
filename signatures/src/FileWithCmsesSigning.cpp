// Appending a signature block to a package file in place. The file is
// changed only at its end, and every failure puts back exactly the bytes
// it had: blocks a replacing signer removed are kept in memory until the
// new block is written, and a partly written block is cut away again.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

#include "BlockLayout.h"
#include "FileRange.h"
#include "Handles.h"
#include "SigningPosition.h"
#include "torvel/CertificateFunctions.h"
#include "torvel/CmsFunctions.h"
#include "torvel/FileWithCmses.h"

namespace PackageSignatures {

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t writePiece = 8192;

Group signerGroup(X509* certificate)
{
    const Handles::CStringPtr text(certificate_get_group(certificate));
    return groupFromString(text.get());
}

bool writeAll(int fd, const uint8_t* data, size_t len, int64_t offset)
{
    for (size_t done = 0; done < len;) {
        const ssize_t written = pwrite(fd, data + done, std::min(writePiece, len - done), off_t(offset + done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += size_t(written);
    }
    return true;
}

int64_t fileSize(int fd)
{
    struct stat status;
    return fstat(fd, &status) == 0 ? int64_t(status.st_size) : -1;
}

// The blocks after `cut`, taken off the file and held until the operation
// has either succeeded or put them back.
class RemovedBlocks {
public:
    static std::optional<RemovedBlocks> cut(FILE* stream, int64_t cut, int64_t size)
    {
        RemovedBlocks removed;
        removed.m_cut = cut;
        if (cut >= size)
            return removed;
        removed.m_bytes = readFileRange(stream, cut, size);
        if (removed.m_bytes.size() != size_t(size - cut) || ftruncate(fileno(stream), off_t(cut)) != 0) {
            std::fprintf(stderr, "Could not remove signature blocks: %s\n", std::strerror(errno));
            return std::nullopt;
        }
        return removed;
    }

    int64_t position() const { return m_cut; }

    // Drops whatever was written after the cut and writes the removed
    // blocks back.
    void restore(int fd) const
    {
        if (ftruncate(fd, off_t(m_cut)) != 0 || !writeAll(fd, m_bytes.data(), m_bytes.size(), m_cut))
            std::fprintf(stderr, "Could not restore the file's signature blocks: %s\n", std::strerror(errno));
    }

private:
    int64_t m_cut = 0;
    Bytes m_bytes;
};

// cms_sign over the bytes from `start` to the end of the file, leaving the
// descriptor's position where it was.
std::optional<Bytes> signBytesFrom(int fd, int64_t start, X509* cert, EVP_PKEY* key, EVP_PKEY* taKey,
                                   unsigned taAlgorithm, ProofOfRotationChain* proofs, bool signFiles)
{
    const off_t remembered = lseek(fd, 0, SEEK_CUR);
    if (remembered < 0 || lseek(fd, off_t(start), SEEK_SET) != off_t(start))
        return std::nullopt;
    size_t length = 0;
    const Handles::CStringPtr der(
        reinterpret_cast<char*>(cms_sign(fd, signFiles, key, taKey, taAlgorithm, cert, proofs, &length)));
    lseek(fd, remembered, SEEK_SET);
    if (!der)
        return std::nullopt;
    const auto* bytes = reinterpret_cast<const uint8_t*>(der.get());
    return Bytes(bytes, bytes + length);
}

} // namespace

bool FileWithCmses::sign(X509* cert, EVP_PKEY* key, EVP_PKEY* taKey, unsigned taAlgorithm,
                         ProofOfRotationChain* proofs, bool replace, bool zstdFrame, bool signFiles)
{
    if (cert == nullptr || key == nullptr || !m_stream)
        return false;
    const Group signer = signerGroup(cert);

    const std::vector<CmsLocation> locations = locateCmses();
    std::vector<Group> blockGroups;
    for (const Cms& cms : cmses())
        blockGroups.push_back(cms.certificate()->group());
    const SigningPosition position = planSigningPosition(blockGroups, signer, replace);
    if (!position.allowed || blockGroups.size() != locations.size())
        return false;

    const int64_t size = fileSize(fd());
    const int64_t cut = position.keptBlocks < locations.size() ? blockStart(locations[position.keptBlocks]) : size;
    if (size < 0)
        return false;
    const std::optional<RemovedBlocks> removed = RemovedBlocks::cut(m_stream.get(), cut, size);
    if (!removed)
        return false;

    // The first block covers the package; a later one the block before it,
    // from its first DER byte to the end of its trailer.
    const int64_t start = position.keptBlocks == 0 ? 0 : locations[position.keptBlocks - 1].offset;
    const std::optional<Bytes> der =
        signBytesFrom(fd(), start, cert, key, taKey, taAlgorithm, proofs, signFiles);
    if (!der) {
        removed->restore(fd());
        return false;
    }
    const Bytes block = encodeBlock(zstdFrame ? skippableFrameVersion : 2, der->data(), der->size());
    if (!writeAll(fd(), block.data(), block.size(), removed->position())) {
        std::fprintf(stderr, "Could not append signature block: %s\n", std::strerror(errno));
        removed->restore(fd());
        return false;
    }
    return true;
}

} // namespace PackageSignatures
