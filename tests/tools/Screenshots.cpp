// Takes screenshots of the real windows for the README and for review: the
// main window with files, the open dialog, the save dialog with its chapter
// list option, the About box, message boxes and warnings, the progress
// dialog in the middle of a real join, and the window after a join. Run under xvfb-run by
// scripts/screenshots.
//
// Usage: vantrel-screenshots OUTDIR BIG_STREAM STREAM...
#include "ui/FileDlg.h"
#include "ui/MainForm.h"
#include "ui/ProgressDlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolTip>
#include <cstdio>
#include <memory>

using namespace vantrel;

namespace {

QString OutDir;

void Grab(const QString& Name, const QRect& Area)
{
    QApplication::processEvents();
    const QPixmap Screen = QGuiApplication::primaryScreen()->grabWindow(0);
    // The grab is in the screen's pixels; Area in Qt's, which a scale factor
    // or a font DPI makes larger.
    const qreal Ratio = Screen.devicePixelRatio();
    const QRect Logical = Area.adjusted(-8, -30, 8, 8);
    const QPixmap Shot = Screen.copy(
        QRect((QPointF(Logical.topLeft()) * Ratio).toPoint(), (QSizeF(Logical.size()) * Ratio).toSize()));
    const QString File = OutDir + "/" + Name + ".png";
    if (!Shot.save(File))
        std::fprintf(stderr, "cannot save %s\n", qPrintable(File));
    else
        std::printf("%s\n", qPrintable(File));
}

// Runs Check every 50 ms until it returns true; the timer, to stop it
// sooner.
QTimer* Poll(std::function<bool()> Check)
{
    auto* Timer = new QTimer;
    QObject::connect(Timer, &QTimer::timeout, [Timer, Check] {
        if (Check())
            Timer->deleteLater();
    });
    Timer->start(50);
    return Timer;
}

// Grabs the next message box as Name, with Around, and presses Button.
void GrabNextBox(const QString& Name, QWidget& Around, QMessageBox::StandardButton Button)
{
    Poll([&Around, Name, Button] {
        auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!Box)
            return false;
        QTimer::singleShot(300, [&Around, Name, Button, Box] {
            Grab(Name, Box->frameGeometry().united(Around.frameGeometry()));
            Box->button(Button)->click();
        });
        return true;
    });
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
        // The list settles first: its columns fit the rows just added.
        for (QElapsedTimer Settle; !Settle.isValid() || Settle.elapsed() < 300;) {
            if (!Settle.isValid())
                Settle.start();
            QApplication::processEvents();
        }
        // A row whose sound differs, with the tip that says why.
        TFileListView* List = Window.FileList();
        int Differs = 1;
        for (int Row = 1; Row < List->Count(); ++Row)
            if (List->StatusText(Row) == "Audio Differ")
                Differs = Row;
        List->clearSelection();
        List->SelectRow(Differs);
        const QModelIndex Status = List->Model().index(Differs, lcStatus);
        const QRect Cell = List->visualRect(Status);
        const QPoint Tip = List->viewport()->mapToGlobal(
            QPoint(List->header()->sectionPosition(lcStatus) + 20, Cell.center().y()));
        QToolTip::showText(Tip, Status.data(Qt::ToolTipRole).toString(), List->viewport());
        QApplication::processEvents();
        // The whole screen: how the window fits it shows too.
        Grab("main-window", QGuiApplication::primaryScreen()->geometry().adjusted(8, 30, -8, -8));
        QToolTip::hideText();

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

        // A file that cannot be added, answered No.
        GrabNextBox("message", Window, QMessageBox::No);
        Window.ShowMessageBox("Unable to add file /home/me/clips/broken.mpg: Unable to find video stream.\r\n"
                              "Do you want to continue add other files?",
                              TMessageKind::Warning, TMessageButtons::YesNo);

        // An output name typed with another extension, whose name with the
        // extension of the output exists.
        GrabNextBox("replace-question", Window, QMessageBox::No);
        Window.ShowMessageBox("holiday.avi.mpg already exists.\r\nDo you want to replace it?",
                              TMessageKind::Warning, TMessageButtons::YesNo, TMessageAnswer::No);

        // The progress dialog during a real join of the big stream, twice over,
        // with a close of the main window asked about on the way.
        Window.Edits().Clear(List->Count());
        Window.AddFiles({Args[2], Args[2]});
        while (Window.IsAdding())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        // The flag outlives this function: the grab may come after it.
        const auto Shot = std::make_shared<bool>(false);
        QPointer<QTimer> Watch = Poll([&, Shot] {
            auto* Progress = Window.findChild<TfrmProgress*>("frmProgress");
            if (!Progress || !Progress->isVisible())
                return false;
            // Soon: a join of a stream in the page cache takes about a second.
            QTimer::singleShot(150, Progress, [&, Shot, Progress] {
                Grab("progress", Progress->frameGeometry().united(Window.frameGeometry()));
                *Shot = true;
                GrabNextBox("close-during-join", Window, QMessageBox::No);
                Window.close();
            });
            return true;
        });
        // The output's name in the real save dialog, with a chapter list.
        Poll([&] {
            auto* Dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!Dialog)
                return false;
            Dialog->setDirectory(Temp.path());
            Dialog->findChild<QLineEdit*>("fileNameEdit")->setText("holiday.mpg");
            if (auto* Option = Dialog->findChild<QCheckBox*>("chkOption"))
                Option->setChecked(true);
            QTimer::singleShot(300, [Dialog, Area = Dialog->frameGeometry()] {
                Grab("save-dialog", Area);
                QMetaObject::invokeMethod(Dialog, "accept", Qt::QueuedConnection);
            });
            return true;
        });
        Window.findChild<QAction*>("acnJoinFile")->trigger();
        if (!*Shot) {
            delete Watch; // the dialog is gone: nothing left to wait for
            std::fprintf(stderr, "the join ended before the progress dialog could be taken\n");
        }

        // After the join: where it went, and the command that shows it.
        Poll([&] {
            auto* Menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!Menu)
                return false;
            QTimer::singleShot(300, [&, Menu] {
                Grab("joined", Window.frameGeometry().united(Menu->geometry()));
                Menu->close();
            });
            return true;
        });
        QMenu* File = Window.menuBar()->findChild<QMenu*>("miFile");
        File->popup(
            Window.menuBar()->mapToGlobal(Window.menuBar()->actionGeometry(File->menuAction()).bottomLeft()));
        QTimer::singleShot(1500, [&] {
            // Damaged settings at the next start: one warning names them all.
            QSettings Store(QSettings::NativeFormat, QSettings::UserScope, "zentrova", "vantrel");
            Store.setValue("forms/frmMain/Width", "wide");
            Store.setValue("forms/frmMain/WindowState", "max");
            Store.sync();
            Window.hide();
            Poll([] {
                auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (!Box)
                    return false;
                QTimer::singleShot(300, [Box] {
                    Grab("settings-warning", Box->frameGeometry());
                    Box->button(QMessageBox::Ok)->click();
                });
                return true;
            });
            TfrmMain Next{TProductInfo{}};
            QApplication::quit();
        });
    });
    return QApplication::exec();
}
