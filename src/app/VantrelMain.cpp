// The desktop program: the main window and its event loop. Files named on
// the command line (a file manager's "Open with") are added as a drop would.
#include "settings/RegLib.h"
#include "ui/MainForm.h"

#include <QApplication>
#include <QIcon>
#include <QTimer>
#include <csignal>

int main(int Argc, char** Argv)
{
    QApplication Application(Argc, Argv);
    QApplication::setApplicationName("Vantrel");
    QApplication::setOrganizationName("zentrova");
    QApplication::setWindowIcon(QIcon(":/icons/vantrel.svg"));
    // A write to a closed pipe or past a file-size limit comes back as an
    // error with its reason instead of ending the program.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);

    const vantrel::TProductInfo ProductInfo;
    vantrel::TfrmMain frmMain(ProductInfo);
    frmMain.show();
    const QStringList Files = QApplication::arguments().mid(1);
    if (!Files.isEmpty())
        QTimer::singleShot(0, &frmMain, [&frmMain, Files] { frmMain.OpenFiles(Files); });
    return QApplication::exec();
}
