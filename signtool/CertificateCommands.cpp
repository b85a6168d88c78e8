// Commands that show, test, issue and check certificates.

#include <QFileInfo>

#include <torvel/Certificate.h>
#include <torvel/CertificateFunctions.h>
#include <torvel/Group.h>
#include <torvel/RotationChain.h>
#include <torvel/RotationFunctions.h>

#include "ArgumentBytes.h"
#include "Commands.h"
#include "Reasons.h"
#include "SignatureFacts.h"
#include "common/OpenSslHandles.h"
#include "TorvelHandles.h"

using PackageSignatures::Certificate;

namespace SignTool {

namespace {

QByteArray bytes(const QCommandLineParser& parser, const QCommandLineOption& option)
{
    return argumentBytes(parser.value(option));
}

// Text that goes into a certificate (a common name, a group) is UTF-8 there,
// so it is taken as UTF-8 rather than as the bytes it was given as.
QByteArray utf8(const QCommandLineParser& parser, const QCommandLineOption& option)
{
    return parser.value(option).toUtf8();
}

// Why a file an issuer reads cannot serve; empty when it can be read (what
// it holds is the library's to judge). A key in a token is not a file.
QString unreadableInput(const QString& what, const QString& path)
{
    if (path.startsWith("pkcs11:"))
        return {};
    if (path.isEmpty())
        return what + " is not given";
    QString failure;
    if (readRegularFileHead(path, 0, failure))
        return {};
    return what + " \"" + visible(path) + "\" cannot be read: " + failure;
}

// Why the output cannot be written: its directory is missing or closed.
QString unwritableOutput(const QString& path)
{
    if (path.isEmpty())
        return "no output path is given (-o)";
    const QFileInfo output(path);
    const QFileInfo directory(output.absolutePath());
    if (!directory.isDir())
        return "the directory of \"" + visible(path) + "\" does not exist";
    if (!directory.isWritable())
        return "the directory of \"" + visible(path) + "\" is not writable";
    if (output.isDir())
        return "\"" + visible(path) + "\" is a directory";
    return {};
}

// The first reason found among the checks, as a line; nothing when none
// applies and the library's lines stand alone.
void printFirstReason(const std::vector<QString>& reasons)
{
    for (const QString& reason : reasons) {
        if (!reason.isEmpty()) {
            standardError() << sentence(reason) << "\n" << Qt::flush;
            return;
        }
    }
}

// A chain names itself in its PEM header; a certificate bundle that also
// holds a chain is taken as certificates.
bool isRotationChainFile(const QString& path)
{
    QString failure;
    const std::optional<QByteArray> head = readRegularFileHead(path, 64 * 1024, failure);
    return head && head->contains("-----BEGIN PROOF OF ROTATION CHAIN-----")
           && !head->contains("-----BEGIN CERTIFICATE-----");
}

// One line per key, oldest first: the chain's own order.
bool showRotationChain(const QString& path)
{
    const Common::Torvel::ProofOfRotationChainHandle read(
        ProofOfRotationChain_read(argumentBytes(path).constData()));
    if (!read) {
        standardError() << "\"" << visible(path) << "\" is a proof-of-rotation chain that cannot be read\n"
                        << Qt::flush;
        return false;
    }
    const PackageSignatures::RotationChain chain(read.get());
    const auto rotations = chain.rotations();
    standardOutput() << "Rotation chain: " << rotations.size() << (rotations.size() == 1 ? " rotation" : " rotations")
                     << " (a proof-of-rotation chain, not a certificate)\n";
    std::vector<std::shared_ptr<Certificate>> keys;
    for (const auto& rotation : rotations) {
        if (keys.empty())
            keys.push_back(rotation->oldCertificate());
        keys.push_back(rotation->newCertificate());
    }
    for (size_t i = 0; i < keys.size(); ++i)
        standardOutput() << "Key " << i + 1 << ": " << visible(keys[i]->keyId()) << " \""
                         << visible(keys[i]->subject()) << "\"\n";
    standardOutput().flush();
    const PackageSignatures::RotationChainVerification verification = chain.verify();
    standardOutput() << "Chain check: "
                     << (verification.verified()
                             ? QString("every proof holds")
                             : "proof " + QString::number(verification.proofIndex + 1) + " does not hold")
                     << "\n"
                     << Qt::flush;
    return true;
}

} // namespace

int infoCommand(QCommandLineParser& parser, const QStringList& arguments)
{
    const QCommandLineOption verboseOption(
        "verbose", "Also show the issuer, serial number, validity, SHA-256 fingerprint and key usages.");
    parser.addOption(verboseOption);
    parser.addPositionalArgument("cert", "Certificates to show information for.", "[certificate...]");
    parser.process(arguments);
    const QStringList paths = parser.positionalArguments();
    int status = 0;
    for (const QString& path : paths) {
        if (paths.size() > 1)
            standardOutput() << visible(path) << ":\n" << Qt::flush;
        if (isRotationChainFile(path)) {
            if (!showRotationChain(path))
                status = 1;
            continue;
        }
        const Common::OpenSsl::X509Handle read(certificate_read(argumentBytes(path).constData()));
        // The four lines all the same, for scripts that count them.
        const Certificate certificate(read.get());
        printCertificateInfo(certificate);
        if (!read) {
            status = 1;
            continue;
        }
        if (parser.isSet(verboseOption))
            printCertificateDetails(certificate);
    }
    return status;
}

int isSysCertCommand(QCommandLineParser& parser, const QStringList& arguments)
{
    parser.addPositionalArgument("paths", "Paths to certificates that need to be checked.", "[paths...]");
    parser.process(arguments);
    for (const QString& path : parser.positionalArguments()) {
        const QFileInfo info(path);
        if (!info.exists()) {
            standardError() << visible(path) << " does not exist.\n" << Qt::flush;
            return 1;
        }
        if (!info.isFile()) {
            standardError() << visible(path) << " is a directory.\n" << Qt::flush;
            return 1;
        }
        const Certificate certificate = Certificate::readCertificateFromFile(argumentBytes(path).constData());
        standardOutput() << "\"" << visible(path) << "\" is "
                         << (certificate.isSystemDeveloperCertificate() ? "" : "not ")
                         << "a system developer certificate\n"
                         << Qt::flush;
    }
    return 0;
}

int makeCertCaCommand(QCommandLineParser& parser, const QStringList& arguments)
{
    const QCommandLineOption keyOption({"k", "key"}, "Path to CA private key.", "key");
    const QCommandLineOption commonNameOption({"c", "common-name"}, "CA common name (issuer name).", "CN");
    const QCommandLineOption outOption({"o", "out"}, "Path to save generated certificate.", "out");
    parser.addOptions({keyOption, commonNameOption, outOption});
    parser.process(arguments);

    const QByteArray key = bytes(parser, keyOption);
    const QByteArray out = bytes(parser, outOption);
    const QByteArray commonName = utf8(parser, commonNameOption);
    if (make_ca_certificate(out.constData(), key.constData(), commonName.constData()) != 0) {
        constexpr int longestCommonName = 255;
        printFirstReason({unreadableInput("the CA key", parser.value(keyOption)),
                          unwritableOutput(parser.value(outOption)),
                          commonName.size() > longestCommonName
                              ? "the common name is " + QString::number(commonName.size())
                                    + " bytes long, and at most 255 are allowed"
                              : QString()});
        standardError() << "Could not issue CA certificate: " << visible(parser.value(outOption)) << "\n" << Qt::flush;
        return 1;
    }
    standardOutput() << "Successfully issued CA certificate: " << visible(parser.value(outOption)) << "\n" << Qt::flush;
    return 0;
}

int makeCertCommand(QCommandLineParser& parser, const QStringList& arguments)
{
    const QCommandLineOption inOption({"i", "in"}, "Path to CSR.", "csr");
    const QCommandLineOption keyOption({"k", "key"}, "Path to CA private key.", "key");
    const QCommandLineOption certOption({"c", "cert"}, "Path to CA certificate.", "cert");
    const QCommandLineOption groupOption({"g", "group"}, "Certificate group (developer, client, etc.).", "group");
    const QCommandLineOption outOption({"o", "out"}, "Path to save generated certificate.", "out");
    const QCommandLineOption allowUnknownOption("allow-unknown-group", "Allow unknown values for 'group' option");
    parser.addOptions({inOption, keyOption, certOption, groupOption, outOption, allowUnknownOption});
    parser.process(arguments);
    requireOptions(parser, {"in", "key", "cert", "group", "out"});

    const QString groupText = parser.value(groupOption);
    const QByteArray group = utf8(parser, groupOption);
    const PackageSignatures::Group groupValue = PackageSignatures::groupFromString(group.constData());
    const PackageSignatures::Subgroup subgroup = PackageSignatures::subgroupFromString(group.constData());
    if (!parser.isSet(allowUnknownOption)
        && (groupValue == PackageSignatures::GroupNone || subgroup == PackageSignatures::SubgroupNone)) {
        standardError() << "The group must be developer (alone, or with one of the subgroups antivirus, extended, mdm, "
                           "auth, market, systemapp and substitutecomponent after a colon), seclab or client\n"
                        << "Unknown group: " << visible(groupText) << "\n"
                        << Qt::flush;
        return 1;
    }
    if (groupValue != PackageSignatures::GroupDeveloper && groupText.contains(':')) {
        standardError() << "Invalid group: " << visible(groupText) << "\nOnly \"developer\" group may have a subgroup\n"
                        << Qt::flush;
        return 1;
    }

    const QByteArray out = bytes(parser, outOption);
    if (make_certificate(out.constData(), bytes(parser, inOption).constData(), bytes(parser, keyOption).constData(),
                         bytes(parser, certOption).constData(), group.constData())
        != 0) {
        printFirstReason({unreadableInput("the certificate request", parser.value(inOption)),
                          unreadableInput("the CA key", parser.value(keyOption)),
                          unreadableInput("the CA certificate", parser.value(certOption)),
                          unwritableOutput(parser.value(outOption))});
        standardError() << "Could not issue end-user certificate: " << visible(parser.value(outOption)) << "\n"
                        << Qt::flush;
        return 1;
    }
    standardOutput() << "Successfully issued end-user certificate: " << visible(parser.value(outOption)) << "\n"
                     << Qt::flush;
    return 0;
}

int verifyCertCommand(QCommandLineParser& parser, const QStringList& arguments)
{
    const QCommandLineOption certOption({"c", "cert"}, "Path to the certificate to be verified.", "cert");
    const QCommandLineOption caOption("ca-cert", "Path to CA certificate.", "CA");
    parser.addOptions({certOption, caOption});
    parser.process(arguments);
    requireOptions(parser, {"cert", "ca-cert"});

    const Certificate certificate = Certificate::readCertificateFromFile(bytes(parser, certOption).constData());
    if (!certificate.verify(bytes(parser, caOption).constData())) {
        standardError() << "Authority verification failed\n" << Qt::flush;
        return 1;
    }
    standardOutput() << "Successfully verified the certificate's authority\n" << Qt::flush;
    return 0;
}

} // namespace SignTool
