// Commands that read or change the signature blocks of package files.

#include <optional>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <torvel/Certificate.h>
#include <torvel/FileWithCmses.h>
#include <torvel/RotationChain.h>
#include <torvel/RotationFunctions.h>

#include "ArgumentBytes.h"
#include "Commands.h"
#include "PackageHeader.h"
#include "Reasons.h"
#include "SignatureFacts.h"

using PackageSignatures::Cms;
using PackageSignatures::FileWithCmses;

namespace SignTool {

namespace {

std::unique_ptr<FileWithCmses> openPackage(const QString& path)
{
    return FileWithCmses::fromPath(argumentBytes(path).constData());
}

QString hexText(const std::vector<uint8_t>& bytes)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size())).toHex());
}

// The package's file paths by header index (as visible text), read from
// its header once for all its blocks.
std::optional<std::vector<QString>> packagedFiles(const FileWithCmses& file)
{
    const Common::Rpm::HeaderHandle header = readPackageHeader(file);
    if (!header)
        return std::nullopt;
    std::vector<QString> paths;
    Common::Rpm::FiHandle iterator(rpmfiNew(nullptr, header.get(), RPMTAG_BASENAMES, RPMFI_NOHEADER));
    while (iterator && rpmfiNext(iterator.get()) >= 0) {
        const size_t index = size_t(rpmfiFX(iterator.get()));
        if (index >= paths.size())
            paths.resize(index + 1);
        paths[index] = visible(std::string(rpmfiFN(iterator.get())));
    }
    return paths;
}

// Walks the block's signatures rather than the package's files, so that many
// blocks over a package of many files cost their sum, not their product.
void dumpFileSignatures(const std::vector<QString>& paths, const Cms& cms)
{
    for (const long index : cms.signedFileIndexes()) {
        if (index < 0 || size_t(index) >= paths.size())
            continue;
        const QString& path = paths[size_t(index)];
        const std::vector<uint8_t> ima = cms.fileSignature(int(index));
        if (!ima.empty())
            standardOutput() << index << " " << path << ": [IMA] " << hexText(ima) << "\n";
        const std::vector<uint8_t> ta = cms.trustletSignature(int(index));
        if (!ta.empty())
            standardOutput() << index << " " << path << ": [TA] " << visible(std::string(ta.begin(), ta.end()))
                             << "\n";
    }
    standardOutput().flush();
}

QJsonArray fileSignaturesJson(const std::vector<QString>& paths, const Cms& cms)
{
    QJsonArray signatures;
    for (const long index : cms.signedFileIndexes()) {
        if (index < 0 || size_t(index) >= paths.size())
            continue;
        const auto add = [&](const char* kind, const QString& value) {
            QJsonObject signature;
            signature["index"] = double(index);
            signature["path"] = paths[size_t(index)];
            signature["kind"] = kind;
            signature["value"] = value;
            signatures.append(signature);
        };
        const std::vector<uint8_t> ima = cms.fileSignature(int(index));
        if (!ima.empty())
            add("ima", hexText(ima));
        const std::vector<uint8_t> ta = cms.trustletSignature(int(index));
        if (!ta.empty())
            add("ta", visible(std::string(ta.begin(), ta.end())));
    }
    return signatures;
}

void dumpBlock(const Cms& cms, const std::vector<QString>* files)
{
    if (files != nullptr)
        dumpFileSignatures(*files, cms);
    for (const auto& rotation : cms.rotationChain()->rotations())
        standardOutput() << "\tRotation: " << visible(rotation->oldCertificate()->keyId()) << " -> "
                         << visible(rotation->newCertificate()->keyId()) << "\n";
    standardOutput().flush();
    printCertificateInfo(*cms.certificate());
    standardOutput() << "Signature: " << QString::fromStdString(cms.signature()) << "\n" << Qt::flush;
}

} // namespace

int rotateCommand(QCommandLineParser& parser, const QStringList& arguments)
{
    const QCommandLineOption oldKeyOption("old-key", "Old signer's private key to rotate from.", "key");
    const QCommandLineOption oldCertOption("old-cert", "Old signer's certificate to rotate from.", "cert");
    const QCommandLineOption newKeyOption("new-key", "New signer's private key to be used for package signing.",
                                          "key");
    const QCommandLineOption newCertOption("new-cert", "New signer's certificate.", "cert");
    const QCommandLineOption prependOption({"p", "prepend"}, "Prepend previous proof-of-rotation chain.", "file");
    const QCommandLineOption outOption({"o", "out"}, "Path to save proof-of-rotation chain.", "out");
    parser.addOptions({oldKeyOption, oldCertOption, newKeyOption, newCertOption, prependOption, outOption});
    parser.process(arguments);
    requireOptions(parser, {"old-key", "old-cert", "new-key", "new-cert", "out"});

    const auto bytes = [&parser](const QCommandLineOption& option) { return argumentBytes(parser.value(option)); };
    const QByteArray out = bytes(outOption);
    const QByteArray prepend = bytes(prependOption);
    const PackageSignatures::RotationExtension extension = PackageSignatures::extendRotationChain(
        out.constData(), prepend.isEmpty() ? nullptr : prepend.constData(), bytes(oldCertOption).constData(),
        bytes(oldKeyOption).constData(), bytes(newCertOption).constData(), bytes(newKeyOption).constData());
    if (!extension.succeeded()) {
        const QString reason = rotationRefusalReason(
            extension, {parser.value(oldCertOption), parser.value(newCertOption), parser.value(prependOption)});
        if (!reason.isEmpty())
            standardError() << sentence(reason) << "\n";
        standardError() << "Could not create proof-of-rotation chain: " << visible(parser.value(outOption)) << "\n"
                        << Qt::flush;
        return 1;
    }
    return 0;
}

int dumpCommand(QCommandLineParser& parser, const QStringList& arguments)
{
    const QCommandLineOption fileSignaturesOption({"f", "file-signatures"}, "Dump file signatures.");
    const QCommandLineOption jsonOption("json", "Print one JSON document with every block's facts instead.");
    parser.addOptions({fileSignaturesOption, jsonOption});
    parser.addPositionalArgument("packages", "Package(s) to dump.", "[packages...]");
    parser.process(arguments);

    const bool withFileSignatures = parser.isSet(fileSignaturesOption);
    const bool json = parser.isSet(jsonOption);
    const QStringList packages = parser.positionalArguments();
    QJsonArray documents;
    int status = 0;
    for (const QString& package : packages) {
        QJsonObject document;
        document["path"] = visible(package);
        document["error"] = QJsonValue::Null;
        if (packages.size() > 1 && !json)
            standardOutput() << visible(package) << ":\n" << Qt::flush;
        // A file that cannot be read is not one without signatures. Only
        // regular files are opened, so nothing here can block.
        const std::unique_ptr<FileWithCmses> file =
            FileWithCmses::fromPath(argumentBytes(package).constData(), "r");
        if (!file) {
            const QString reason = unreadableReason(package);
            standardError() << "Could not open file \"" << visible(package) << "\": " << reason << "\n" << Qt::flush;
            document["error"] = reason;
            document["blocks"] = QJsonArray();
            documents.append(document);
            status = 1;
            continue;
        }
        const std::vector<PackageSignatures::CmsLocation> locations = file->locateCmses();
        const std::vector<Cms> cmses = file->cmses();
        if (cmses.empty() && !json)
            standardOutput() << "No signatures found in package.\n" << Qt::flush;
        std::optional<std::vector<QString>> files;
        if (withFileSignatures && !cmses.empty())
            files = packagedFiles(*file);
        QJsonArray blocks;
        for (size_t index = 0; index < cmses.size(); ++index) {
            if (!json) {
                dumpBlock(cmses[index], files ? &*files : nullptr);
                continue;
            }
            const PackageSignatures::CmsLocation location =
                index < locations.size() ? locations[index] : PackageSignatures::CmsLocation {};
            QJsonObject block = dumpedBlockJson(cmses[index], location, index);
            if (withFileSignatures)
                block["file_signatures"] = files ? fileSignaturesJson(*files, cmses[index]) : QJsonArray();
            blocks.append(block);
        }
        document["blocks"] = blocks;
        documents.append(document);
    }
    if (json) {
        QJsonObject document;
        document["packages"] = documents;
        standardOutput() << QString::fromUtf8(QJsonDocument(document).toJson(QJsonDocument::Indented)) << Qt::flush;
    }
    return status;
}

int deleteCommand(QCommandLineParser& parser, const QStringList& arguments)
{
    const QCommandLineOption lastOption({"l", "last"}, "Delete only last signature from package.");
    parser.addOption(lastOption);
    parser.addPositionalArgument("packages", "Package(s) to delete signatures from.", "[packages...]");
    parser.process(arguments);

    const bool onlyLast = parser.isSet(lastOption);
    for (const QString& package : parser.positionalArguments()) {
        const std::unique_ptr<FileWithCmses> file = openPackage(package);
        if (!file) {
            standardError() << "\"" << visible(package) << "\" cannot be read: " << unreadableReason(package)
                            << "\nCould not open file \"" << visible(package) << "\"\n"
                            << Qt::flush;
            return 1;
        }
        if (file->locateCmses().empty()) {
            standardError() << "No signatures found in \"" << visible(package) << "\"\n" << Qt::flush;
            continue;
        }
        if (!file->deleteCmses(onlyLast)) {
            standardError() << "Could not delete signature(s) from \"" << visible(package) << "\"\n" << Qt::flush;
            return 1;
        }
        standardOutput() << "Successfully deleted signature(s) from \"" << visible(package) << "\"\n"
                         << Qt::flush;
    }
    return 0;
}

int extractCertCommand(QCommandLineParser& parser, const QStringList& arguments)
{
    const QCommandLineOption outOption({"o", "out"}, "Path to save extracted cert at.", "out");
    const QCommandLineOption lastOption({"l", "last"}, "Extract last certificate instead of first.");
    parser.addOption(outOption);
    parser.addOption(lastOption);
    parser.addPositionalArgument("package", "Package to extract certificate from.", "package");
    parser.process(arguments);
    requireOptions(parser, {"out"});

    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) {
        standardError() << "No package provided.\n" << Qt::flush;
        return 1;
    }
    const QString package = positional.last();
    const std::unique_ptr<FileWithCmses> file = openPackage(package);
    if (!file) {
        standardError() << "Could not open file" << visible(package) << Qt::flush;
        return 1;
    }
    const std::vector<Cms> cmses = file->cmses();
    if (cmses.empty()) {
        standardError() << "Package has no CMSes" << visible(package) << Qt::flush;
        return 1;
    }
    const Cms& chosen = parser.isSet(lastOption) ? cmses.back() : cmses.front();
    return chosen.certificate()->saveAsPem(argumentBytes(parser.value(outOption)).constData()) ? 0 : 1;
}

} // namespace SignTool
