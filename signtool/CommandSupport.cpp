#include <cstdio>
#include <cstdlib>

#include <torvel/Certificate.h>
#include <torvel/Group.h>

#include "Commands.h"

namespace SignTool {

namespace {

// Subjects, paths and group texts are UTF-8 whatever the locale says.
QTextStream* utf8Stream(FILE* file)
{
    auto* stream = new QTextStream(file);
    stream->setCodec("UTF-8");
    return stream;
}

} // namespace

QTextStream& standardOutput()
{
    static QTextStream& stream = *utf8Stream(stdout);
    return stream;
}

QTextStream& standardError()
{
    static QTextStream& stream = *utf8Stream(stderr);
    return stream;
}

void requireOptions(const QCommandLineParser& parser, const QStringList& names)
{
    for (const QString& name : names) {
        if (!parser.isSet(name)) {
            standardError() << "Option '--" << name << "' is required but not set.\n" << Qt::flush;
            standardOutput().flush();
            std::exit(1);
        }
    }
}

void printCertificateInfo(const PackageSignatures::Certificate& certificate)
{
    standardOutput() << "Subject: " << QString::fromStdString(certificate.subject()) << "\n"
                     << "Group: " << QString::fromStdString(PackageSignatures::groupToString(certificate.group()))
                     << "\n"
                     << "Subgroup: "
                     << QString::fromStdString(PackageSignatures::subgroupToString(certificate.subgroup())) << "\n"
                     << "Key ID: " << QString::fromStdString(certificate.keyId()) << "\n"
                     << Qt::flush;
}

} // namespace SignTool
