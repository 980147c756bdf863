// Runs the real command-line tool on the real test streams and checks what it
// writes with ffprobe and ffmpeg.
#include "TestSupport.h"

#include <cmath>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

namespace vantrel {
namespace {

using namespace test;

std::string Cli(const std::string& Arguments, int* Status = nullptr)
{
    std::string Output;
    const int Code = RunCommand(std::string(VANTREL_CLI) + " " + Arguments + " </dev/null", &Output);
    if (Status)
        *Status = Code;
    return Output;
}

std::string Files(std::initializer_list<const char*> Names)
{
    std::string Result;
    for (const char* Name : Names)
        Result += " " + Quote(Stream(Name));
    return Result;
}

// Every stream's DTS must strictly increase and no PTS may repeat.
std::string TimeLineFaults(const std::string& File)
{
    std::istringstream Lines(Ffprobe("-show_entries packet=stream_index,pts,dts -of csv=p=0", File));
    std::map<int, long long> LastDTS;
    std::map<int, std::set<long long>> SeenPTS;
    std::string Faults, Line;
    while (std::getline(Lines, Line)) {
        std::istringstream Fields(Line);
        std::string Index, PTS, DTS;
        std::getline(Fields, Index, ',');
        std::getline(Fields, PTS, ',');
        std::getline(Fields, DTS, ',');
        const int Stream = std::stoi(Index);
        if (DTS != "N/A" && !DTS.empty()) {
            const long long Value = std::stoll(DTS);
            if (LastDTS.count(Stream) && Value <= LastDTS[Stream])
                Faults +=
                    "stream " + Index + " DTS " + DTS + " after " + std::to_string(LastDTS[Stream]) + "\n";
            LastDTS[Stream] = Value;
        }
        if (PTS != "N/A" && !PTS.empty() && !SeenPTS[Stream].insert(std::stoll(PTS)).second)
            Faults += "stream " + Index + " PTS " + PTS + " repeats\n";
    }
    return Faults;
}

struct JoinCase
{
    const char* Name;
    std::vector<const char*> Inputs;
};
void PrintTo(const JoinCase& Case, std::ostream* Out)
{
    *Out << Case.Name;
}

class RestampedJoin : public ::testing::TestWithParam<JoinCase>
{
};

TEST_P(RestampedJoin, DecodesCleanlyWithARunningTimeLine)
{
    TTempDir Dir;
    const std::string Out = Dir.File("out.mpg");
    std::string Args;
    double Duration0 = 0;
    int Frames = 0;
    for (const char* Input : GetParam().Inputs) {
        Args += " " + Quote(Stream(Input));
        Duration0 += Duration(Stream(Input));
        Frames += VideoFrames(Stream(Input));
    }
    int Status;
    const std::string Said = Cli("join -o " + Quote(Out) + Args, &Status);
    ASSERT_EQ(Status, 0) << Said;
    EXPECT_EQ(DecodeErrors(Out), "");
    EXPECT_EQ(VideoFrames(Out), Frames);
    EXPECT_NEAR(Duration(Out), Duration0, 2 / 25.0);
    EXPECT_EQ(TimeLineFaults(Out), "");
}

INSTANTIATE_TEST_SUITE_P(
    RealStreams, RestampedJoin,
    ::testing::Values(JoinCase{"FfmpegPair", {"ff_pal.mpg", "ff_pal_b.mpg"}},
                      JoinCase{"FfmpegBFramesTriple", {"ff_pal_b.mpg", "ff_pal.mpg", "ff_pal_b.mpg"}},
                      JoinCase{"FfmpegVcdPair", {"ff_vcd.mpg", "ff_vcd.mpg"}},
                      JoinCase{"MplexVcdPair", {"mplex_vcd.mpg", "mplex_vcd_b.mpg"}},
                      JoinCase{"MplexTriple", {"mplex_vcd_b.mpg", "mplex_generic.mpg", "mplex_vcd.mpg"}},
                      JoinCase{"MixedMuxers", {"mplex_vcd_b.mpg", "ff_pal_b.mpg", "mplex_vcd.mpg"}}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(CliJoin, WithoutRestampingTheOutputIsTheInputsPackets)
{
    TTempDir Dir;
    const std::string Out = Dir.File("out.mpg");
    int Status;
    Cli("join --no-recalc-timecodes -o " + Quote(Out) + Files({"mplex_vcd.mpg", "mplex_vcd_b.mpg"}), &Status);
    ASSERT_EQ(Status, 0);
    // All packets of the first file, those of the second but its system
    // headers; no end codes, nothing that stood between packets.
    TBytes Expected;
    for (const TBytes& Packet : SplitPackets(ReadFile(Stream("mplex_vcd.mpg"))))
        Expected.insert(Expected.end(), Packet.begin(), Packet.end());
    int SecondSystemHeaders = 0;
    for (const TBytes& Packet : SplitPackets(ReadFile(Stream("mplex_vcd_b.mpg")))) {
        if (Packet[3] == 0xBB)
            ++SecondSystemHeaders;
        else
            Expected.insert(Expected.end(), Packet.begin(), Packet.end());
    }
    EXPECT_EQ(SecondSystemHeaders, 2);
    EXPECT_TRUE(ReadFile(Out) == Expected);
    EXPECT_EQ(VideoFrames(Out), 125);
}

TEST(CliJoin, VideoOnlyWritesOneElementaryStream)
{
    TTempDir Dir;
    const std::string Out = Dir.File("out.m1v");
    int Status;
    Cli("join --video-only -o " + Quote(Out) + Files({"ff_pal_b.mpg", "ff_pal_mono48.mpg", "ff_pal.m1v"}),
        &Status);
    ASSERT_EQ(Status, 0);
    EXPECT_EQ(Ffprobe("-show_entries format=format_name -of csv=p=0", Out), "mpegvideo\n");
    EXPECT_EQ(VideoFrames(Out), 75 + 50 + 50);
    EXPECT_EQ(DecodeErrors(Out), "");
}

TEST(CliJoin, ElementaryStreamMakesTheJoinVideoOnly)
{
    TTempDir Dir;
    const std::string Out = Dir.File("out.mpg");
    int Status;
    const std::string Said =
        Cli("join -o " + Quote(Out) + Files({"ff_pal_noaudio.mpg", "ff_pal.m1v"}), &Status);
    ASSERT_EQ(Status, 0);
    EXPECT_NE(Said.find("joining video only"), std::string::npos) << Said;
    EXPECT_EQ(Ffprobe("-show_entries format=format_name -of csv=p=0", Out), "mpegvideo\n");
}

TEST(CliJoin, RefusalsAndFailures)
{
    TTempDir Dir;
    const std::string Out = Dir.File("out.mpg");
    const std::string Copy = Dir.File("copy.mpg");
    WriteFile(Copy, ReadFile(Stream("ff_pal.mpg")));
    const struct
    {
        std::string Args;
        int Status;
        std::string Message;
    } Cases[] = {
        {"join -o " + Quote(Out) + Files({"ff_pal.mpg", "ff_vcd.mpg"}), 1,
         "The selected files have the different format of video and cannot be joined."},
        {"join -o " + Quote(Out) + Files({"ff_pal.mpg", "ff_pal_mono48.mpg"}), 1,
         "can be joined only without audio. Give --video-only"},
        {"join -o " + Quote(Out) + Files({"ff_pal.mpg", "ff_mpeg2.vob"}), 1,
         "ff_mpeg2.vob: MPEG-2 program streams are not supported.."},
        {"join -o " + Quote(Copy) + Files({"ff_pal.mpg"}) + " " + Quote(Copy), 1,
         "Join fails: The output file cannot be one of the input files."},
        {"join -o /dev/full" + Files({"ff_pal.mpg"}), 1, "Join fails: Unable to write file /dev/full"},
        {"join -o " + Quote(Dir.File("none/out.mpg")) + Files({"ff_pal.mpg"}), 1,
         "Join fails: Cannot create file " + Dir.File("none/out.mpg")},
        {"join" + Files({"ff_pal.mpg"}), 2, "join needs an output file"},
        {"join -o " + Quote(Out), 2, "join needs at least one input file"},
        {"join --bogus -o " + Quote(Out) + Files({"ff_pal.mpg"}), 2, "unknown option --bogus"},
        {"frobnicate", 2, "unknown command frobnicate"},
        {"", 2, "no command given"},
    };
    for (const auto& C : Cases) {
        int Status;
        const std::string Said = Cli(C.Args, &Status);
        EXPECT_EQ(Status, C.Status) << C.Args << "\n" << Said;
        EXPECT_NE(Said.find(C.Message), std::string::npos) << C.Args << "\n" << Said;
    }
    EXPECT_EQ(ReadFile(Copy), ReadFile(Stream("ff_pal.mpg")));
}

TEST(CliInfo, ShowsWhatTheFileListShows)
{
    TTempDir Dir;
    WriteFile(Dir.File("empty.mpg"), {});
    TBytes Cut = ReadFile(Stream("ff_pal.m1v"));
    Cut.resize(6);
    WriteFile(Dir.File("cut.m1v"), Cut);
    int Status;
    const std::string Said =
        Cli("info" + Files({"ff_pal.mpg", "ff_vcd.mpg", "ff_pal_mono48.mpg", "ff_pal.m1v"}) + " " +
                Quote(Dir.File("empty.mpg")) + " " + Quote(Dir.File("cut.m1v")) + " " +
                Quote(Dir.File("missing")) + " " + Quote(Dir.Path()),
            &Status);
    EXPECT_EQ(Status, 1);
    const std::string Expected[] = {
        Stream("ff_pal.mpg") +
            "\n  352 x 288  25.00 fps  OK  system stream  audio: layer II, 44100 Hz, stereo\n",
        Stream("ff_vcd.mpg") + "\n  352 x 240  29.97 fps  Video Differ",
        Stream("ff_pal_mono48.mpg") +
            "\n  352 x 288  25.00 fps  Audio Differ  system stream  audio: layer II, 48000 Hz, mono",
        Stream("ff_pal.m1v") + "\n  352 x 288  25.00 fps  Audio Differ  video stream  audio: none",
        Dir.File("empty.mpg") + "\n  Unable to read the file format.\n",
        Dir.File("cut.m1v") + "\n  Unable to read video settings\n",
        Dir.File("missing") + "\n  Cannot open file " + Dir.File("missing") + "\n",
        Dir.Path() + "\n  Unable to read the file format.\n",
    };
    for (const std::string& Line : Expected)
        EXPECT_NE(Said.find(Line), std::string::npos) << Line << "\nin\n" << Said;
}

TEST(CliInfo, VersionAndHelp)
{
    int Status;
    EXPECT_EQ(Cli("--version", &Status), "Vantrel 1.03\n");
    EXPECT_EQ(Status, 0);
    EXPECT_NE(Cli("--help", &Status).find("Usage: vantrel-cli info FILE..."), std::string::npos);
    EXPECT_EQ(Status, 0);
}

} // namespace
} // namespace vantrel
