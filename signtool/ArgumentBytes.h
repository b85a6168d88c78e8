#pragma once

#include <QByteArray>
#include <QString>

namespace SignTool {

// File names and arguments are bytes, and Qt turns them into QStrings
// through its locale codec: QCoreApplication::arguments(), QFileInfo, QDir
// and QDirIterator decode with it, and QFile::encodeName encodes with it.
// A stock codec replaces the bytes of invalid UTF-8 by U+FFFD, so a name
// such as "x\xff.rpm" would come back as another file's name, and Qt's
// directory iterator silently skips entries that do not survive the round
// trip. This codec decodes valid UTF-8 as usual and each byte of an invalid
// sequence as the lone surrogate U+DC80..U+DCFF ("surrogate escape"), which
// no valid UTF-8 decodes to, and encodes those back to the same byte: every
// byte string survives decoding and encoding unchanged.
//
// Installed once, first thing in main, before any argument or file name is
// decoded; Qt owns the codec from then on.
void installByteExactLocaleCodec();

// The bytes a command-line argument was given as, or a found file name has:
// the one way a path goes from Qt to the file system (and to libtorvel) in
// this tool.
QByteArray argumentBytes(const QString& argument);

// A file name as libtorvel returns it, for Qt's file classes.
QString argumentFromBytes(const QByteArray& bytes);

} // namespace SignTool
