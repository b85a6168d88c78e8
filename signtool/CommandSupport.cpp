#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <torvel/Certificate.h>
#include <torvel/Group.h>

#include "ArgumentBytes.h"
#include "Commands.h"
#include "common/PosixIo.h"
#include "common/UniqueFd.h"
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

std::optional<QByteArray> readRegularFileHead(const QString& path, qint64 limit, QString& failure)
{
    // O_NONBLOCK: opening a FIFO must not wait for a writer; the type is
    // then taken from the open descriptor, so the file checked is the one read.
    const Common::UniqueFd file(open(argumentBytes(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat status;
    if (file.get() < 0 || fstat(file.get(), &status) != 0) {
        failure = QString::fromLocal8Bit(std::strerror(errno));
        return std::nullopt;
    }
    if (!S_ISREG(status.st_mode)) {
        failure = "not a regular file";
        return std::nullopt;
    }
    QByteArray head(int(std::min<qint64>(limit, status.st_size)), '\0');
    const ssize_t done = Common::readFull(file.get(), head.data(), size_t(head.size()), off_t(0));
    if (done < 0) {
        failure = QString::fromLocal8Bit(std::strerror(errno));
        return std::nullopt;
    }
    head.resize(int(done));
    return head;
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
