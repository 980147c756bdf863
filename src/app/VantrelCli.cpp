// vantrel-cli: probe and join MPEG-1 files from a terminal or a script, with
// the same rules as the desktop program.
#include "join/Progress.h"
#include "join/Vantrel.h"
#include "media/MPEGInfo.h"
#include "media/SysUtils.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using namespace vantrel;

namespace {

constexpr int ExitOk = 0, ExitFailure = 1, ExitUsage = 2, ExitCancelled = 130;

const char* const Usage = "Usage: vantrel-cli info FILE...\n"
                          "       vantrel-cli join -o OUTPUT [--video-only] [--no-recalc-timecodes] FILE...\n"
                          "       vantrel-cli --help | --version\n"
                          "\n"
                          "info   shows what the file list of Vantrel shows for each file: frame size,\n"
                          "       frame rate, status against the first file, and the first audio stream.\n"
                          "join   joins the files, in the order given, into OUTPUT (written as named).\n"
                          "       Files whose video differs cannot be joined; files whose audio differs\n"
                          "       can be joined only without audio (--video-only). A video elementary\n"
                          "       stream among the files makes the join video-only.\n"
                          "  -o, --output FILE        the file to write\n"
                          "  --video-only             write only the video, as one elementary stream\n"
                          "  --no-recalc-timecodes    copy time stamps unchanged instead of re-stamping\n"
                          "\n"
                          "On a terminal a progress bar shows on standard error; Ctrl-C cancels a join\n"
                          "and keeps what was written so far (exit status 130).\n"
                          "Exit status: 0 success, 1 failure, 2 usage error.\n";

// Messages use CR LF line breaks; a terminal wants LF.
std::string ForTerminal(std::string Text)
{
    for (std::size_t At; (At = Text.find("\r\n")) != std::string::npos;)
        Text.erase(At, 1);
    return Text;
}

int Fail(const std::string& Message)
{
    std::fprintf(stderr, "vantrel-cli: %s\n", ForTerminal(Message).c_str());
    return ExitFailure;
}

int UsageError(const std::string& Message)
{
    std::fprintf(stderr, "vantrel-cli: %s\n\n%s", Message.c_str(), Usage);
    return ExitUsage;
}

std::string FullPath(const std::string& Name)
{
    std::error_code Error;
    const std::filesystem::path Path = std::filesystem::absolute(Name, Error);
    return Error ? Name : Path.lexically_normal().string();
}

std::string AudioText(const TMediaInfo& Info)
{
    if (!Info.HasAudio)
        return "none";
    if (Info.AudioLayer == 0)
        return "no valid frame header";
    static const char* const Layers[] = {"", "I", "II", "III"};
    return Format("layer %s, %d Hz, %s", Layers[Info.AudioLayer], Info.SampleRate,
                  ChannelModeName(Info.ChannelMode));
}

int Info(const std::vector<std::string>& Files)
{
    if (Files.empty())
        return UsageError("info needs at least one file");
    int Result = ExitOk;
    std::optional<TMediaInfo> Reference;
    for (const std::string& File : Files) {
        const std::string Path = FullPath(File);
        TMediaInfo Info;
        try {
            ProbeMediaFile(Path, Info);
        } catch (const Exception& E) {
            std::printf("%s\n  %s\n", Path.c_str(), ForTerminal(E.what()).c_str());
            Result = ExitFailure;
            continue;
        }
        // As in the file list, the first file that can be added is the reference.
        if (!Reference)
            Reference = Info;
        std::printf("%s\n  %d x %d  %.2f fps  %s  %s  audio: %s\n", Path.c_str(), Info.Width, Info.Height,
                    Info.FrameRate, FormatMatchText(CompareMediaInfo(*Reference, Info)),
                    Info.IsSystemStream ? "system stream" : "video stream", AudioText(Info).c_str());
    }
    return Result;
}

volatile std::sig_atomic_t Interrupted = 0;

void OnInterrupt(int)
{
    Interrupted = 1;
}

// A one-line bar on standard error while the join runs on a terminal.
class TTerminalProgress : public TProgressSink
{
public:
    explicit TTerminalProgress(bool Visible) : m_Visible(Visible) {}
    ~TTerminalProgress() override
    {
        if (m_Shown)
            std::fputc('\n', stderr);
    }
    void SetCaption(const std::string& Text) override { m_Caption = Text; }
    void SetText(const std::string&) override {}
    void Show() override
    {
        m_Shown = m_Visible;
        Draw();
    }
    void SetPosition(std::int32_t Percent) override
    {
        if (Percent == m_Percent)
            return;
        m_Percent = Percent;
        if (auto Text = m_Estimate.Update(Percent))
            m_Remaining = *Text;
        Draw();
    }
    bool IsCancelled() override { return Interrupted != 0; }

private:
    void Draw()
    {
        if (!m_Shown)
            return;
        constexpr int Width = 30;
        const int Filled = std::clamp(m_Percent, 0, 100) * Width / 100;
        std::fprintf(stderr, "\r%s [%s%s] %3d%%  %-28s", m_Caption.c_str(), std::string(Filled, '#').c_str(),
                     std::string(Width - Filled, '-').c_str(), m_Percent, m_Remaining.c_str());
        std::fflush(stderr);
    }

    bool m_Visible;
    bool m_Shown = false;
    std::string m_Caption;
    std::string m_Remaining;
    std::int32_t m_Percent = 0;
    TTimeEstimate m_Estimate;
};

int Join(const std::vector<std::string>& Args)
{
    std::string Output;
    bool VideoOnly = false, Recalc = true;
    std::vector<std::string> Files;
    for (std::size_t I = 0; I < Args.size(); ++I) {
        const std::string& Arg = Args[I];
        if (Arg == "-o" || Arg == "--output") {
            if (++I == Args.size())
                return UsageError(Arg + " needs a file name");
            Output = Args[I];
        } else if (Arg.rfind("--output=", 0) == 0) {
            Output = Arg.substr(9);
        } else if (Arg == "--video-only") {
            VideoOnly = true;
        } else if (Arg == "--no-recalc-timecodes") {
            Recalc = false;
        } else if (Arg == "--") {
            Files.insert(Files.end(), Args.begin() + static_cast<std::ptrdiff_t>(I) + 1, Args.end());
            break;
        } else if (Arg.size() > 1 && Arg[0] == '-') {
            return UsageError("unknown option " + Arg);
        } else {
            Files.push_back(Arg);
        }
    }
    if (Output.empty())
        return UsageError("join needs an output file (-o OUTPUT)");
    if (Files.empty())
        return UsageError("join needs at least one input file");

    std::vector<TMediaInfo> Infos(Files.size());
    for (std::size_t I = 0; I < Files.size(); ++I) {
        Files[I] = FullPath(Files[I]);
        try {
            ProbeMediaFile(Files[I], Infos[I]);
        } catch (const Exception& E) {
            return Fail("Unable to add file " + Files[I] + ": " + E.what() + ".");
        }
    }
    std::vector<const TMediaInfo*> Records;
    for (const TMediaInfo& Info : Infos)
        Records.push_back(&Info);
    const TJoinCompatibility Check = CheckJoinCompatibility(Records);
    if (Check.Worst == fmVideoDiffers)
        return Fail(VideoDiffersMessage);
    if (Check.Worst == fmAudioDiffers && !VideoOnly)
        return Fail(std::string(AudioDiffersMessage) + " Give --video-only to join them without audio.");
    if (Check.HasVideoStream && !VideoOnly) {
        std::fprintf(stderr,
                     "vantrel-cli: a video elementary stream is among the files: joining video only.\n");
        VideoOnly = true;
    }

    struct sigaction Action
    {
    };
    Action.sa_handler = OnInterrupt;
    sigaction(SIGINT, &Action, nullptr);

    TVantrel Joiner;
    Joiner.FileNames = Files;
    Joiner.OutputFileName = Output;
    Joiner.VideoOnly = VideoOnly;
    Joiner.RecalcTimecodes = Recalc;
    Joiner.FrameRate = Infos.front().FrameRate;
    const bool OnTerminal = ::isatty(STDERR_FILENO);
    Joiner.CreateProgress = [OnTerminal] { return std::make_unique<TTerminalProgress>(OnTerminal); };
    try {
        Joiner.Execute();
    } catch (const Exception& E) {
        return Fail("Join fails: " + std::string(E.what()));
    }
    if (Joiner.Cancelled()) {
        std::fprintf(stderr, "vantrel-cli: cancelled; %s holds what was joined so far.\n", Output.c_str());
        return ExitCancelled;
    }
    return ExitOk;
}

} // namespace

int main(int Argc, char** Argv)
{
    const std::vector<std::string> Args(Argv + 1, Argv + Argc);
    if (Args.empty())
        return UsageError("no command given");
    const std::string& Command = Args.front();
    if (Command == "--help" || Command == "-h" || Command == "help") {
        std::fputs(Usage, stdout);
        return ExitOk;
    }
    if (Command == "--version") {
        std::printf("Vantrel %s\n", VANTREL_VERSION);
        return ExitOk;
    }
    const std::vector<std::string> Rest(Args.begin() + 1, Args.end());
    try {
        if (Command == "info")
            return Info(Rest);
        if (Command == "join")
            return Join(Rest);
    } catch (const std::exception& E) {
        return Fail(E.what());
    }
    return UsageError("unknown command " + Command);
}
