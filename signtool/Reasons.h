#pragma once

// Why torvel refuses: the one line it prints before a command's own failure
// line, in plain words, for every refusal the library reports as a value.
// Each kind of outcome has one function here and its texts in one table, so
// the wording lives in one place and the outcomes stay data until printed.

#include <string>

#include <QString>

#include <torvel/BlockVerification.h>
#include <torvel/Certificate.h>
#include <torvel/RotationChain.h>
#include <torvel/SigningOutcome.h>

namespace SignTool {

// A block's signer as a reason names it: its group and quoted subject.
QString signerLabel(PackageSignatures::Group group, const std::string& subject);

// What keeps a certificate from signing packages; empty when nothing does.
QString eligibilityReason(const PackageSignatures::CertificateDetails& certificate);

// The reason for a refused signing; empty when the library's own line
// before it already says why (a read-only file, a malformed block).
QString signingRefusalReason(const PackageSignatures::SigningOutcome& outcome,
                             const PackageSignatures::CertificateDetails& signer, bool replace);

struct RotationPaths {
    QString oldCertificate;
    QString newCertificate;
    QString chain; // empty when no chain is extended
};
// The reason for a refused rotation; empty when the library's line says it.
QString rotationRefusalReason(const PackageSignatures::RotationExtension& extension, const RotationPaths& paths);

// A stable name for scripts ("unknown-issuer", "covered-bytes-changed", ...).
QString issueCode(PackageSignatures::BlockIssue issue);
// The problem in plain words, starting with what a reader looks for
// ("unknown issuer: ...", "expired: ...").
QString problemText(const PackageSignatures::BlockVerification& block, const PackageSignatures::BlockProblem& problem);
// "Block 2 of 3 (seclab "Lab"): " followed by every problem of the block.
QString blockFailureLine(const PackageSignatures::BlockVerification& block, size_t blockCount);

// A failure of the package as a whole: a stable name and plain words.
QString packageFailureCode(PackageSignatures::VerificationFailure failure);
QString packageFailureText(const PackageSignatures::PackageVerification& verification, const QString& caPath);

// The reason as a line of its own: with a capital letter.
QString sentence(const QString& reason);

} // namespace SignTool
