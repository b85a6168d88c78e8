#pragma once

#include <optional>
#include <string>

#include <QCommandLineParser>
#include <QStringList>
#include <QTextStream>

namespace PackageSignatures {
class Certificate;
}

namespace SignTool {

// Every handler registers its options on the parser, processes the argument
// list (which starts at the command name) and returns the exit status.
using CommandHandler = int (*)(QCommandLineParser& parser, const QStringList& arguments);

int signCommand(QCommandLineParser& parser, const QStringList& arguments);
int rotateCommand(QCommandLineParser& parser, const QStringList& arguments);
int verifyCommand(QCommandLineParser& parser, const QStringList& arguments);
int dumpCommand(QCommandLineParser& parser, const QStringList& arguments);
int deleteCommand(QCommandLineParser& parser, const QStringList& arguments);
int extractCertCommand(QCommandLineParser& parser, const QStringList& arguments);
int dumpDbCommand(QCommandLineParser& parser, const QStringList& arguments);
int infoCommand(QCommandLineParser& parser, const QStringList& arguments);
int isSysCertCommand(QCommandLineParser& parser, const QStringList& arguments);
int makeCertCaCommand(QCommandLineParser& parser, const QStringList& arguments);
int makeCertCommand(QCommandLineParser& parser, const QStringList& arguments);
int verifyCertCommand(QCommandLineParser& parser, const QStringList& arguments);

// Both streams exist once for the whole run. Each message is flushed as it is
// written, so it keeps its place among the library's own diagnostics, which
// go straight to the C standard error stream.
QTextStream& standardOutput();
QTextStream& standardError();

// Ends the program with status 1 naming the first option that is not set.
void requireOptions(const QCommandLineParser& parser, const QStringList& names);

// Text from a package, a signed file or a file name, made safe to print as
// part of one line (control characters and bytes that are not UTF-8
// escaped). A QString is shown as the bytes it was given as: every one in
// this tool comes from the command line or a file name (see ArgumentBytes.h).
QString visible(const QString& text);
QString visible(const std::string& text);

// Why the file at path cannot be read: the system's error text, or "not a
// regular file".
QString unreadableReason(const QString& path);

// The first `limit` bytes of the file at path, read only when it is a
// regular file (a FIFO or a device is never waited on); empty with the
// reason in `failure` otherwise.
std::optional<QByteArray> readRegularFileHead(const QString& path, qint64 limit, QString& failure);

// The four lines that describe a signer certificate; the subject is shown
// as visible text.
void printCertificateInfo(const PackageSignatures::Certificate& certificate);

} // namespace SignTool
