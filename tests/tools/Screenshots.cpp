// Takes screenshots of the real windows for the README and for review: the
// main window with files, the About box, a message box, and the progress
// dialog in the middle of a real join. Run under xvfb-run by scripts/screenshots.
//
// Usage: vantrel-screenshots OUTDIR BIG_STREAM STREAM...
#include "ui/MainForm.h"
#include "ui/ProgressDlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

using namespace vantrel;

namespace {

QString OutDir;

void Grab(const QString& Name, const QRect& Area)
{
    QApplication::processEvents();
    const QPixmap Shot = QGuiApplication::primaryScreen()->grabWindow(0).copy(Area.adjusted(-8, -30, 8, 8));
    const QString File = OutDir + "/" + Name + ".png";
    if (!Shot.save(File))
        std::fprintf(stderr, "cannot save %s\n", qPrintable(File));
    else
        std::printf("%s\n", qPrintable(File));
}

// Runs Check every 50 ms until it returns true.
void Poll(std::function<bool()> Check)
{
    auto* Timer = new QTimer;
    QObject::connect(Timer, &QTimer::timeout, [Timer, Check] {
        if (Check())
            Timer->deleteLater();
    });
    Timer->start(50);
}

} // namespace

int main(int Argc, char** Argv)
{
    QApplication Application(Argc, Argv);
    QApplication::setApplicationName("Vantrel");
    QApplication::setWindowIcon(QIcon(":/icons/vantrel.svg"));
    const QStringList Args = QApplication::arguments();
    if (Args.size() < 4) {
        std::fprintf(stderr, "usage: vantrel-screenshots OUTDIR BIG_STREAM STREAM...\n");
        return 2;
    }
    OutDir = Args[1];
    QDir().mkpath(OutDir);
    QTemporaryDir Temp;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, Temp.path());

    TfrmMain Window{TProductInfo{}};
    Window.show();

    QTimer::singleShot(500, [&] {
        // The clips come in through the real open dialog, as a user adds them.
        const QStringList Clips = Args.mid(3);
        Poll([&, Clips] {
            auto* Dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!Dialog)
                return false;
            Dialog->setDirectory(QFileInfo(Clips.front()).absolutePath());
            QStringList Names;
            for (const QString& Clip : Clips)
                Names << "\"" + QFileInfo(Clip).fileName() + "\"";
            Dialog->findChild<QLineEdit*>("fileNameEdit")->setText(Names.join(' '));
            QTimer::singleShot(300, [Dialog, Area = Dialog->frameGeometry()] {
                Grab("open-dialog", Area);
                QMetaObject::invokeMethod(Dialog, "accept", Qt::QueuedConnection);
            });
            return true;
        });
        Window.findChild<QAction*>("acnAddFiles")->trigger();
        Window.FileList()->setCurrentItem(Window.FileList()->topLevelItem(1));
        Grab("main-window", Window.frameGeometry());

        // The About box, then closed with its button.
        Poll([&] {
            auto* Box = QApplication::activeModalWidget();
            if (!Box || Box->objectName() != "AboutForm")
                return false;
            QTimer::singleShot(300, [&, Box] {
                Grab("about", Box->frameGeometry());
                Box->findChild<QPushButton*>("btnClose")->click();
            });
            return true;
        });
        Window.findChild<QAction*>("miAbout")->trigger();

        // A message box with a line break, answered No.
        Window.FileList()->topLevelItem(0)->setText(0, Window.FileList()->topLevelItem(0)->text(0));
        Poll([&] {
            auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!Box)
                return false;
            QTimer::singleShot(300, [&, Box] {
                Grab("message", Box->frameGeometry().united(Window.frameGeometry()));
                Box->button(QMessageBox::No)->click();
            });
            return true;
        });
        Window.ShowMessageBox(
            "Unable to add file /home/me/clips/broken.mpg: Unable to read the file format..\r\n"
            "Do you want to continue add other files?",
            TMessageKind::Warning, TMessageButtons::YesNo);

        // The progress dialog during a real join of the big stream, twice over.
        Window.FileList()->clear();
        Window.AddFiles({Args[2], Args[2]});
        Window.UpdateActions();
        Window.UpdateStatusBar();
        bool Shot = false;
        Poll([&] {
            auto* Progress = Window.findChild<TfrmProgress*>("frmProgress");
            if (!Progress || !Progress->isVisible())
                return false;
            QTimer::singleShot(150, [&, Progress] {
                Grab("progress", Progress->frameGeometry().united(Window.frameGeometry()));
                Shot = true;
                Progress->findChild<QPushButton*>("btnCancel")->click();
            });
            return true;
        });
        try {
            Window.JoinFiles(Temp.filePath("joined.mpeg"), false);
        } catch (const std::exception& E) {
            std::fprintf(stderr, "join failed: %s\n", E.what());
        }
        if (!Shot)
            std::fprintf(stderr, "the join ended before the progress dialog could be taken\n");
        Window.close();
    });
    return QApplication::exec();
}
