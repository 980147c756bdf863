// vantrel-cli: probe and join MPEG files from a terminal or a script, with
// the same rules as the desktop program.
#include "app/CliUsage.h"
#include "io/SysUtils.h"
#include "join/Chapters.h"
#include "join/JoinReport.h"
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

// The options that take a value, as "-o NAME" or "--output=NAME".
bool TakesValue(const std::string& Arg)
{
    return Arg == "-o" || Arg == "--output" || Arg == "--chapters" || Arg == "--chapters-format" ||
           Arg == "--program";
}

struct TJoinOptions
{
    std::string Output, Chapters, ChaptersFormat;
    bool VideoOnly = false, Recalc = true, Json = false;
    std::uint16_t Program = 0; // of transport streams, the one kept; 0: all
};

// Empty when the options are sound; else what is wrong with them.
std::string ParseJoinOptions(const std::vector<std::string>& Options, TJoinOptions& Result)
{
    for (std::size_t I = 0; I < Options.size(); ++I) {
        std::string Arg = Options[I], Value;
        if (const std::size_t Equals = Arg.find('=');
            Arg.rfind("--", 0) == 0 && Equals != std::string::npos) {
            Value = Arg.substr(Equals + 1);
            Arg.resize(Equals);
            if (!TakesValue(Arg))
                return "unknown option " + Options[I];
        } else if (TakesValue(Arg)) {
            if (++I == Options.size())
                return Arg + " needs a " +
                       (Arg == "--chapters-format" ? "format"
                        : Arg == "--program"       ? "number"
                                                   : "file name");
            Value = Options[I];
        }
        if (Arg == "-o" || Arg == "--output")
            Result.Output = Value;
        else if (Arg == "--chapters")
            Result.Chapters = Value;
        else if (Arg == "--chapters-format")
            Result.ChaptersFormat = Value;
        else if (Arg == "--program") {
            char* End = nullptr;
            const unsigned long Number = std::strtoul(Value.c_str(), &End, 10);
            if (Value.empty() || *End != 0 || Number == 0 || Number > 0xFFFF)
                return "--program needs a program number from 1 to 65535";
            Result.Program = static_cast<std::uint16_t>(Number);
        } else if (Arg == "--video-only")
            Result.VideoOnly = true;
        else if (Arg == "--no-recalc-timecodes")
            Result.Recalc = false;
        else if (Arg == "--json")
            Result.Json = true;
        else
            return "unknown option " + Arg;
    }
    if (Result.Output.empty())
        return "join needs an output file (-o OUTPUT)";
    Result.Output = Result.Output == "-" ? "/dev/stdout" : Result.Output;
    Result.Chapters = Result.Chapters == "-" ? "/dev/stdout" : Result.Chapters;
    if (Result.Json && (WritesInto(STDOUT_FILENO, Result.Output) ||
                        (!Result.Chapters.empty() && WritesInto(STDOUT_FILENO, Result.Chapters))))
        return "--json prints the join's report on standard output: neither the output nor the chapter "
               "list can go there";
    if (Result.Chapters.empty())
        return Result.ChaptersFormat.empty() ? "" : "--chapters-format needs --chapters FILE";
    if (Result.Chapters == Result.Output)
        return "the chapter list and the output cannot be the same file";
    if (!Result.ChaptersFormat.empty() && !ChapterFormatNamed(Result.ChaptersFormat))
        return "unknown chapter list format " + Result.ChaptersFormat +
               " (txt, ffmetadata, dvdauthor or vcdimager)";
    return "";
}

// The chapter list's file, made before the join so that a name that cannot
// be written to costs no join; its format by the option or by its name.
int OpenChapterList(const TJoinOptions& Options, const std::vector<TInputRecord>& Inputs,
                    const std::vector<TInputTimes>& Times, std::optional<TChapterFormat>& Format,
                    std::unique_ptr<TOutputFile>& File)
{
    Format = Options.ChaptersFormat.empty()
                 ? ChapterFormatOf(Options.Chapters, DiscKindOf(Inputs[0], Times[0], Options.VideoOnly))
                 : ChapterFormatNamed(Options.ChaptersFormat);
    if (!Format)
        return UsageError(
            "cannot tell the format of the chapter list " + Options.Chapters +
                " by its name: give --chapters-format (txt, ffmetadata, dvdauthor or vcdimager)",
            JoinUsage);
    if (!Options.VideoOnly && !Options.Recalc)
        return UsageError("--chapters needs the time codes re-calculated: with --no-recalc-timecodes each "
                          "file keeps its own times",
                          JoinUsage);
    for (const TInputRecord& Input : Inputs)
        if (SameFile(Options.Chapters, Input.FileName))
            return Fail("The chapter list " + Options.Chapters + " is one of the files to join.");
    try {
        File = std::make_unique<TOutputFile>(Options.Chapters);
    } catch (const Exception& E) {
        return Fail(E.what());
    }
    return ExitOk;
}

// Writes the chapter list and the report, once the join is done.
int Report(const TJoinOptions& Options, const TJoiner& Joiner, const std::vector<TInputTimes>& Times,
           std::optional<TChapterFormat> Format, std::unique_ptr<TOutputFile> ChapterFile)
{
    TJoinReport Report{Options.Output, {}, {}, {}, PlaceInputs(Joiner, Times)};
    const TChapterList List =
        MakeChapterList(Joiner.Inputs, Times, Report.Placements, Options.Output, Options.VideoOnly);
    if (ChapterFile) {
        const std::string Text = ChapterText(List, *Format);
        try {
            ChapterFile->Write(Text.data(), Text.size());
            ChapterFile->Commit();
        } catch (const Exception& E) {
            return Fail(Sentence(E.what()) + " " + Options.Output + " is joined, without its chapter list.");
        }
        Report.Chapters = Options.Chapters;
    }
    if (!Options.Json)
        return ExitOk;
    Report.Duration = List.End;
    for (const TInputRecord& Input : Joiner.Inputs)
        Report.Files.push_back(Input.FileName);
    std::fputs(JoinReportJson(Report).c_str(), stdout);
    return std::fflush(stdout) == 0
               ? ExitOk
               : Fail("Unable to write the report: " + std::string(std::strerror(errno)));
}

int Join(const std::vector<std::string>& Arguments, const std::vector<std::string>& Files)
{
    TJoinOptions Options;
    if (const std::string Wrong = ParseJoinOptions(Arguments, Options); !Wrong.empty())
        return UsageError(Wrong, JoinUsage);
    const std::string& Output = Options.Output;
    bool& VideoOnly = Options.VideoOnly;
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
    // A program chosen: each file is judged by that program alone.
    TJoinDecision Decision;
    try {
        Decision = DecideJoin(InputsOfProgram(Inputs, Options.Program));
    } catch (const Exception& E) {
        return Fail(E.what());
    }
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

    // Where each file's time line and pictures start, for the report and
    // the chapters; read before the join, so that it fails first.
    std::vector<TInputTimes> Times;
    std::optional<TChapterFormat> ChapterFormat;
    std::unique_ptr<TOutputFile> ChapterFile;
    if (Options.Json || !Options.Chapters.empty()) {
        for (const TInputRecord& Input : Inputs) {
            try {
                Times.push_back(ReadInputTimes(Input));
            } catch (const Exception& E) {
                return Fail(Sentence("Join fails: " + std::string(E.what())));
            }
        }
    }
    if (!Options.Chapters.empty())
        if (const int Status = OpenChapterList(Options, Inputs, Times, ChapterFormat, ChapterFile); Status)
            return Status;

    InstallSignalHandlers();
    TJoiner Joiner;
    Joiner.Inputs = std::move(Inputs);
    Joiner.OutputFileName = Output;
    Joiner.VideoOnly = VideoOnly;
    Joiner.RecalcTimecodes = Options.Recalc;
    Joiner.FrameRate = Decision.FrameRate;
    Joiner.Program = Options.Program;
    const bool OnTerminal = ::isatty(STDERR_FILENO) && !MessagesToOutput;
    Joiner.CreateProgress = [OnTerminal] {
        return std::make_unique<TTerminalProgress>(OnTerminal, [] { return Interrupted != 0; });
    };
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
    for (std::size_t I = 1; Options.Recalc && !VideoOnly && I < Plan.Files.size(); ++I) {
        const TFilePlan& File = Plan.Files[I];
        std::string Line =
            Format("vantrel-cli: %s %s at %s", PrintableText(Files[I]).c_str(),
                   File.Continues ? "continues the recording" : "starts", DurationText(File.Time).c_str());
        // A pause of a few clock ticks is none a user could notice.
        if (File.Pause() >= 0.0005)
            Line += Format(", after a pause of %.3f s for the decoder's buffers", File.Pause());
        if (!File.Joint.Holds)
            Line += "; the decoder's buffers could not be kept within their sizes there";
        if (const std::size_t Leading = File.Transport.LeadingPictures)
            Line += Format("; %zu %s of its first group %s to pictures before it and cannot be shown%s",
                           Leading, Leading == 1 ? "picture" : "pictures", Leading == 1 ? "refers" : "refer",
                           File.Transport.BrokenLink ? ", as its broken link flag now says" : "");
        Say("%s.\n", Line.c_str());
    }
    return Times.empty() ? ExitOk : Report(Options, Joiner, Times, ChapterFormat, std::move(ChapterFile));
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
            if (TakesValue(Arg) && I + 1 < Args.size())
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
