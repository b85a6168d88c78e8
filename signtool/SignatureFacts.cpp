#include "SignatureFacts.h"

#include <ctime>

#include <QDateTime>
#include <QStringList>

#include <torvel/Group.h>

#include "Commands.h"
#include "Reasons.h"

using namespace PackageSignatures;

namespace SignTool {

namespace {

QJsonValue timeJson(std::optional<int64_t> seconds)
{
    return seconds ? QJsonValue(utcTime(seconds)) : QJsonValue(QJsonValue::Null);
}

QJsonArray textArray(const std::vector<std::string>& texts)
{
    QJsonArray array;
    for (const std::string& text : texts)
        array.append(visible(text));
    return array;
}

QString joined(const std::vector<std::string>& texts)
{
    QStringList list;
    for (const std::string& text : texts)
        list << visible(text);
    return list.isEmpty() ? QString("none") : list.join(", ");
}

QString eligibilityCode(SigningEligibility eligibility)
{
    switch (eligibility) {
    case SigningEligibility::Eligible: return "eligible";
    case SigningEligibility::NoCertificate: return "no-certificate";
    case SigningEligibility::NoExtendedKeyUsage: return "no-extended-key-usage";
    case SigningEligibility::NoPackageSigningUsage: return "no-package-signing-usage";
    case SigningEligibility::NoGroupExtension: return "no-group-extension";
    case SigningEligibility::UnknownGroup: return "unknown-group";
    }
    return "no-certificate";
}

} // namespace

QString utcTime(std::optional<int64_t> seconds)
{
    if (!seconds)
        return "unknown";
    return QDateTime::fromSecsSinceEpoch(*seconds, Qt::UTC).toString("yyyy-MM-ddTHH:mm:ssZ");
}

void printCertificateDetails(const Certificate& certificate, const QString& indent)
{
    const CertificateDetails details = certificate.details();
    standardOutput() << indent << "Issuer: " << visible(details.issuer) << "\n"
                     << indent << "Serial: " << QString::fromStdString(details.serialNumber) << "\n"
                     << indent << "Valid from: " << utcTime(details.notBefore) << "\n"
                     << indent << "Valid until: " << utcTime(details.notAfter) << "\n"
                     << indent << "SHA-256: " << QString::fromStdString(details.sha256Fingerprint) << "\n"
                     << indent << "Key usage: " << joined(details.keyUsage) << "\n"
                     << indent << "Extended key usage: " << joined(details.extendedKeyUsage) << "\n"
                     << Qt::flush;
}

QJsonValue certificateJson(const Certificate& certificate)
{
    if (certificate.x509() == nullptr)
        return QJsonValue::Null;
    const CertificateDetails details = certificate.details();
    QJsonObject object;
    object["subject"] = visible(certificate.subject());
    object["issuer"] = visible(details.issuer);
    object["group"] = QString::fromStdString(groupToString(certificate.group()));
    object["subgroup"] = QString::fromStdString(subgroupToString(certificate.subgroup()));
    object["key_id"] = visible(certificate.keyId());
    object["serial"] = QString::fromStdString(details.serialNumber);
    object["sha256"] = QString::fromStdString(details.sha256Fingerprint);
    object["not_before"] = timeJson(details.notBefore);
    object["not_after"] = timeJson(details.notAfter);
    object["key_usage"] = textArray(details.keyUsage);
    object["extended_key_usage"] = textArray(details.extendedKeyUsage);
    object["package_signing"] = eligibilityCode(details.signing);
    return object;
}

QJsonArray rotationsJson(const RotationChain& chain)
{
    QJsonArray rotations;
    for (const auto& rotation : chain.rotations()) {
        QJsonObject object;
        object["old_key_id"] = visible(rotation->oldCertificate()->keyId());
        object["new_key_id"] = visible(rotation->newCertificate()->keyId());
        rotations.append(object);
    }
    return rotations;
}

QJsonObject blockVerificationJson(const BlockVerification& block, size_t blockCount)
{
    QJsonObject covers;
    covers["what"] = block.covers == BlockVerification::Coverage::Package ? "package" : "previous-block";
    covers["start"] = double(block.coveredStart);
    covers["end"] = double(block.coveredEnd);
    QJsonArray problems;
    for (const BlockProblem& problem : block.problems) {
        QJsonObject object;
        object["code"] = issueCode(problem.issue);
        object["reason"] = problemText(block, problem);
        object["detail"] = visible(problem.detail);
        problems.append(object);
    }
    QJsonObject object;
    object["position"] = double(block.index + 1);
    object["of"] = double(blockCount);
    object["version"] = double(block.version);
    object["offset"] = double(block.offset);
    object["size"] = double(block.size);
    object["covers"] = covers;
    object["signer"] = certificateJson(*block.signer);
    object["signing_time"] = timeJson(block.signingTime);
    object["rotations"] = rotationsJson(*block.rotationChain);
    object["checked"] = block.checked;
    object["verified"] = block.verified();
    object["problems"] = problems;
    return object;
}

QJsonObject dumpedBlockJson(const Cms& cms, const CmsLocation& location, size_t index)
{
    QJsonObject object;
    object["position"] = double(index + 1);
    object["version"] = double(location.version);
    object["offset"] = double(location.offset);
    object["size"] = double(location.size);
    object["signer"] = certificateJson(*cms.certificate());
    object["signing_time"] = timeJson(cms.signingTime());
    object["rotations"] = rotationsJson(*cms.rotationChain());
    object["signature"] = QString::fromStdString(cms.signature());
    return object;
}

} // namespace SignTool
