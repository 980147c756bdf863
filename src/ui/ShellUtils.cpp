#include "ShellUtils.h"

#include <QCoreApplication>
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
