// vantrel-cli: probe and join MPEG-1 files from a terminal or a script, with
// the same rules as the desktop program.
#include "io/SysUtils.h"
#include "join/Joiner.h"
#include "join/Progress.h"
#include "probe/JoinRules.h"
#include "probe/MPEGInfo.h"
#include "probe/MediaJson.h"
#include "probe/MediaText.h"

#include "io/OutputFile.h"

#include <algorithm>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace vantrel;

namespace {

constexpr int ExitOk = 0, ExitFailure = 1, ExitUsage = 2;

const char* const Usage =
    "Usage: vantrel-cli info [--json] [--] FILE...\n"
    "       vantrel-cli join -o OUTPUT [--video-only] [--no-recalc-timecodes] [--] FILE...\n"
    "       vantrel-cli --help | --version\n"
    "\n"
    "Run 'vantrel-cli COMMAND --help' for what a command does.\n";

const char* const InfoUsage =
    "Usage: vantrel-cli info [--json] [--] FILE...\n"
    "\n"
    "Shows what the file list of Vantrel shows for each file: frame size, frame\n"
    "rate, status against the first file, kind, duration and the first audio\n"
    "stream. A transport stream shows every sound stream of its program, and\n"
    "then each program (its number, channel name, PMT and PCR PIDs) with every\n"
    "stream (PID, codec, format, languages; subtitles and teletext too). A file\n"
    "that cannot be used shows why.\n"
    "  --json    one JSON document instead of text; a transport stream adds\n"
    "            packet_size, program and programs (with their streams)\n"
    "Exit status: 0 when every file could be read, 1 otherwise, 2 on a usage error.\n";

const char* const JoinUsage =
    "Usage: vantrel-cli join -o OUTPUT [--video-only] [--no-recalc-timecodes] [--] FILE...\n"
    "\n"
    "Joins the files, in the order given, into OUTPUT (written as named). Files\n"
    "whose video differs cannot be joined; files whose audio differs can be\n"
    "joined only without audio: give --video-only. A video elementary stream\n"
    "has no audio, so among files with sound it needs --video-only too; among\n"
    "files without sound it is joined as video without asking.\n"
    "  -o, --output FILE        the file to write; an existing file is replaced\n"
    "                           only when the join has succeeded\n"
    "  --video-only             write only the video, as one elementary stream\n"
    "  --no-recalc-timecodes    copy time stamps unchanged instead of re-stamping\n"
    "\n"
    "OUTPUT may also be a pipe, a device or standard output (-o - or -o\n"
    "/dev/stdout): it is then written directly, appending where the shell opened\n"
    "it to append (>>). On a terminal a progress bar shows on standard error;\n"
    "when OUTPUT is standard error, the join says nothing, and only its exit\n"
    "status tells how it went.\n"
    "Ctrl-C, SIGTERM and SIGHUP stop a join and leave OUTPUT as it was (a pipe\n"
    "or a device keeps what it was given).\n"
    "Exit status: 0 success, 1 failure, 2 usage error, 128 + the signal's number\n"
    "when a signal stopped the join.\n";

// Messages use CR LF line breaks; a terminal wants LF, and the names in them
// shown as Printable shows them.
std::string ForTerminal(std::string Text)
{
    for (std::size_t At; (At = Text.find("\r\n")) != std::string::npos;)
        Text.erase(At, 1);
    return PrintableText(Text, true);
}

// True while standard error is where the output goes (-o /dev/stderr, or
// -o - with 2>&1): the messages of the join are then left out, so that
// none of them lands in the middle of the stream.
bool MessagesToOutput = false;

void Say(const char* Fmt, ...) __attribute__((format(printf, 1, 2)));
void Say(const char* Fmt, ...)
{
    if (MessagesToOutput)
        return;
    va_list Args;
    va_start(Args, Fmt);
    std::vfprintf(stderr, Fmt, Args);
    va_end(Args);
}

// Ends a sentence with one full stop, also after a message that has its own.
std::string Sentence(const std::string& Text)
{
    return !Text.empty() && Text.back() == '.' ? Text : Text + ".";
}

int Fail(const std::string& Message)
{
    Say("vantrel-cli: %s\n", ForTerminal(Message).c_str());
    return ExitFailure;
}

int UsageError(const std::string& Message, const char* Text = Usage)
{
    std::fprintf(stderr, "vantrel-cli: %s\n\n%s", Message.c_str(), Text);
    return ExitUsage;
}

// Splits the arguments of a command into options (before "--") and files.
struct TArguments
{
    std::vector<std::string> Options;
    std::vector<std::string> Files;
};

int Info(const std::vector<std::string>& Options, const std::vector<std::string>& Files)
{
    bool Json = false;
    for (const std::string& Option : Options) {
        if (Option == "--json")
            Json = true;
        else
            return UsageError("unknown option " + Option, InfoUsage);
    }
    if (Files.empty())
        return UsageError("info needs at least one file", InfoUsage);
    int Result = ExitOk;
    std::optional<TMediaInfo> Reference;
    std::vector<std::string> Entries;
    for (const std::string& File : Files) {
        TMediaInfo Info;
        try {
            ProbeMediaFile(File, Info);
        } catch (const Exception& E) {
            Result = ExitFailure;
            if (Json)
                Entries.push_back("{" + JsonFile(File) + ", \"error\": " + JsonString(ForTerminal(E.what())) +
                                  "}");
            else
                std::printf("%s\n  %s\n", PrintableText(File).c_str(), ForTerminal(E.what()).c_str());
            continue;
        }
        // As in the file list, the first file that can be added is the reference.
        if (!Reference)
            Reference = Info;
        if (Json) {
            Entries.push_back(InfoJson(File, Info, *Reference));
            continue;
        }
        const std::string Duration = DurationText(Info.Duration);
        // MPEG-2 video says its shape and version after its rate.
        const std::string Video = VideoText(Info);
        const std::size_t Fps = Video.find(" fps") + 4;
        std::printf("%s\n  %d x %d  %.2f fps%s  %s  %s  %s  audio: %s\n", PrintableText(File).c_str(),
                    Info.Width, Info.Height, Info.FrameRate,
                    Fps < Video.size() ? ("  " + Video.substr(Fps + 1)).c_str() : "",
                    FormatMatchText(CompareMediaInfo(*Reference, Info)), KindText(Info).c_str(),
                    Duration.empty() ? "?" : Duration.c_str(), AudioText(Info).c_str());
        if (const std::string Detail = VideoDetailText(Info); !Detail.empty())
            std::printf("  %s%s\n", Detail.c_str(),
                        Info.Subpictures ? Format("; subpicture streams: %u", Info.Subpictures).c_str() : "");
        std::istringstream Programs(TransportText(Info));
        for (std::string Line; std::getline(Programs, Line);)
            std::printf("  %s\n", Line.c_str());
        std::istringstream Why(DifferenceText(*Reference, Info));
        for (std::string Line; std::getline(Why, Line);)
            std::printf("  %s\n", Line.c_str());
    }
    if (Json) {
        std::printf("{\"files\": [");
        for (std::size_t I = 0; I < Entries.size(); ++I)
            std::printf("%s\n  %s", I ? "," : "", Entries[I].c_str());
        std::printf("\n]}\n");
    }
    return Result;
}

volatile std::sig_atomic_t Interrupted = 0;

void OnStopSignal(int Signal)
{
    Interrupted = Signal;
}

// Ctrl-C, SIGTERM and SIGHUP ask a join to stop. Without SA_RESTART a write
// that waits on a full pipe returns, so the join notices at once. SIGPIPE and
// SIGXFSZ would end the program silently: ignored, their errors come back as
// messages ("Broken pipe", "File too large").
void InstallSignalHandlers()
{
    struct sigaction Action
    {
    };
    Action.sa_handler = OnStopSignal;
    sigemptyset(&Action.sa_mask);
    for (int Signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(Signal, &Action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
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
    // Every stop here is a signal, not a choice to keep half a file.
    bool KeepsStoppedWork() override { return false; }

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

int Join(const std::vector<std::string>& Options, const std::vector<std::string>& Files)
{
    std::string Output;
    bool VideoOnly = false, Recalc = true;
    for (std::size_t I = 0; I < Options.size(); ++I) {
        const std::string& Arg = Options[I];
        if (Arg == "-o" || Arg == "--output") {
            if (++I == Options.size())
                return UsageError(Arg + " needs a file name", JoinUsage);
            Output = Options[I];
        } else if (Arg.rfind("--output=", 0) == 0) {
            Output = Arg.substr(9);
        } else if (Arg == "--video-only") {
            VideoOnly = true;
        } else if (Arg == "--no-recalc-timecodes") {
            Recalc = false;
        } else {
            return UsageError("unknown option " + Arg, JoinUsage);
        }
    }
    if (Output.empty())
        return UsageError("join needs an output file (-o OUTPUT)", JoinUsage);
    if (Output == "-")
        Output = "/dev/stdout";
    if (Files.empty())
        return UsageError("join needs at least one input file", JoinUsage);
    MessagesToOutput = WritesInto(STDERR_FILENO, Output);

    // One probe per file: the joiner trusts these records while the files
    // stay as they were.
    std::vector<TInputRecord> Inputs;
    for (const std::string& File : Files) {
        try {
            Inputs.push_back(ProbeInput(File, false));
        } catch (const Exception& E) {
            return Fail(Sentence("Unable to add file " + File + ": " + E.what()));
        }
    }
    const TJoinDecision Decision = DecideJoin(Inputs);
    switch (Decision.Verdict) {
    case TJoinVerdict::Refuse: return Fail(Decision.Message);
    case TJoinVerdict::AskVideoOnly:
        if (!VideoOnly)
            return Fail(Decision.Message + " Give --video-only to join them without audio.");
        break;
    case TJoinVerdict::JoinVideoOnly:
        if (!VideoOnly)
            Say("vantrel-cli: a video elementary stream is among the files: joining video only.\n");
        VideoOnly = true;
        break;
    case TJoinVerdict::Join: break;
    }
    // The shape is the last thing a difference names.
    for (std::size_t I = 1; I < Files.size(); ++I)
        if (AspectRatioDiffers(Inputs[0].Info, Inputs[I].Info)) {
            const std::string Why = DifferenceText(Inputs[0].Info, Inputs[I].Info);
            Say("vantrel-cli: warning: %s: %s.\n", PrintableText(Files[I]).c_str(),
                Why.substr(Why.rfind('\n') + 1).c_str());
        }

    InstallSignalHandlers();
    TJoiner Joiner;
    Joiner.Inputs = std::move(Inputs);
    Joiner.OutputFileName = Output;
    Joiner.VideoOnly = VideoOnly;
    Joiner.RecalcTimecodes = Recalc;
    Joiner.FrameRate = Decision.FrameRate;
    const bool OnTerminal = ::isatty(STDERR_FILENO) && !MessagesToOutput;
    Joiner.CreateProgress = [OnTerminal] { return std::make_unique<TTerminalProgress>(OnTerminal); };
    try {
        Joiner.Execute();
    } catch (const Exception& E) {
        return Fail("Join fails: " + std::string(E.what()));
    }
    if (Joiner.Cancelled()) {
        Say("vantrel-cli: stopped by a signal; the join is not finished, and %s was not replaced.\n",
            PrintableText(Output).c_str());
        return 128 + (Interrupted ? Interrupted : SIGINT);
    }
    // Where each later file begins, and what it took there; on standard
    // error, so that an output written to standard output stays clean.
    const TJoinPlan& Plan = Joiner.Plan();
    for (std::size_t I = 1; Recalc && !VideoOnly && I < Plan.Files.size(); ++I) {
        const TFilePlan& File = Plan.Files[I];
        std::string Line =
            Format("vantrel-cli: %s %s at %s", PrintableText(Files[I]).c_str(),
                   File.Continues ? "continues the recording" : "starts", DurationText(File.Time).c_str());
        if (File.Joint.Pause > 0)
            Line += Format(", after a pause of %.3f s for the decoder's buffers", File.Pause());
        if (!File.Joint.Holds)
            Line += "; the decoder's buffers could not be kept within their sizes there";
        Say("%s.\n", Line.c_str());
    }
    return ExitOk;
}

TArguments SplitArguments(const std::vector<std::string>& Args)
{
    TArguments Result;
    bool FilesOnly = false;
    for (std::size_t I = 0; I < Args.size(); ++I) {
        const std::string& Arg = Args[I];
        if (FilesOnly || Arg == "-" || Arg.empty() || Arg[0] != '-') {
            Result.Files.push_back(Arg);
        } else if (Arg == "--") {
            FilesOnly = true;
        } else {
            Result.Options.push_back(Arg);
            // The one option that takes a value.
            if ((Arg == "-o" || Arg == "--output") && I + 1 < Args.size())
                Result.Options.push_back(Args[++I]);
        }
    }
    return Result;
}

bool WantsHelp(const TArguments& Arguments)
{
    return std::any_of(Arguments.Options.begin(), Arguments.Options.end(),
                       [](const std::string& Option) { return Option == "--help" || Option == "-h"; });
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
    if (Command != "info" && Command != "join")
        return UsageError("unknown command " + Command);
    const TArguments Arguments = SplitArguments({Args.begin() + 1, Args.end()});
    if (WantsHelp(Arguments)) {
        std::fputs(Command == "info" ? InfoUsage : JoinUsage, stdout);
        return ExitOk;
    }
    try {
        return Command == "info" ? Info(Arguments.Options, Arguments.Files)
                                 : Join(Arguments.Options, Arguments.Files);
    } catch (const std::bad_alloc&) {
        return Fail("Not enough memory to join the files.");
    } catch (const std::exception& E) {
        return Fail(E.what());
    }
}
