#include "Reasons.h"

#include <algorithm>

#include <torvel/Group.h>

#include "ArgumentBytes.h"
#include "Commands.h"
#include "SignatureFacts.h"

using namespace PackageSignatures;

namespace SignTool {

namespace {

QString quoted(const std::string& text)
{
    return "\"" + visible(text) + "\"";
}

QString quoted(const QString& path)
{
    return "\"" + visible(path) + "\"";
}

QString groupName(Group group)
{
    return group == GroupNone ? QString("signer without a group") : QString::fromStdString(groupToString(group));
}

// "2 blocks: 1 developer "Dev", 2 seclab "Lab"" or "no signature blocks".
QString blocksText(const std::vector<BlockSigner>& blocks)
{
    if (blocks.empty())
        return "no signature blocks";
    QString text = QString::number(blocks.size()) + (blocks.size() == 1 ? " block: " : " blocks: ");
    for (size_t i = 0; i < blocks.size(); ++i) {
        text += (i == 0 ? "" : ", ") + QString::number(blocks[i].index + 1) + " "
                + signerLabel(blocks[i].group, blocks[i].subject);
    }
    return text;
}

// The position rule, from the blocks that stay in front of the new one.
QString positionReason(const SigningOutcome& outcome, bool replace)
{
    const std::vector<BlockSigner>& found = outcome.blocksFound;
    const size_t kept = std::min(outcome.keptBlocks, found.size());
    const QString signer = groupName(outcome.signerGroup);
    QString reason;
    if (outcome.signerGroup == GroupDeveloper)
        reason = "a developer signs only a package without signature blocks, and it has " + blocksText(found);
    else if (kept == 0)
        reason = "a " + signer + " signs only after the developer, and the package has no signature blocks";
    else if (kept == 2 && found[1].group == GroupSeclab)
        reason = "after a developer and a seclab only a client may sign, not a " + signer + "; the package has "
                 + blocksText(found);
    else if (kept == 2)
        reason = "no one may sign after a developer and a " + groupName(found[1].group) + "; the package has "
                 + blocksText(found);
    else
        reason = "the package already has " + blocksText(found) + ", and three is the most";
    const bool lastIsOwn = !found.empty() && found.back().group == outcome.signerGroup;
    if (!replace && (outcome.signerGroup == GroupDeveloper || lastIsOwn))
        reason += outcome.signerGroup == GroupDeveloper ? " (-f replaces them)" : " (-f replaces the last)";
    return reason;
}

struct IssueText {
    BlockIssue issue;
    const char* code;
    const char* text; // before the detail, if any
};

// One entry per issue, in the enumeration's order.
constexpr IssueText issueTexts[] = {
    {BlockIssue::UnknownVersion, "unknown-version", "unknown version: its version names no covered bytes"},
    {BlockIssue::MissingFrameHeader, "missing-frame-header",
     "malformed: a version-3 block without its Zstandard frame header"},
    {BlockIssue::Unparsable, "not-cms", "malformed or truncated: it is not a CMS signature"},
    {BlockIssue::NoSignerCertificate, "no-signer-certificate",
     "no signer certificate: it does not carry exactly one signer with one certificate"},
    {BlockIssue::UnknownIssuer, "unknown-issuer", "unknown issuer: its certificate does not chain to a CA of the bundle"},
    {BlockIssue::CertificateExpired, "certificate-expired", "expired: its certificate is no longer valid"},
    {BlockIssue::CertificateNotYetValid, "certificate-not-yet-valid", "not yet valid: its certificate is not valid yet"},
    {BlockIssue::CertificateNotForSigning, "certificate-not-for-signing",
     "not for signing: its certificate's key usage does not allow signing"},
    {BlockIssue::InvalidChain, "invalid-chain", "invalid certificate chain"},
    {BlockIssue::SignatureMismatch, "signature-mismatch",
     "signature does not match: it was not made with its certificate's key"},
    {BlockIssue::CoveredBytesChanged, "covered-bytes-changed", "the covered bytes changed since it was signed"},
    {BlockIssue::NoPackageSigningUsage, "no-package-signing-usage",
     "not a package signer: its certificate lacks the package-signing usage or group"},
    {BlockIssue::MisplacedSigner, "misplaced-signer",
     "misplaced signer: the developer signs first, a seclab or a client second, a client third"},
    {BlockIssue::InvalidRotationChain, "invalid-rotation-chain", "its proof-of-rotation chain does not verify"},
    {BlockIssue::RotationKeyMismatch, "rotation-key-mismatch",
     "its proof-of-rotation chain does not end with its signer's key"},
    {BlockIssue::KeyBlacklisted, "key-revoked", "revoked: the trust database revokes the key"},
    {BlockIssue::KeySuperseded, "key-superseded", "superseded: the trust database says a rotation replaced its key"},
};
constexpr bool inEnumerationOrder()
{
    for (size_t i = 0; i < std::size(issueTexts); ++i) {
        if (size_t(issueTexts[i].issue) != i)
            return false;
    }
    return std::size(issueTexts) == size_t(BlockIssue::KeySuperseded) + 1;
}
static_assert(inEnumerationOrder(), "one entry per issue, in the enumeration's order");

const IssueText& textOf(BlockIssue issue)
{
    return issueTexts[size_t(issue)];
}

} // namespace

QString signerLabel(Group group, const std::string& subject)
{
    return groupName(group) + " " + quoted(subject);
}

QString eligibilityReason(const CertificateDetails& details)
{
    const QString subject = "the certificate " + quoted(details.subject);
    switch (details.signing) {
    case SigningEligibility::Eligible: return {};
    case SigningEligibility::NoCertificate: return "there is no certificate";
    case SigningEligibility::NoExtendedKeyUsage:
        return subject + " has no extended key usage, so it may not sign packages"
               + (details.keyUsage.end()
                          != std::find(details.keyUsage.begin(), details.keyUsage.end(), "keyCertSign")
                      ? " (it is a CA certificate, which issues certificates)"
                      : "");
    case SigningEligibility::NoPackageSigningUsage:
        return subject + " lacks the package-signing extended key usage";
    case SigningEligibility::NoGroupExtension: return subject + " lacks the certificate group extension";
    case SigningEligibility::UnknownGroup:
        return subject + " has the group " + quoted(details.groupText)
               + ", which is none of developer, seclab and client";
    }
    return {};
}

QString signingRefusalReason(const SigningOutcome& outcome, const CertificateDetails& signer, bool replace)
{
    switch (outcome.refusal) {
    case SigningRefusal::None:
    case SigningRefusal::ReadOnlyFile:
    case SigningRefusal::FileNotLocked:
    case SigningRefusal::UnknownPackageEnd:
    case SigningRefusal::MalformedBlock:
    case SigningRefusal::SignatureNotMade:
    case SigningRefusal::FileNotReplaced:
        return {};
    case SigningRefusal::NoCertificateOrKey: return "there is no certificate or no key to sign with";
    case SigningRefusal::SignerNotEligible: return eligibilityReason(signer);
    case SigningRefusal::PositionRefused: return positionReason(outcome, replace);
    case SigningRefusal::KeyDoesNotMatchCertificate:
        return "the key does not match the certificate " + quoted(signer.subject)
               + ": they hold different public keys";
    }
    return {};
}

QString rotationRefusalReason(const RotationExtension& extension, const RotationPaths& paths)
{
    switch (extension.refusal) {
    case RotationRefusal::OldKeyDoesNotMatchCertificate:
        return "the old key does not match the old certificate " + quoted(paths.oldCertificate);
    case RotationRefusal::NewKeyDoesNotMatchCertificate:
        return "the new key does not match the new certificate " + quoted(paths.newCertificate);
    case RotationRefusal::ChainDoesNotEndWithOldKey: {
        const RotationChain chain = RotationChain::fromFile(argumentBytes(paths.chain).constData());
        const Certificate old =
            Certificate::readCertificateFromFile(argumentBytes(paths.oldCertificate).constData());
        return "the chain " + quoted(paths.chain) + " ends with the key " + visible(chain.newestKeyId())
               + ", not with the old certificate's key " + visible(old.keyId())
               + "; a rotation continues from the newest key of the chain";
    }
    case RotationRefusal::InvalidChain:
        return "the chain " + quoted(paths.chain) + " does not verify at proof "
               + QString::number(extension.proofIndex + 1);
    case RotationRefusal::None:
    case RotationRefusal::OldCertificateUnreadable:
    case RotationRefusal::OldKeyUnreadable:
    case RotationRefusal::NewCertificateUnreadable:
    case RotationRefusal::NewKeyUnreadable:
    case RotationRefusal::ChainUnreadable:
    case RotationRefusal::ProofNotMade:
    case RotationRefusal::OutputNotWritten:
        break;
    }
    return {};
}

QString issueCode(BlockIssue issue)
{
    return textOf(issue).code;
}

QString problemText(const BlockVerification& block, const BlockProblem& problem)
{
    const CertificateDetails details = block.signer->details();
    QString text = textOf(problem.issue).text;
    switch (problem.issue) {
    case BlockIssue::CoveredBytesChanged:
        text = block.covers == BlockVerification::Coverage::Package
                   ? "the covered bytes changed: the package is not what was signed"
                   : "the previous block changed: block " + QString::number(block.index) + " is not what was signed";
        break;
    case BlockIssue::CertificateExpired:
        text = "expired: its certificate was valid until " + utcTime(details.notAfter);
        break;
    case BlockIssue::CertificateNotYetValid:
        text = "not yet valid: its certificate is valid from " + utcTime(details.notBefore);
        break;
    case BlockIssue::NoPackageSigningUsage:
        text = "not a package signer: " + eligibilityReason(details);
        break;
    case BlockIssue::MisplacedSigner:
        text = "misplaced signer: a " + visible(problem.detail) + " may not sign block "
               + QString::number(block.index + 1) + " (the developer signs first, a seclab or a client second, a "
               "client third)";
        return text;
    case BlockIssue::RotationKeyMismatch:
        return text + " (it ends with " + (problem.detail.empty() ? "no key id" : visible(problem.detail)) + ")";
    default: break;
    }
    if (!problem.detail.empty())
        text += " (" + visible(problem.detail) + ")";
    return text;
}

QString blockFailureLine(const BlockVerification& block, size_t blockCount)
{
    const QString signer = block.signer->x509() != nullptr
                               ? signerLabel(block.signer->group(), block.signer->subject())
                               : QString("no signer certificate");
    QString line = "Block " + QString::number(block.index + 1) + " of " + QString::number(blockCount) + " (" + signer
                   + "): ";
    for (size_t i = 0; i < block.problems.size(); ++i)
        line += (i == 0 ? "" : "; ") + problemText(block, block.problems[i]);
    return line;
}

QString packageFailureCode(VerificationFailure failure)
{
    switch (failure) {
    case VerificationFailure::None: return {};
    case VerificationFailure::NoTrustedCertificates: return "unreadable-bundle";
    case VerificationFailure::NoBlocks: return "no-blocks";
    case VerificationFailure::TooManyBlocks: return "too-many-blocks";
    case VerificationFailure::UnknownBlockVersion:
    case VerificationFailure::UnparsableBlock:
    case VerificationFailure::InvalidSignature:
    case VerificationFailure::InvalidRotationChain:
    case VerificationFailure::RotationKeyMismatch:
    case VerificationFailure::MisplacedSigner:
    case VerificationFailure::MissingFrameHeader:
        break;
    }
    return "block-failed";
}

QString packageFailureText(const PackageVerification& verification, const QString& caPath)
{
    switch (verification.failure) {
    case VerificationFailure::NoTrustedCertificates:
        // The words the library's own reader has always used.
        return "Could not open certificate store \"" + visible(caPath)
               + "\": " + QString::fromStdString(verification.failureDetail);
    case VerificationFailure::NoBlocks: return "The package has no signature blocks to verify";
    case VerificationFailure::TooManyBlocks:
        return "The package has " + QString::number(verification.blocks.size())
               + (verification.blocks.size() >= 16 ? " or more" : "")
               + " signature blocks, more than the three a package may have";
    default: return {};
    }
}

QString sentence(const QString& reason)
{
    return reason.isEmpty() ? reason : reason.left(1).toUpper() + reason.mid(1);
}

} // namespace SignTool
