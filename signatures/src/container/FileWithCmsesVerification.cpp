// Checking every signature block of a package file: each block over the
// bytes it covers, against the CA bundle, at a position its signer's group
// may take. Blocks are checked from the last to the first.

#include <algorithm>
#include <cstring>
#include <optional>

#include <openssl/err.h>

#include <unistd.h>

#include "certificates/CertificateFacts.h"
#include "cms/CmsReading.h"
#include "cms/CmsVerification.h"
#include "common/OpenSslHandles.h"
#include "TorvelHandles.h"
#include "container/BlockLayout.h"
#include "container/BlockLocation.h"
#include "container/FileRange.h"
#include "torvel/Certificate.h"
#include "torvel/CertificateFunctions.h"
#include "torvel/CmsFunctions.h"
#include "torvel/FileWithCmses.h"

namespace PackageSignatures {

namespace {

constexpr size_t maximumBlocks = 3;
// A package refused for having too many blocks still shows what they are,
// up to this many.
constexpr size_t maximumLocatedBlocksShown = 16;

VerificationResult failed(VerificationFailure failure, int blockIndex = -1)
{
    return VerificationResult {failure, blockIndex};
}

// Start of the covered bytes: the package for the first block and for the
// legacy version 1; the previous block's first DER byte for versions 2 and
// 3. Empty for any other version. The covered bytes end where the block
// starts, before its frame header.
std::optional<int64_t> coveredStart(const std::vector<LocatedBlock>& blocks, size_t index)
{
    const CmsLocation& location = blocks[index].location;
    if (index == 0 || location.version == 1)
        return 0;
    if (location.version == 2 || location.version == skippableFrameVersion)
        return blocks[index - 1].location.offset;
    return std::nullopt;
}

bool groupFitsPosition(Group group, size_t index)
{
    switch (index) {
    case 0: return group == GroupDeveloper;
    case 1: return group == GroupSeclab || group == GroupClient;
    case 2: return group == GroupClient;
    default: return false;
    }
}

// What a block is, before anything about it is checked.
BlockVerification describeBlock(const std::vector<LocatedBlock>& blocks, size_t index, CMS_ContentInfo* cms)
{
    const LocatedBlock& block = blocks[index];
    BlockVerification described;
    described.index = index;
    described.version = block.location.version;
    described.offset = block.location.offset;
    described.size = block.location.size;
    const std::optional<int64_t> start = coveredStart(blocks, index);
    described.covers = index == 0 || block.location.version == 1 ? BlockVerification::Coverage::Package
                                                                  : BlockVerification::Coverage::PreviousBlock;
    described.coveredStart = start.value_or(0);
    described.coveredEnd = block.start;
    described.signer = std::make_shared<Certificate>(Certificate::quietly(onlyCertificate(cms)));
    described.signingTime = signingTime(cms);
    const std::optional<ProofOfRotationChain*> chain = decodeRotationChain(cms);
    const Common::Torvel::ProofOfRotationChainHandle owned(chain ? *chain : nullptr);
    described.rotationChain = std::make_shared<RotationChain>(owned.get());
    return described;
}

std::optional<BlockProblem> positionProblem(const Certificate& signer, size_t index)
{
    const Group group = signer.group();
    if (groupFitsPosition(group, index))
        return std::nullopt;
    if (signer.x509() == nullptr)
        return BlockProblem {BlockIssue::NoSignerCertificate, {}};
    if (group == GroupNone) {
        const CertificateDetails details = signer.details();
        if (details.signing == SigningEligibility::UnknownGroup)
            return BlockProblem {BlockIssue::MisplacedSigner, details.groupText};
        return BlockProblem {BlockIssue::NoPackageSigningUsage, {}};
    }
    return BlockProblem {BlockIssue::MisplacedSigner, groupToString(group)};
}

// Every check verify makes, on blocks [0, limit), each to its end.
PackageVerification inspectBlocks(int fd, FILE* stream, const char* caPath, size_t limit)
{
    PackageVerification verification;
    const TrustedCertificates trusted = readTrustedCertificates(caPath);
    const Common::OpenSsl::X509StoreHandle store(trusted.store);
    if (!store) {
        verification.failure = VerificationFailure::NoTrustedCertificates;
        verification.failureDetail = trusted.allocationFailed ? "no store could be made" : trusted.failure;
        return verification;
    }
    const std::vector<LocatedBlock> blocks = locatePackageBlocks(fd).blocks;
    if (blocks.empty())
        verification.failure = VerificationFailure::NoBlocks;
    // As verify: more than three blocks are refused before any is checked.
    const bool checking = blocks.size() <= maximumBlocks;
    if (!checking)
        verification.failure = VerificationFailure::TooManyBlocks;

    for (size_t index = 0; index < std::min(blocks.size(), limit); ++index) {
        const LocatedBlock& block = blocks[index];
        Common::OpenSsl::CmsHandle cms;
        if (block.parses) {
            const std::vector<uint8_t> der = readFileRange(stream, block.location.offset, block.location.end);
            const unsigned char* cursor = der.data();
            cms.reset(d2i_CMS_ContentInfo(nullptr, &cursor, long(der.size())));
            ERR_clear_error();
        }
        BlockVerification described = describeBlock(blocks, index, cms.get());
        described.checked = checking;
        verification.blocks.push_back(std::move(described));
        if (!checking)
            continue;
        std::vector<BlockProblem>& problems = verification.blocks.back().problems;
        const std::optional<int64_t> start = coveredStart(blocks, index);
        if (!start) {
            problems.push_back({BlockIssue::UnknownVersion, std::to_string(block.location.version)});
            continue;
        }
        if (!block.framed) {
            problems.push_back({BlockIssue::MissingFrameHeader, {}});
            continue;
        }
        if (!cms) {
            problems.push_back({BlockIssue::Unparsable, {}});
            continue;
        }
        const CmsInspection inspection = inspectCms(
            [&] { return Common::OpenSsl::BioHandle(fileRangeSource(fd, *start, block.start)); }, cms.get(),
            store.get());
        problems = inspection.problems;
        verification.blocks.back().opensslErrors = inspection.opensslErrors;
        const std::optional<BlockProblem> position = positionProblem(*verification.blocks.back().signer, index);
        const bool known = position && std::any_of(problems.begin(), problems.end(), [&](const BlockProblem& p) {
            return p.issue == position->issue;
        });
        if (position && !known)
            problems.push_back(*position);
    }
    return verification;
}

} // namespace

PackageVerification FileWithCmses::inspect(const char* caPath) const
{
    return inspectBlocks(fd(), m_stream.get(), caPath, maximumLocatedBlocksShown);
}

PackageVerification FileWithCmses::inspectFirstBlock(const char* caPath) const
{
    return inspectBlocks(fd(), m_stream.get(), caPath, 1);
}

bool PackageVerification::verified() const
{
    if (failure != VerificationFailure::None || blocks.empty())
        return false;
    for (const BlockVerification& block : blocks) {
        if (!block.verified())
            return false;
    }
    return true;
}

VerificationResult FileWithCmses::verify(const char* caPath) const
{
    const Common::OpenSsl::X509StoreHandle store(certificate_store_read(caPath));
    if (!store)
        return failed(VerificationFailure::NoTrustedCertificates);
    // The same blocks that signing and deleting find.
    const std::vector<LocatedBlock> blocks = locatePackageBlocks(fd()).blocks;
    if (blocks.empty())
        return failed(VerificationFailure::NoBlocks);
    if (blocks.size() > maximumBlocks)
        return failed(VerificationFailure::TooManyBlocks);

    for (size_t index = blocks.size(); index-- > 0;) {
        const LocatedBlock& block = blocks[index];
        const int blockIndex = int(index);
        const std::optional<int64_t> start = coveredStart(blocks, index);
        if (!start)
            return failed(VerificationFailure::UnknownBlockVersion, blockIndex);
        if (!block.framed)
            return failed(VerificationFailure::MissingFrameHeader, blockIndex);

        const std::vector<uint8_t> der = readFileRange(m_stream.get(), block.location.offset, block.location.end);
        const Common::OpenSsl::CmsHandle cms(block.parses ? cms_from_der(der.data(), long(der.size())) : nullptr);
        if (!cms)
            return failed(VerificationFailure::UnparsableBlock, blockIndex);
        const Common::OpenSsl::BioHandle covered(fileRangeSource(fd(), *start, block.start));
        const VerificationFailure check = checkCms(covered.get(), cms.get(), store.get());
        if (check != VerificationFailure::None)
            return failed(check, blockIndex);
        if (!groupFitsPosition(Certificate(cms_get_certificate(cms.get())).group(), index))
            return failed(VerificationFailure::MisplacedSigner, blockIndex);
    }
    return {};
}

bool FileWithCmses::verifyCmses(const char* caPath) const
{
    return verify(caPath).verified();
}

const char* describe(VerificationFailure failure)
{
    switch (failure) {
    case VerificationFailure::None: return "all signatures verified";
    case VerificationFailure::NoTrustedCertificates: return "the root certificate bundle could not be read";
    case VerificationFailure::NoBlocks: return "the file has no signatures";
    case VerificationFailure::TooManyBlocks: return "the file has more than three signatures";
    case VerificationFailure::UnknownBlockVersion: return "a signature block has an unknown version";
    case VerificationFailure::UnparsableBlock: return "a signature block is not a CMS";
    case VerificationFailure::InvalidSignature: return "a signature does not verify";
    case VerificationFailure::InvalidRotationChain: return "a proof-of-rotation chain does not verify";
    case VerificationFailure::RotationKeyMismatch: return "a proof-of-rotation chain does not end with its signer";
    case VerificationFailure::MisplacedSigner: return "a signer's group may not sign at its position";
    case VerificationFailure::MissingFrameHeader: return "a version-3 signature block has no frame header";
    }
    return "unknown failure";
}

const char* describe(BlockIssue issue)
{
    switch (issue) {
    case BlockIssue::UnknownVersion: return "its version names no covered bytes";
    case BlockIssue::MissingFrameHeader: return "it is a version-3 block without its Zstandard frame header";
    case BlockIssue::Unparsable: return "it is not a CMS signature";
    case BlockIssue::NoSignerCertificate: return "it does not carry exactly one signer and its certificate";
    case BlockIssue::UnknownIssuer: return "its certificate was not issued by a CA of the bundle";
    case BlockIssue::CertificateExpired: return "its certificate has expired";
    case BlockIssue::CertificateNotYetValid: return "its certificate is not valid yet";
    case BlockIssue::CertificateNotForSigning: return "its certificate's key usage does not allow signing";
    case BlockIssue::InvalidChain: return "its certificate chain does not verify";
    case BlockIssue::SignatureMismatch: return "its signature does not match its certificate's key";
    case BlockIssue::CoveredBytesChanged: return "the bytes it covers changed since it was signed";
    case BlockIssue::NoPackageSigningUsage: return "its certificate lacks the package-signing usage or group";
    case BlockIssue::MisplacedSigner: return "its signer's group may not sign at its position";
    case BlockIssue::InvalidRotationChain: return "its proof-of-rotation chain does not verify";
    case BlockIssue::RotationKeyMismatch: return "its proof-of-rotation chain does not end with its signer's key";
    case BlockIssue::KeyBlacklisted: return "its key is revoked";
    case BlockIssue::KeySuperseded: return "its key was superseded by a rotation";
    }
    return "unknown issue";
}

} // namespace PackageSignatures
