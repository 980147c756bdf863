// File names between the system's bytes and Qt's text. A name on Linux is
// bytes and need not be UTF-8; Qt decodes it as UTF-8 and replaces what is
// not, after which the file cannot be found again by that name. Here a byte
// that is no part of a UTF-8 character stands for itself as one of the code
// points U+DC80 to U+DCFF (lone surrogates, which no UTF-8 text decodes to),
// and is given back as that byte: every name makes the way there and back.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace vantrel {

QString DecodeFileName(const QByteArray& Name);
QByteArray EncodeFileName(const QString& Name);
// True for a name that stands for something other than a folder.
bool IsFileName(const QString& Name);

// The message about names that are not files, short enough for a screen:
// the first names, each cut in its middle when long, then how many more.
QString NotFilesText(const QStringList& Names);

} // namespace vantrel
