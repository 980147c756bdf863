#include "ui/ShellUtils.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>

#include <QDesktopServices>
#include <QUrl>

namespace vantrel {

namespace {
std::function<void(const QString&)>& Handler()
{
    static std::function<void(const QString&)> Instance;
    return Instance;
}
// Whether the recorder stands for a desktop that has a program for what it
// is handed.
bool& HandlerOpens()
{
    static bool Opens = true;
    return Opens;
}
} // namespace

void ShellOpen(const QString& Target)
{
    if (Handler()) {
        Handler()(Target);
        return;
    }
    const QUrl Url =
        Target.contains("://") || Target.startsWith("mailto:") ? QUrl(Target) : QUrl::fromLocalFile(Target);
    QDesktopServices::openUrl(Url);
}

namespace {

QStringList XdgDirs(const char* HomeVariable, const QString& HomeDefault, const char* DirsVariable,
                    const QString& DirsDefault)
{
    const QString Home = qEnvironmentVariable(HomeVariable);
    QStringList Dirs{Home.isEmpty() ? QDir::homePath() + HomeDefault : Home};
    const QString Others = qEnvironmentVariable(DirsVariable);
    Dirs << (Others.isEmpty() ? DirsDefault : Others).split(':', Qt::SkipEmptyParts);
    return Dirs;
}

// The keys of one group of a desktop-entry style file.
QMap<QString, QString> ReadGroup(const QString& FileName, const QString& Group)
{
    QMap<QString, QString> Keys;
    QFile File(FileName);
    if (!File.open(QIODevice::ReadOnly | QIODevice::Text))
        return Keys;
    bool In = false;
    while (!File.atEnd()) {
        const QString Line = QString::fromUtf8(File.readLine()).trimmed();
        if (Line.startsWith('['))
            In = Line == "[" + Group + "]";
        else if (const qsizetype Equals = Line.indexOf('='); In && Equals > 0)
            Keys.insert(Line.left(Equals).trimmed(), Line.mid(Equals + 1).trimmed());
    }
    return Keys;
}

// Exec's words with the file put in for its field codes (a simple split:
// quoted words keep their spaces).
QStringList ExecCommand(const QString& Exec, const QString& File)
{
    QStringList Words;
    QString Word;
    bool Quoted = false, Any = false, Placed = false;
    for (const QChar C : Exec + ' ') {
        if (C == '"') {
            Quoted = !Quoted;
            Any = true;
        } else if (C == ' ' && !Quoted) {
            if (Any || !Word.isEmpty()) {
                if (Word == "%f" || Word == "%F" || Word == "%u" || Word == "%U") {
                    Words << (Word.endsWith('u', Qt::CaseInsensitive) ? QUrl::fromLocalFile(File).toString()
                                                                      : File);
                    Placed = true;
                } else if (!(Word.size() == 2 && Word[0] == '%')) {
                    Words << Word.replace("%%", "%");
                }
            }
            Word.clear();
            Any = false;
        } else {
            Word += C;
        }
    }
    if (!Placed && !Words.isEmpty())
        Words << File;
    return Words;
}

} // namespace

std::optional<QStringList> PlayerCommand(const QString& File)
{
    const QString Type = QMimeDatabase().mimeTypeForFile(File).name();
    const QStringList Configs = XdgDirs("XDG_CONFIG_HOME", "/.config", "XDG_CONFIG_DIRS", "/etc/xdg");
    QStringList Applications;
    for (const QString& Dir :
         XdgDirs("XDG_DATA_HOME", "/.local/share", "XDG_DATA_DIRS", "/usr/local/share:/usr/share"))
        Applications << Dir + "/applications";
    // The defaults first, in the order the rules give, then every program
    // that says it takes the type.
    QStringList Candidates;
    for (const char* Group : {"Default Applications", "Added Associations"}) {
        for (const QString& Dir : Configs + Applications)
            Candidates << ReadGroup(Dir + "/mimeapps.list", Group).value(Type).split(';', Qt::SkipEmptyParts);
    }
    for (const QString& Dir : Applications)
        for (const QString& Entry : QDir(Dir).entryList({"*.desktop"}, QDir::Files, QDir::Name))
            if (ReadGroup(Dir + "/" + Entry, "Desktop Entry").value("MimeType").split(';').contains(Type))
                Candidates << Entry;
    for (const QString& Id : Candidates) {
        if (Id == "vantrel.desktop")
            continue;
        for (const QString& Dir : Applications) {
            const QMap<QString, QString> Entry = ReadGroup(Dir + "/" + Id, "Desktop Entry");
            if (Entry.isEmpty())
                continue;
            const QStringList Command = ExecCommand(Entry.value("Exec"), File);
            if (Entry.value("Hidden") != "true" && !Command.isEmpty() &&
                QFileInfo(Command.front()).fileName() != "vantrel")
                return Command;
            break; // the first folder that has the entry speaks for it
        }
    }
    return std::nullopt;
}

bool PlayFile(const QString& File)
{
    if (Handler()) {
        Handler()(File);
        return HandlerOpens();
    }
    const std::optional<QStringList> Command = PlayerCommand(File);
    return Command && QProcess::startDetached(Command->front(), Command->mid(1));
}

bool CanShowPage(const QString& File)
{
    if (Handler())
        return HandlerOpens();
    if (PlayerCommand(File))
        return true;
    // What xdg-open tries when the desktop names no program for the type.
    if (!qEnvironmentVariableIsEmpty("BROWSER"))
        return true;
    // (sensible-browser is only a dispatcher to these.)
    for (const char* Browser : {"x-www-browser", "firefox", "firefox-esr", "chromium", "google-chrome",
                                "epiphany", "konqueror", "www-browser", "lynx", "w3m"})
        if (!QStandardPaths::findExecutable(Browser).isEmpty())
            return true;
    return false;
}

void ShowInFileManager(const QString& File, std::function<void()> Unshown)
{
    if (Handler()) {
        Handler()(File);
        if (!HandlerOpens() && Unshown)
            Unshown();
        return;
    }
    QDBusMessage Call =
        QDBusMessage::createMethodCall("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                       "org.freedesktop.FileManager1", "ShowItems");
    Call << QStringList{QUrl::fromLocalFile(File).toString()} << QString();
    // No file manager that selects: its folder, then; and when nothing opens
    // that either, the caller says so.
    auto Answered = [File, Unshown = std::move(Unshown)](const QDBusPendingCall& Reply) {
        if (Reply.isError() &&
            !QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(File).absolutePath())) && Unshown)
            Unshown();
    };
    const QDBusPendingCall Reply = QDBusConnection::sessionBus().asyncCall(Call, 5000);
    // Without a session bus the call has failed already, and a watcher of
    // it would never say so.
    if (Reply.isFinished()) {
        Answered(Reply);
        return;
    }
    auto* Watcher = new QDBusPendingCallWatcher(Reply);
    QObject::connect(Watcher, &QDBusPendingCallWatcher::finished,
                     [Answered = std::move(Answered)](QDBusPendingCallWatcher* Done) {
                         Answered(*Done);
                         Done->deleteLater();
                     });
}

void NotifyDesktop(QWidget& Window, const QString& Summary, const QString& Body)
{
    QApplication::alert(&Window);
    QDBusMessage Call =
        QDBusMessage::createMethodCall("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                       "org.freedesktop.Notifications", "Notify");
    // Application, replaces, icon, summary, body, actions, hints, timeout.
    Call << QApplication::applicationName() << 0u << QString("vantrel") << Summary << Body << QStringList()
         << QVariantMap() << -1;
    QDBusConnection::sessionBus().call(Call, QDBus::NoBlock);
}

void SetShellOpenHandler(std::function<void(const QString&)> Handler, bool Opens)
{
    vantrel::Handler() = std::move(Handler);
    HandlerOpens() = Opens;
}

QString ManualFile()
{
    const QDir Program(QCoreApplication::applicationDirPath());
    const QString Beside = Program.filePath("manual.html");
    return QFileInfo::exists(Beside) ? Beside
                                     : QDir::cleanPath(Program.filePath("../share/doc/vantrel/manual.html"));
}

} // namespace vantrel
