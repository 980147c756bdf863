// The desktop program: the main window and its event loop. Files named on
// the command line (a file manager's "Open with") are added as a drop would,
// to the window already open on this display when there is one.
#include "settings/SettingsStore.h"
#include "ui/Instance.h"
#include "ui/MainForm.h"

#include <QApplication>
#include <QIcon>
#include <QSocketNotifier>
#include <QTimer>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace {

const char* const Usage = "Usage: vantrel [--] [FILE]...\n"
                          "\n"
                          "Opens the window of Vantrel with the files in its list. When the window\n"
                          "is open already on this display, the files are handed to it instead and\n"
                          "it comes to the front.\n"
                          "  --help       this text\n"
                          "  --version    the program's version\n";

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

// --help and --version are answered on the terminal before any window or
// display is looked for; a name after "--" is a name, whatever it says.
std::optional<int> AnswerTerminal(int Argc, char** Argv)
{
    for (int I = 1; I < Argc && std::strcmp(Argv[I], "--") != 0; ++I) {
        if (std::strcmp(Argv[I], "--help") == 0 || std::strcmp(Argv[I], "-h") == 0) {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (std::strcmp(Argv[I], "--version") == 0) {
            std::printf("Vantrel %s\n", VANTREL_VERSION);
            return 0;
        }
    }
    return std::nullopt;
}

// The names as given, bytes as the system has them (Qt's own options are
// gone by now); nullopt, said on standard error, for an option we do not know.
std::optional<QList<QByteArray>> NamedFiles(int Argc, char** Argv)
{
    QList<QByteArray> Names;
    bool Options = true;
    for (int I = 1; I < Argc; ++I) {
        const QByteArray Argument(Argv[I]);
        if (Options && Argument == "--") {
            Options = false;
        } else if (Options && Argument.startsWith('-') && Argument != "-") {
            std::fprintf(stderr, "vantrel: unknown option %s\n\n%s", Argv[I], Usage);
            return std::nullopt;
        } else {
            Names << Argument;
        }
    }
    return Names;
}

QByteArray WorkingFolder()
{
    char Folder[PATH_MAX];
    return ::getcwd(Folder, sizeof Folder) ? QByteArray(Folder) : QByteArray();
}

} // namespace

int main(int Argc, char** Argv)
{
    if (const std::optional<int> Status = AnswerTerminal(Argc, Argv))
        return *Status;
    QApplication Application(Argc, Argv);
    QApplication::setApplicationName("Vantrel");
    QApplication::setOrganizationName("zentrova");
    QApplication::setWindowIcon(QIcon(":/icons/vantrel.svg"));
    // A write to a closed pipe or past a file-size limit comes back as an
    // error with its reason instead of ending the program.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    const std::optional<QList<QByteArray>> Names = NamedFiles(Argc, Argv);
    if (!Names)
        return 2;

    // Named files are read from where this start was made.
    const QByteArray Message = vantrel::HandOverMessage(WorkingFolder(), *Names);
    const QString Instance = vantrel::InstanceName();
    std::optional<vantrel::TInstanceLock> Lock;
    if (!Instance.isEmpty())
        Lock.emplace(Instance);
    if (vantrel::SendToRunningInstance(Instance, Message))
        return 0;
    // Listening before the window is made: a start now waits for this one,
    // and the names it hands over wait for the window.
    vantrel::TfrmMain* Window = nullptr;
    QStringList Early = vantrel::HandedOverNames(Message);
    const vantrel::TInstanceServer Server(Instance, [&](const QStringList& More) {
        if (Window)
            Window->HandOver(More);
        else
            Early << More;
    });
    Lock.reset();

    const vantrel::TProductInfo ProductInfo;
    vantrel::TfrmMain frmMain(ProductInfo);
    frmMain.show();
    Window = &frmMain;
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
    if (!Early.isEmpty())
        QTimer::singleShot(0, &frmMain, [&frmMain, Early] { frmMain.HandOver(Early); });
    const int Status = QApplication::exec();
    return EndingSignal ? 128 + EndingSignal : Status;
}
