// Times a join through the real progress dialog against the same join with a
// sink that does nothing, alternately in one process, so the cost of the
// dialog (repainting, delivering events while the join runs) shows as a ratio;
// or times dropping many files on the main window, until the list is filled.
//
// Usage: vantrel-guibench RUNS OUTPUT INPUT...   (under a display, e.g. xvfb-run)
//        vantrel-guibench --drop FILE...
#include "join/Joiner.h"
#include "probe/MPEGInfo.h"
#include "ui/MainForm.h"
#include "ui/ProgressDlg.h"

#include <QApplication>
#include <QMainWindow>
#include <QMimeData>
#include <QSettings>
#include <QTemporaryDir>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <cstdio>

using namespace vantrel;

namespace {

class TQuietProgress : public TProgressSink
{
public:
    void SetCaption(const std::string&) override {}
    void SetText(const std::string&) override {}
    void Show() override {}
    void SetPosition(std::int32_t) override {}
    bool IsCancelled() override { return false; }
};

double Median(std::vector<double> Values)
{
    std::sort(Values.begin(), Values.end());
    return Values[Values.size() / 2];
}

// Drops the files on a shown main window, as a file manager does, and prints
// how long the list took to fill.
int TimeDrop(const QStringList& Files)
{
    QTemporaryDir Settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, Settings.path());
    TfrmMain Window{TProductInfo{}};
    Window.show();
    QApplication::processEvents();
    QList<QUrl> Urls;
    for (const QString& File : Files)
        Urls << QUrl::fromLocalFile(File);
    QMimeData Drop;
    Drop.setUrls(Urls);
    const auto Start = std::chrono::steady_clock::now();
    Window.WMDropFiles(Drop);
    // The list fills from the event loop, painting as it goes.
    while (Window.IsAdding())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
    std::printf("drop %d rows %.3f\n", Window.FileList()->Count(), Seconds);
    return Window.FileList()->Count() == Files.size() ? 0 : 1;
}

} // namespace

int main(int Argc, char** Argv)
{
    QApplication Application(Argc, Argv);
    if (Argc > 2 && std::string(Argv[1]) == "--drop")
        return TimeDrop(QApplication::arguments().mid(2));
    if (Argc < 4) {
        std::fprintf(stderr, "usage: vantrel-guibench RUNS OUTPUT INPUT...\n");
        return 2;
    }
    const int Runs = std::max(1, std::atoi(Argv[1]));
    QMainWindow Window;
    Window.resize(483, 354);
    Window.show();
    QApplication::processEvents();

    TMediaInfo Info;
    ProbeMediaFile(Argv[3], Info);
    std::vector<double> Gui, Plain;
    for (int Run = 0; Run < Runs; ++Run) {
        for (bool WithDialog : {true, false}) {
            TJoiner Joiner;
            for (int I = 3; I < Argc; ++I)
                Joiner.Inputs.push_back(ProbeInput(Argv[I], false));
            Joiner.OutputFileName = Argv[2];
            Joiner.RecalcTimecodes = true;
            Joiner.FrameRate = Info.FrameRate;
            if (WithDialog)
                Joiner.CreateProgress = [&] { return std::make_unique<TfrmProgress>(&Window); };
            else
                Joiner.CreateProgress = [] { return std::make_unique<TQuietProgress>(); };
            const auto Start = std::chrono::steady_clock::now();
            Joiner.Execute();
            const double Seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
            (WithDialog ? Gui : Plain).push_back(Seconds);
        }
    }
    std::printf("gui %.3f plain %.3f ratio %.2f\n", Median(Gui), Median(Plain), Median(Gui) / Median(Plain));
    return 0;
}
