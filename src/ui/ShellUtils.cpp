#include "ShellUtils.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFileInfo>

#include <QDesktopServices>
#include <QUrl>

namespace vantrel {

namespace {
std::function<void(const QString&)>& Handler()
{
    static std::function<void(const QString&)> Instance;
    return Instance;
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

void SetShellOpenHandler(std::function<void(const QString&)> Handler)
{
    vantrel::Handler() = std::move(Handler);
}

QString ManualFile()
{
    const QDir Program(QCoreApplication::applicationDirPath());
    const QString Beside = Program.filePath("manual.html");
    return QFileInfo::exists(Beside) ? Beside
                                     : QDir::cleanPath(Program.filePath("../share/doc/vantrel/manual.html"));
}

} // namespace vantrel
