// Joins of H.264 transport streams by the real command-line tool: AVCHD
// camcorder recordings (192-byte packets, 1080i, AC-3) and HD broadcasts
// (188-byte packets, 720p50 and 1080i25, AAC, closed and open GOPs), judged
// by ffmpeg and by the suite's own transport check, whose decoder model
// finds H.264's access units from the bytes by itself.
#include "TransportCheck.h"
#include "TransportSupport.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using namespace test;

// A stream's coded pictures, as ffprobe counts its packets.
int VideoPackets(const std::string& File)
{
    return std::atoi(
        Ffprobe("-count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0", File)
            .c_str());
}

// The video's stamps in decode order as ffprobe reads them: pts and dts.
std::vector<std::pair<std::int64_t, std::int64_t>> VideoStamps(const std::string& File)
{
    std::vector<std::pair<std::int64_t, std::int64_t>> Stamps;
    std::istringstream Lines(Ffprobe("-select_streams v:0 -show_entries packet=pts,dts -of csv=p=0", File));
    for (std::string Line; std::getline(Lines, Line);)
        if (const std::size_t Comma = Line.find(','); Comma != std::string::npos && Comma > 0)
            Stamps.emplace_back(std::stoll(Line.substr(0, Comma)), std::stoll(Line.substr(Comma + 1)));
    return Stamps;
}

// The recovery points whose broken link flag ffmpeg reads set.
int BrokenLinksSet(const std::string& File)
{
    std::string Count;
    RunCommand(
        "ffmpeg -nostdin -hide_banner -i " + Quote(File) +
            " -map 0:v -c copy -bsf:v trace_headers -f null - 2>&1 | grep -c 'broken_link_flag.* = 1$'",
        &Count);
    return std::atoi(Count.c_str());
}

// The end of sequence and end of stream NAL units ffmpeg reads.
int EndUnits(const std::string& File)
{
    std::string Count;
    RunCommand("ffmpeg -nostdin -hide_banner -i " + Quote(File) +
                   " -map 0:v -c copy -bsf:v trace_headers -f null - 2>&1 | grep -c 'End of S'",
               &Count);
    return std::atoi(Count.c_str());
}

struct TH264Set
{
    const char* Name;
    std::vector<const char*> Files;
    // What the join is counted against: the files, or the whole recording
    // the pieces of a split one were cut from (a piece alone begins where
    // no decoder can).
    std::vector<const char*> Counted = {};
    // The pictures of the later files' open GOPs the report says cannot be
    // shown, and whether it says their broken link flag is set.
    std::size_t Leading = 0;
    bool BrokenLink = false;
    // The file a split recording's pieces join back to, byte for byte.
    const char* Whole = nullptr;
};

void PrintTo(const TH264Set& Set, std::ostream* Out)
{
    *Out << Set.Name;
}

class H264Join : public ::testing::TestWithParam<TH264Set>
{
};

TEST_P(H264Join, DecodesWithEveryPictureInTimeAndOneOffsetAFile)
{
    const TH264Set& Set = GetParam();
    TTempDir Dir;
    const std::string Out =
        Dir.File(std::string(Set.Files.front()).ends_with(".m2ts") ? "out.m2ts" : "out.ts");
    std::string Command = "timeout 120 " + std::string(VANTREL_CLI) + " join --json -o " + Quote(Out), Said;
    for (const char* Name : Set.Files)
        Command += " " + Quote(Stream(Name));
    ASSERT_EQ(RunCommand(Command + " </dev/null", &Said), 0) << Said;
    if (Set.Whole) {
        EXPECT_EQ(ReadFile(Out), ReadFile(Stream(Set.Whole)));
        EXPECT_NE(Said.find("continues the recording"), std::string::npos) << Said;
    }
    // The report states what an open GOP's leading pictures cannot show.
    const std::string Stated =
        Set.Leading == 0 ? "" : std::to_string(Set.Leading) + (Set.Leading == 1 ? " picture" : " pictures");
    EXPECT_EQ(Said.find(" of its first group refer") != std::string::npos, Set.Leading > 0) << Said;
    if (Set.Leading) {
        EXPECT_NE(Said.find(Stated), std::string::npos) << Said;
    }
    EXPECT_EQ(Said.find("broken link flag") != std::string::npos, Set.BrokenLink) << Said;
    EXPECT_EQ(BrokenLinksSet(Out), Set.BrokenLink ? 1 : 0);
    // And so does the report for scripts.
    EXPECT_EQ(Said.find("\"broken_link\": true") != std::string::npos, Set.BrokenLink) << Said;
    EXPECT_NE(Said.find("\"leading_pictures\": " + std::to_string(Set.Leading) +
                        ", \"broken_link\": " + (Set.BrokenLink ? "true" : "false") + "}\n]}"),
              std::string::npos)
        << Said;

    // ffmpeg's encoder keeps the stream's own time base (90 kHz): a pause at a
    // joint makes ffmpeg guess a frame rate a little off the stream's (25 fps
    // becomes 299/12), and frames rounded to that rate would collide in its
    // muxer, which is no fault of the stream.
    EXPECT_EQ(DecodeErrors(Out, "-enc_time_base:v -1"), "");
    // The video ends where the last file's ends, and nowhere before.
    EXPECT_EQ(EndUnits(Out), EndUnits(Stream(Set.Files.back())));
    // Every picture is there once; ffmpeg, which does not drop what a
    // broken link flag marks, decodes the leading pictures the later file
    // could not show alone from the pictures of the file before.
    const std::vector<const char*>& Counted = Set.Counted.empty() ? Set.Files : Set.Counted;
    int Pictures = 0, Frames = 0, Units = 0, Late = 0;
    std::vector<TTransportCheck> Inputs;
    for (const char* Name : Counted) {
        Pictures += VideoPackets(Stream(Name));
        Frames += VideoFrames(Stream(Name));
        const TTransportCheck& Input = Inputs.emplace_back(CheckTransport(ReadFile(Stream(Name))));
        Units += Input.UnitsOf.begin()->second;
        Late += Input.Late;
    }
    EXPECT_EQ(VideoPackets(Out), Pictures);
    EXPECT_EQ(Frames, Pictures - static_cast<int>(Set.Leading));
    EXPECT_EQ(VideoFrames(Out), Pictures);

    // The decoder model at every joint: each access unit of the video in
    // its buffers in time, none of them over the sizes of its level; the
    // sound's buffers, which ffmpeg's muxer overfills in the inputs (it
    // sends the sound up to 0.7 s ahead), no fuller than there.
    const TTransportCheck Check = CheckTransport(ReadFile(Out));
    SCOPED_TRACE(Check.Text());
    const auto& [Video, VideoUnits] = *Check.UnitsOf.begin();
    EXPECT_EQ(VideoUnits, Units);
    EXPECT_EQ(Check.Late, Late);
    EXPECT_LE(Check.Peak.at(Video), Check.Size.at(Video));
    EXPECT_EQ(FullerThanInputs(Check, Inputs), "");
    // The guidelines' first priority and the second.
    EXPECT_EQ(Check.SyncLosses + Check.SyncByteErrors + Check.PATErrors + Check.ContinuityErrors +
                  Check.PMTErrors,
              0);
    EXPECT_EQ(Check.TransportErrors + Check.CRCErrors + Check.PCRDiscontinuityErrors, 0);
    // No stream's PTSs more than 0.7 s apart.
    EXPECT_EQ(Check.PTSErrors, 0);

    // The stamps run on with one offset a file: each file's stamps keep
    // their distances, and every picture decodes after the one before.
    const auto Joined = VideoStamps(Out);
    std::size_t At = 0;
    for (const char* Name : Counted) {
        const auto Own = VideoStamps(Stream(Name));
        ASSERT_LE(At + Own.size(), Joined.size());
        for (std::size_t I = 1; I < Own.size(); ++I) {
            EXPECT_EQ(Joined[At + I].first - Joined[At].first, Own[I].first - Own[0].first)
                << Name << " " << I;
            EXPECT_EQ(Joined[At + I].second - Joined[At].second, Own[I].second - Own[0].second)
                << Name << " " << I;
        }
        At += Own.size();
    }
    for (std::size_t I = 1; I < Joined.size(); ++I)
        EXPECT_GT(Joined[I].second, Joined[I - 1].second) << I;
}

INSTANTIATE_TEST_SUITE_P(
    Sets, H264Join,
    ::testing::Values(
        TH264Set{.Name = "Avchd1080i50", .Files = {"avchd_1080i50_1.m2ts", "avchd_1080i50_2.m2ts"}},
        TH264Set{.Name = "Avchd1080i60", .Files = {"avchd_1080i60_1.m2ts", "avchd_1080i60_2.m2ts"}},
        TH264Set{.Name = "AvchdSplit",
                 .Files = {"avchd_1080i60_1a.m2ts", "avchd_1080i60_1b.m2ts"},
                 .Counted = {"avchd_1080i60_1.m2ts"},
                 .Whole = "avchd_1080i60_1.m2ts"},
        TH264Set{.Name = "AvchdSplitThenAnother",
                 .Files = {"avchd_1080i60_1a.m2ts", "avchd_1080i60_1b.m2ts", "avchd_1080i60_2.m2ts"},
                 .Counted = {"avchd_1080i60_1.m2ts", "avchd_1080i60_2.m2ts"}},
        TH264Set{.Name = "Broadcast720p50", .Files = {"hd_720p50_1.ts", "hd_720p50_2.ts"}},
        TH264Set{.Name = "Broadcast720p50OpenGops", .Files = {"hd_720p50_open.ts", "hd_720p50_1.ts"}},
        TH264Set{.Name = "Broadcast720p50CutInAnOpenGop",
                 .Files = {"hd_720p50_1.ts", "hd_720p50_open_cut.ts"},
                 .Leading = 1,
                 .BrokenLink = true},
        TH264Set{.Name = "EndUnits", .Files = {"h264_ends_1.ts", "h264_ends_2.ts"}},
        TH264Set{.Name = "NoTimingInformation", .Files = {"h264_notiming_1.ts", "h264_notiming_2.ts"}},
        TH264Set{.Name = "Broadcast1080i25", .Files = {"hd_1080i25_1.ts", "hd_1080i25_2.ts"}},
        TH264Set{.Name = "Broadcast1080i25OpenGops", .Files = {"hd_1080i25_open.ts", "hd_1080i25_1.ts"}}),
    [](const auto& Info) { return std::string(Info.param.Name); });

} // namespace
} // namespace vantrel
