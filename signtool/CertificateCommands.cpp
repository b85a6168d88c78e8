// Commands that show, test, issue and check certificates.

#include <QFileInfo>

#include <torvel/Certificate.h>
#include <torvel/CertificateFunctions.h>
#include <torvel/Group.h>

#include "ArgumentBytes.h"
#include "Commands.h"

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

} // namespace

int infoCommand(QCommandLineParser& parser, const QStringList& arguments)
{
    parser.addPositionalArgument("cert", "Certificates to show information for.", "[certificate...]");
    parser.process(arguments);
    for (const QString& path : parser.positionalArguments())
        printCertificateInfo(Certificate::readCertificateFromFile(argumentBytes(path).constData()));
    return 0;
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
        standardError() << "Unknown group: " << visible(groupText) << "\n" << Qt::flush;
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
