// The verify command: every block of each package checked against the root
// certificate bundle, with the reasons for a failure in plain words, each
// block described with --verbose, or all of it as one JSON document.

#include <algorithm>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <torvel/Certificate.h>
#include <torvel/Database.h>
#include <torvel/FileWithCmses.h>
#include <torvel/Group.h>

#include "ArgumentBytes.h"
#include "Commands.h"
#include "Reasons.h"
#include "SignatureFacts.h"

using namespace PackageSignatures;

namespace SignTool {

namespace {

struct VerifyOutput {
    bool verbose = false;
    bool json = false;
};

QString coverageText(const BlockVerification& block)
{
    const QString range = ", bytes " + QString::number(block.coveredStart) + " to " + QString::number(block.coveredEnd);
    return block.covers == BlockVerification::Coverage::Package ? "the package" + range
                                                                 : "block " + QString::number(block.index) + range;
}

QString verdictText(const BlockVerification& block)
{
    if (!block.checked)
        return "not checked";
    if (block.problems.empty())
        return "verified";
    QString text = "failed: ";
    for (size_t i = 0; i < block.problems.size(); ++i)
        text += (i == 0 ? "" : "; ") + problemText(block, block.problems[i]);
    return text;
}

void printBlock(const BlockVerification& block, size_t blockCount)
{
    QTextStream& out = standardOutput();
    out << "Block " << block.index + 1 << " of " << blockCount << "\n"
        << "  Version: " << block.version << "\n";
    const Certificate& signer = *block.signer;
    if (signer.x509() != nullptr) {
        out << "  Signer: " << visible(signer.subject()) << "\n"
            << "  Group: " << QString::fromStdString(groupToString(signer.group())) << "\n"
            << "  Subgroup: " << QString::fromStdString(subgroupToString(signer.subgroup())) << "\n"
            << "  Key ID: " << visible(signer.keyId()) << "\n"
            << Qt::flush;
        printCertificateDetails(signer, "  ");
    } else {
        out << "  Signer: none\n";
    }
    out << "  Signed: " << utcTime(block.signingTime) << "\n"
        << "  Covers: " << coverageText(block) << "\n";
    for (const auto& rotation : block.rotationChain->rotations())
        out << "  Rotation: " << visible(rotation->oldCertificate()->keyId()) << " -> "
            << visible(rotation->newCertificate()->keyId()) << "\n";
    out << "  Verdict: " << verdictText(block) << "\n" << Qt::flush;
}

void printVerification(const QString& package, const PackageVerification& verification)
{
    standardOutput() << "Package \"" << visible(package) << "\": " << verification.blocks.size()
                     << (verification.blocks.size() == 1 ? " signature block" : " signature blocks") << "\n"
                     << Qt::flush;
    for (const BlockVerification& block : verification.blocks)
        printBlock(block, verification.blocks.size());
}

// The trust database's revocations, which a package manager applies: a
// signer key it lists as blacklisted or superseded, or an earlier key of the
// block's rotation chain it lists as blacklisted, fails the block. (A chain's
// earlier keys are superseded by that very chain; that is no failure.)
void checkRevocations(PackageVerification& verification, Database& database)
{
    for (BlockVerification& block : verification.blocks) {
        if (!block.checked || block.signer->keyId().empty())
            continue;
        const std::string& keyId = block.signer->keyId();
        const int status = database.getKeyidRevocationStatus(keyId);
        if (status == Database::Blacklisted)
            block.problems.push_back({BlockIssue::KeyBlacklisted, keyId});
        else if (status == Database::Superseded)
            block.problems.push_back({BlockIssue::KeySuperseded, keyId});
        for (const std::string& previous : block.rotationChain->previousKeyids()) {
            if (database.getKeyidRevocationStatus(previous) == Database::Blacklisted)
                block.problems.push_back({BlockIssue::KeyBlacklisted, previous});
        }
    }
}

// The database named by --database, opened only when it is a file that is
// already there (opening creates a missing one); null after a line saying why.
std::unique_ptr<Database> openTrustDatabase(const QString& path)
{
    QString failure;
    const std::optional<QByteArray> head = readRegularFileHead(path, 16, failure);
    if (!head || head->isEmpty()) {
        standardError() << "The trust database \"" << visible(path) << "\" cannot be read: "
                        << (head ? QString("it is empty") : failure) << "\n"
                        << Qt::flush;
        return nullptr;
    }
    auto database = std::make_unique<Database>(argumentBytes(path).toStdString());
    if (database->connection() == nullptr)
        return nullptr;
    return database;
}

QJsonObject packageJson(const QString& package, const PackageVerification* verification, const QString& failureCode,
                        const QString& failureReason)
{
    QJsonObject object;
    object["path"] = visible(package);
    object["verified"] = verification != nullptr && verification->verified();
    if (failureCode.isEmpty()) {
        object["failure"] = QJsonValue::Null;
    } else {
        QJsonObject failure;
        failure["code"] = failureCode;
        failure["reason"] = failureReason;
        object["failure"] = failure;
    }
    QJsonArray blocks;
    if (verification != nullptr) {
        for (const BlockVerification& block : verification->blocks)
            blocks.append(blockVerificationJson(block, verification->blocks.size()));
    }
    object["blocks"] = blocks;
    return object;
}

// Each failing block's line, or the package's; OpenSSL's own lines only
// when asked for.
void printReasons(const PackageVerification& verification, const QString& caPath, bool verbose)
{
    if (verification.failure != VerificationFailure::None)
        standardError() << packageFailureText(verification, caPath) << "\n";
    for (const BlockVerification& block : verification.blocks) {
        if (!block.checked || block.problems.empty())
            continue;
        standardError() << blockFailureLine(block, verification.blocks.size()) << "\n";
        if (!verbose)
            continue;
        // OpenSSL's lines, one by one, as its own printer gives them.
        for (size_t start = 0; start < block.opensslErrors.size();) {
            const size_t end = std::min(block.opensslErrors.find('\n', start), block.opensslErrors.size());
            standardError() << visible(block.opensslErrors.substr(start, end - start)) << "\n";
            start = end + 1;
        }
    }
    standardError().flush();
}

} // namespace

int verifyCommand(QCommandLineParser& parser, const QStringList& arguments)
{
    const QCommandLineOption rootCertOption(
        {"r", "root-cert"},
        "Path to PEM-encoded bundle with root certificates. If not set, value from config will be used.", "cert",
        argumentFromBytes(QByteArray::fromStdString(PackageSignatures::defaultCaPath())));
    const QCommandLineOption verboseOption(
        "verbose",
        "Describe every block (signer, certificate, what it covers, rotations, verdict), and print OpenSSL's errors.");
    const QCommandLineOption jsonOption("json",
                                        "Print one JSON document with every block's facts and verdict instead.");
    const QCommandLineOption databaseOption(
        "database",
        "Also fail a block whose signer's key the trust database at db lists as revoked or superseded, or whose "
        "rotation chain passes through a revoked key.",
        "db");
    parser.addOptions({rootCertOption, verboseOption, jsonOption, databaseOption});
    parser.addPositionalArgument("packages", "Package(s) to verify.", "[packages...]");
    parser.process(arguments);

    const QString rootCert = parser.value(rootCertOption);
    if (rootCert.isEmpty()) {
        standardError() << "No path to root certificate bundle provided (use -r option).\n" << Qt::flush;
        return 1;
    }
    const VerifyOutput output {parser.isSet(verboseOption), parser.isSet(jsonOption)};
    std::unique_ptr<Database> database;
    if (parser.isSet(databaseOption)) {
        database = openTrustDatabase(parser.value(databaseOption));
        if (!database)
            return 1;
    }
    const QByteArray caPath = argumentBytes(rootCert);
    QJsonArray documents;
    const auto finish = [&](int status) {
        if (output.json) {
            QJsonObject document;
            document["packages"] = documents;
            standardOutput() << QString::fromUtf8(QJsonDocument(document).toJson(QJsonDocument::Indented))
                             << Qt::flush;
        }
        return status;
    };
    // As always, the packages after one that fails are not looked at.
    for (const QString& package : parser.positionalArguments()) {
        const std::unique_ptr<FileWithCmses> file = FileWithCmses::fromPath(argumentBytes(package).constData());
        if (!file) {
            const QString reason = "\"" + visible(package) + "\" cannot be read: " + unreadableReason(package);
            documents.append(packageJson(package, nullptr, "unreadable", reason));
            standardError() << reason << "\nCould not open file \"" << visible(package) << "\"\n" << Qt::flush;
            return finish(1);
        }
        PackageVerification verification = file->inspect(caPath.constData());
        if (database)
            checkRevocations(verification, *database);
        if (output.verbose && !output.json)
            printVerification(package, verification);
        const bool verified = verification.verified();
        QString failureCode;
        QString failureReason;
        if (!verified && verification.failure != VerificationFailure::None) {
            failureCode = packageFailureCode(verification.failure);
            failureReason = packageFailureText(verification, rootCert);
        } else if (!verified) {
            failureCode = "block-failed";
            failureReason = "a signature block does not verify";
        }
        documents.append(packageJson(package, &verification, failureCode, failureReason));
        if (!verified) {
            printReasons(verification, rootCert, output.verbose);
            standardError() << "Could not verify signatures for \"" << visible(package) << "\"\n" << Qt::flush;
            return finish(1);
        }
        if (!output.json)
            standardOutput() << "Signatures successfully verified for \"" << visible(package) << "\"\n"
                             << Qt::flush;
    }
    return finish(0);
}

} // namespace SignTool
