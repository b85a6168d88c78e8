#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

#include <torvel/Certificate.h>
#include <torvel/Group.h>

#include "ArgumentBytes.h"
#include "Commands.h"
#include "common/VisibleText.h"

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

QString visible(const std::string& text)
{
    return QString::fromStdString(Common::visibleText(text));
}

QString visible(const QString& text)
{
    return visible(argumentBytes(text).toStdString());
}

QString unreadableReason(const QString& path)
{
    const QByteArray name = argumentBytes(path);
    struct stat status;
    if (stat(name.constData(), &status) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    if (!S_ISREG(status.st_mode))
        return "not a regular file";
    if (access(name.constData(), R_OK) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    return "it could not be opened";
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
    standardOutput() << "Subject: " << visible(certificate.subject()) << "\n"
                     << "Group: " << QString::fromStdString(PackageSignatures::groupToString(certificate.group()))
                     << "\n"
                     << "Subgroup: "
                     << QString::fromStdString(PackageSignatures::subgroupToString(certificate.subgroup())) << "\n"
                     << "Key ID: " << visible(certificate.keyId()) << "\n"
                     << Qt::flush;
}

} // namespace SignTool
