// The desktop program: the main window and its event loop.
#include "settings/RegLib.h"
#include "ui/MainForm.h"

#include <QApplication>
#include <QIcon>

int main(int Argc, char** Argv)
{
    QApplication Application(Argc, Argv);
    QApplication::setApplicationName("Vantrel");
    QApplication::setOrganizationName("zentrova");
    QApplication::setWindowIcon(QIcon(":/icons/vantrel.svg"));

    const vantrel::TProductInfo ProductInfo;
    vantrel::TfrmMain frmMain(ProductInfo);
    frmMain.show();
    return QApplication::exec();
}
