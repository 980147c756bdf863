// The desktop program: the main window and its event loop. Files named on
// the command line (a file manager's "Open with") are added as a drop would,
// to the window already open when there is one.
#include "settings/SettingsStore.h"
#include "ui/Instance.h"
#include "ui/MainForm.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace {

// A signal only writes its number here; the event loop reads it and ends
// the program in order, a join under way included.
int SignalPipe[2] = {-1, -1};
volatile std::sig_atomic_t EndingSignal = 0;

void OnEndSignal(int Signal)
{
    EndingSignal = Signal;
    const char Byte = static_cast<char>(Signal);
    [[maybe_unused]] const ssize_t Written = ::write(SignalPipe[1], &Byte, 1);
}

} // namespace

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

    // Named files are read from where this start was made.
    QStringList Files;
    for (const QString& Name : QApplication::arguments().mid(1))
        Files << QFileInfo(Name).absoluteFilePath();
    const QString Instance = vantrel::InstanceName();
    if (vantrel::SendToRunningInstance(Instance, Files))
        return 0;

    const vantrel::TProductInfo ProductInfo;
    vantrel::TfrmMain frmMain(ProductInfo);
    frmMain.show();
    // Files handed over during a join wait for its end.
    QStringList Pending;
    QTimer AddPending;
    AddPending.setInterval(100);
    QObject::connect(&AddPending, &QTimer::timeout, &frmMain, [&] {
        if (frmMain.IsJoining())
            return;
        AddPending.stop();
        frmMain.OpenFiles(std::exchange(Pending, {}));
    });
    const vantrel::TInstanceServer Server(Instance, [&](const QStringList& More) {
        Pending << More;
        if (!Pending.isEmpty())
            AddPending.start();
        frmMain.raise();
        frmMain.activateWindow();
    });
    if (::pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        auto* Notifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, &frmMain);
        QObject::connect(Notifier, &QSocketNotifier::activated, &frmMain, [&frmMain] {
            char Byte;
            while (::read(SignalPipe[0], &Byte, 1) == 1) {
            }
            frmMain.Terminate();
        });
        struct sigaction Action
        {
        };
        Action.sa_handler = OnEndSignal;
        sigemptyset(&Action.sa_mask);
        Action.sa_flags = SA_RESTART;
        for (const int Signal : {SIGINT, SIGTERM, SIGHUP})
            sigaction(Signal, &Action, nullptr);
    }
    if (!Files.isEmpty())
        QTimer::singleShot(0, &frmMain, [&frmMain, Files] { frmMain.OpenFiles(Files); });
    const int Status = QApplication::exec();
    return EndingSignal ? 128 + EndingSignal : Status;
}
