#pragma once

// The facts of certificates and signature blocks as torvel shows them: as
// lines for people and as JSON for scripts, from one place, so both always
// say the same. The JSON matches signtool/schemas/*.schema.json.

#include <cstdint>
#include <optional>

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <torvel/BlockVerification.h>
#include <torvel/Certificate.h>
#include <torvel/Cms.h>
#include <torvel/FileWithCmses.h>

namespace SignTool {

// "2025-03-01T12:00:00Z"; "unknown" when absent.
QString utcTime(std::optional<int64_t> seconds);

// The certificate's extra lines (issuer, serial, validity, fingerprint and
// usages), each after `indent`.
void printCertificateDetails(const PackageSignatures::Certificate& certificate, const QString& indent = {});

QJsonValue certificateJson(const PackageSignatures::Certificate& certificate);
QJsonArray rotationsJson(const PackageSignatures::RotationChain& chain);

// One block of `verify --json`.
QJsonObject blockVerificationJson(const PackageSignatures::BlockVerification& block, size_t blockCount);
// One block of `dump --json`, without its file signatures.
QJsonObject dumpedBlockJson(const PackageSignatures::Cms& cms, const PackageSignatures::CmsLocation& location,
                            size_t index);

} // namespace SignTool
