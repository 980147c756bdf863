// The chapter lists and the report of `vantrel-cli join`, checked with the
// tools that read them: dvdauthor, vcdimager, ffmpeg and mkvmerge.
#include "TestSupport.h"

#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>

namespace vantrel {
namespace {

using namespace test;

std::string Text(const std::string& File)
{
    const TBytes Bytes = ReadFile(File);
    return {Bytes.begin(), Bytes.end()};
}

// The numbers that follow each match of Pattern's one group in Text.
std::vector<double> Numbers(const std::string& Text, const std::string& Pattern)
{
    std::vector<double> Result;
    const std::regex Expression(Pattern);
    for (auto It = std::sregex_iterator(Text.begin(), Text.end(), Expression); It != std::sregex_iterator();
         ++It)
        Result.push_back(std::stod((*It)[1]));
    return Result;
}

// "hh:mm:ss.mmm" in seconds.
double Clock(const std::string& Time)
{
    return std::stoi(Time.substr(0, 2)) * 3600 + std::stoi(Time.substr(3, 2)) * 60 +
           std::stod(Time.substr(6));
}

// The times of File's pictures in display order, as ffprobe decodes them.
std::vector<double> PictureTimes(const std::string& File)
{
    std::istringstream Lines(
        Ffprobe("-select_streams v:0 -show_entries frame=best_effort_timestamp_time -of csv=p=0", File));
    std::vector<double> Times;
    for (std::string Line; std::getline(Lines, Line);)
        if (!Line.empty())
            Times.push_back(Line.starts_with("N/A") ? NAN : std::stod(Line));
    return Times;
}

// Where each input's first picture is shown in the joined output, in
// seconds from the output's start (its first stamp of any stream): found by
// counting the pictures of the inputs before it.
std::vector<double> FirstPictures(const std::string& Output, const std::vector<std::string>& Inputs)
{
    const std::vector<double> Times = PictureTimes(Output);
    const double Start = std::stod(Ffprobe("-show_entries format=start_time -of csv=p=0", Output));
    std::vector<double> Result;
    std::size_t Index = 0;
    for (const std::string& Input : Inputs) {
        Result.push_back(Index < Times.size() ? Times[Index] - Start : -1);
        Index += static_cast<std::size_t>(VideoFrames(Stream(Input)));
    }
    return Result;
}

double FrameRate(const std::string& File)
{
    const std::string Rate =
        Ffprobe("-select_streams v:0 -show_entries stream=avg_frame_rate -of csv=p=0", File);
    return std::stod(Rate) / std::stod(Rate.substr(Rate.find('/') + 1));
}

std::string Files(const std::vector<std::string>& Names)
{
    std::string Result;
    for (const std::string& Name : Names)
        Result += " " + Quote(Stream(Name));
    return Result;
}

// What each tool makes of the chapter list at Chapters for the joined
// Output: the chapter times it reads, in seconds from where it counts.
using TReader = std::vector<double> (*)(const std::string& Chapters, const std::string& Output,
                                        const TTempDir& Dir);

// dvdauthor says where it put each chapter of the title, from its first
// picture, after moving it to the nearest start of a navigation unit.
std::vector<double> DvdAuthorChapters(const std::string& Chapters, const std::string&, const TTempDir&)
{
    std::string Said;
    EXPECT_EQ(RunCommand("dvdauthor -x " + Quote(Chapters), &Said), 0) << Said;
    return Numbers(Said, R"(CHAPTERS: VTS\[1/1\] ([0-9.]+))");
}

// vcdimager builds the image with an entry point at the picture nearest to
// each; reading the image back gives their times.
std::vector<double> VcdImagerChapters(const std::string& Chapters, const std::string&, const TTempDir& Dir)
{
    std::string Said;
    EXPECT_EQ(RunCommand("cd " + Quote(Dir.Path()) + " && vcdxbuild " + Quote(Chapters) +
                             " && mkdir rip && cd rip && vcdxrip --cue-file ../videocd.cue",
                         &Said),
              0)
        << Said;
    std::vector<double> Times = Numbers(Text(Dir.File("rip/videocd.xml")), R"(<entry id="[^"]*">([0-9.]+)<)");
    Times.insert(Times.begin(), 0);
    return Times;
}

std::vector<double> FFmpegChapters(const std::string& Chapters, const std::string& Output,
                                   const TTempDir& Dir)
{
    const std::string Mkv = Dir.File("ffmpeg.mkv");
    std::string Said;
    EXPECT_EQ(RunCommand("ffmpeg -v error -y -fflags +genpts -i " + Quote(Output) + " -i " + Quote(Chapters) +
                             " -map 0:v -map 0:a -map_metadata 1 -c copy " + Quote(Mkv),
                         &Said),
              0)
        << Said;
    return Numbers(Ffprobe("-show_chapters -show_entries chapter=start_time -of csv=p=0", Mkv),
                   R"((?:^|\n)([0-9.]+))");
}

std::vector<double> MkvmergeChapters(const std::string& Chapters, const std::string& Output,
                                     const TTempDir& Dir)
{
    const std::string Mkv = Dir.File("mkvmerge.mkv");
    std::string Said;
    EXPECT_LT(
        RunCommand("mkvmerge -q -o " + Quote(Mkv) + " --chapters " + Quote(Chapters) + " " + Quote(Output),
                   &Said),
        2)
        << Said;
    RunCommand("mkvextract " + Quote(Mkv) + " chapters -s -", &Said);
    std::vector<double> Times;
    for (const std::string& Time : [&] {
             std::vector<std::string> Found;
             const std::regex Line(R"(CHAPTER[0-9]+=([0-9:.]+))");
             for (auto It = std::sregex_iterator(Said.begin(), Said.end(), Line);
                  It != std::sregex_iterator(); ++It)
                 Found.push_back((*It)[1]);
             return Found;
         }())
        Times.push_back(Clock(Time));
    return Times;
}

struct ChapterCase
{
    const char* Name;
    std::vector<std::string> Inputs;
    const char* Chapters; // its extension says the format
    TReader Read;
    // Where the tool counts from: the output's first picture (dvdauthor), or
    // its start; mkvmerge lays the pictures of a program stream end to end.
    enum
    {
        Start,
        FirstPicture,
        PicturesEndToEnd
    } Zero = Start;
};
void PrintTo(const ChapterCase& Case, std::ostream* Out)
{
    *Out << Case.Name;
}

class ChapterList : public ::testing::TestWithParam<ChapterCase>
{
};

TEST_P(ChapterList, StandsWithinAFrameOfEachFilesFirstPicture)
{
    const ChapterCase& C = GetParam();
    TTempDir Dir;
    const std::string Out =
        Dir.File(std::string("joined") + (C.Inputs[0].ends_with(".vob") ? ".vob" : ".mpg"));
    const std::string Chapters = Dir.File(C.Chapters);
    int Status;
    const std::string Said =
        Cli("join -o " + Quote(Out) + " --chapters " + Quote(Chapters) + Files(C.Inputs), &Status);
    ASSERT_EQ(Status, 0) << Said;
    std::vector<double> Expected = FirstPictures(Out, C.Inputs);
    const double Rate = FrameRate(Out);
    if (C.Zero == ChapterCase::PicturesEndToEnd) {
        // The pictures of each input in turn, one frame each, from where the
        // first one is shown.
        double At = Expected[0];
        for (std::size_t I = 0; I < C.Inputs.size(); ++I) {
            Expected[I] = At;
            At += VideoFrames(Stream(C.Inputs[I])) / Rate;
        }
    }
    const double Zero = C.Zero == ChapterCase::FirstPicture ? Expected[0] : 0;
    const std::vector<double> Read = C.Read(Chapters, Out, Dir);
    ASSERT_EQ(Read.size(), C.Inputs.size()) << Text(Chapters);
    const double Frame = 1 / Rate;
    EXPECT_EQ(Read[0], 0);
    for (std::size_t I = 1; I < Read.size(); ++I)
        EXPECT_NEAR(Read[I], Expected[I] - Zero, Frame) << "chapter " << I + 1 << "\n" << Text(Chapters);
}

INSTANTIATE_TEST_SUITE_P(
    Tools, ChapterList,
    ::testing::Values(
        ChapterCase{"DvdPal",
                    {"dvd_pal1.vob", "dvd_pal2.vob", "dvd_pal3.vob"},
                    "dvd.xml",
                    DvdAuthorChapters,
                    ChapterCase::FirstPicture},
        ChapterCase{"DvdNtsc",
                    {"dvd_ntsc1.vob", "dvd_ntsc2.vob"},
                    "dvd.xml",
                    DvdAuthorChapters,
                    ChapterCase::FirstPicture},
        ChapterCase{
            "Vcd", {"mplex_vcd.mpg", "mplex_vcd_b.mpg", "mplex_vcd.mpg"}, "vcd.xml", VcdImagerChapters},
        ChapterCase{"VcdSoundFirst", {"ff_vcd.mpg", "ff_vcd.mpg"}, "vcd.xml", VcdImagerChapters},
        ChapterCase{"Svcd", {"svcd1.mpg", "svcd2.mpg"}, "svcd.xml", VcdImagerChapters},
        ChapterCase{"FFmpeg", {"ff_pal.mpg", "ff_pal_b.mpg", "ff_pal.mpg"}, "ch.ffmeta", FFmpegChapters},
        // Each cut's pictures start 0.6 s after its sound.
        ChapterCase{"FFmpegCuts", {"dvd_cut1.vob", "dvd_cut2.vob"}, "ch.ffmeta", FFmpegChapters},
        ChapterCase{"Mkvmerge",
                    {"ff_pal.mpg", "ff_pal_b.mpg", "ff_pal.mpg"},
                    "ch.txt",
                    MkvmergeChapters,
                    ChapterCase::PicturesEndToEnd},
        // A pause at each joint, which mkvmerge leaves out.
        ChapterCase{"MkvmergeVcd",
                    {"mplex_vcd.mpg", "mplex_vcd_b.mpg"},
                    "ch.txt",
                    MkvmergeChapters,
                    ChapterCase::PicturesEndToEnd},
        ChapterCase{"MkvmergeCuts",
                    {"dvd_cut1.vob", "dvd_cut2.vob"},
                    "ch.txt",
                    MkvmergeChapters,
                    ChapterCase::PicturesEndToEnd}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// The report on standard output, the messages on standard error: each
// file's start as the messages say it, the pause, and the half of a split
// recording that goes on where the first stopped.
TEST(JoinReport, ListsEachFilesStartPauseAndContinuation)
{
    TTempDir Dir;
    const TBytes Recording = ReadFile(Stream("dvd_rec.vob"));
    const std::size_t Cut = Recording.size() / 2 + 1001;
    WriteFile(Dir.File("a.vob"), TBytes(Recording.begin(), Recording.begin() + Cut));
    WriteFile(Dir.File("b.vob"), TBytes(Recording.begin() + Cut, Recording.end()));
    const std::string Out = Dir.File("out.vob"), Err = Dir.File("err.txt");
    int Status;
    const std::string Json =
        Cli("join --json -o " + Quote(Out) + " " + Quote(Dir.File("a.vob")) + " " + Quote(Dir.File("b.vob")) +
                " " + Quote(Stream("dvd_pal2.vob")) + " 2>" + Quote(Err),
            &Status);
    ASSERT_EQ(Status, 0) << Text(Err);
    std::string Fields;
    ASSERT_EQ(
        RunCommand("python3 -c 'import json,sys; r=json.load(sys.stdin); print(r[\"output\"], "
                   "r[\"duration\"], r[\"chapters\"]); [print(f[\"start\"], f[\"pause\"], f[\"continues\"]) "
                   "for f in r[\"files\"]]' <<'EOF'\n" +
                       Json + "\nEOF",
                   &Fields),
        0)
        << Json;
    std::istringstream Lines(Fields);
    std::string Output, Chapters;
    double Duration;
    Lines >> Output >> Duration >> Chapters;
    EXPECT_EQ(Output, Out);
    EXPECT_NEAR(Duration, std::stod(Ffprobe("-show_entries format=duration -of csv=p=0", Out)), 0.1);
    EXPECT_EQ(Chapters, "None");
    const std::vector<double> Said = Numbers(Text(Err), R"(at 0:00:([0-9.]+))");
    ASSERT_EQ(Said.size(), 2u) << Text(Err);
    const std::string Continues[] = {"False", "True", "False"};
    for (std::size_t I = 0; I < 3; ++I) {
        double Start, Pause;
        std::string Goes;
        Lines >> Start >> Pause >> Goes;
        EXPECT_EQ(Goes, Continues[I]) << I;
        EXPECT_EQ(Pause, 0) << I;
        // The messages count from the first stamp, a few milliseconds in.
        EXPECT_NEAR(Start, I ? Said[I - 1] : 0, 0.01) << I;
    }
    EXPECT_NE(Text(Err).find("b.vob continues the recording"), std::string::npos) << Text(Err);
}

// Options that cannot go together are refused before anything is written;
// a chapter list that cannot be made costs no join.
TEST(JoinReport, RefusesWhatCannotBeWritten)
{
    TTempDir Dir;
    const std::string Out = Dir.File("out.mpg"), Input = Dir.File("in.mpg");
    WriteFile(Input, ReadFile(Stream("ff_pal.mpg")));
    const struct
    {
        std::string Options;
        int Status;
        const char* Says;
    } Cases[] = {
        {"--json -o -", 2, "--json prints the join's report on standard output"},
        {"--json --chapters - -o " + Out, 2, "neither the output nor the chapter list"},
        {"--chapters " + Dir.File("c.abc") + " -o " + Out, 2, "cannot tell the format of the chapter list"},
        {"--chapters-format srt --chapters x.txt -o " + Out, 2, "unknown chapter list format srt"},
        {"--chapters-format txt -o " + Out, 2, "--chapters-format needs --chapters FILE"},
        {"--chapters " + Out + " -o " + Out, 2, "the chapter list and the output cannot be the same file"},
        {"--no-recalc-timecodes --chapters " + Dir.File("c.txt") + " -o " + Out, 2, "needs the time codes"},
        {"--chapters-format txt --chapters " + Input + " -o " + Out, 1, "is one of the files to join"},
        {"--chapters " + Dir.File("none/c.txt") + " -o " + Out, 1, "Cannot create file"},
    };
    for (const auto& C : Cases) {
        int Status;
        const std::string Said = Cli("join " + C.Options + " " + Quote(Input) + " " + Quote(Input), &Status);
        EXPECT_EQ(Status, C.Status) << C.Options << "\n" << Said;
        EXPECT_NE(Said.find(C.Says), std::string::npos) << C.Options << "\n" << Said;
        EXPECT_FALSE(std::filesystem::exists(Out)) << C.Options;
    }
    EXPECT_EQ(ReadFile(Input), ReadFile(Stream("ff_pal.mpg")));
}

} // namespace
} // namespace vantrel
