#include "ui/FileNames.h"

#include "io/SysUtils.h"

#include <QLocale>
#include <sys/stat.h>

namespace vantrel {

namespace {

// Where a byte that is not UTF-8 stands in a decoded name.
constexpr char16_t EscapeBase = 0xDC00, EscapeFirst = 0xDC80, EscapeLast = 0xDCFF;

} // namespace

QString DecodeFileName(const QByteArray& Name)
{
    const std::string Bytes = Name.toStdString();
    if (IsUtf8(Bytes))
        return QString::fromUtf8(Name);
    QString Text;
    for (std::size_t I = 0; I < Bytes.size();) {
        if (const std::size_t Length = Utf8Length(Bytes, I)) {
            Text += QString::fromUtf8(Name.constData() + I, static_cast<qsizetype>(Length));
            I += Length;
        } else {
            Text += QChar(static_cast<char16_t>(EscapeBase + static_cast<unsigned char>(Bytes[I++])));
        }
    }
    return Text;
}

QByteArray EncodeFileName(const QString& Name)
{
    QByteArray Bytes;
    qsizetype Start = 0;
    for (qsizetype I = 0; I < Name.size(); ++I) {
        const char16_t Unit = Name[I].unicode();
        // Half of a pair is a character's, not a byte's.
        if (Unit < EscapeFirst || Unit > EscapeLast || (I > 0 && Name[I - 1].isHighSurrogate()))
            continue;
        Bytes += QStringView(Name).mid(Start, I - Start).toUtf8();
        Bytes += static_cast<char>(Unit - EscapeBase);
        Start = I + 1;
    }
    return Bytes + QStringView(Name).mid(Start).toUtf8();
}

bool IsFileName(const QString& Name)
{
    struct stat St
    {
    };
    return ::stat(EncodeFileName(Name).constData(), &St) == 0 && !S_ISDIR(St.st_mode);
}

QString NotFilesText(const QStringList& Names)
{
    constexpr int Listed = 12, LongName = 90;
    QStringList Shown = Names.mid(0, Listed);
    for (QString& Name : Shown)
        if (Name.size() > LongName)
            Name = Name.left(LongName / 2) + QChar(0x2026) + Name.right(LongName / 2 - 1);
    QString Text = "These names are not files, and were not added:\r\n" + Shown.join("\r\n");
    if (Names.size() > Listed)
        Text += "\r\n(and " + QLocale().toString(Names.size() - Listed) + " more)";
    return Text;
}

} // namespace vantrel
