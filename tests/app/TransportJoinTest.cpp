// Joins of transport streams by the real command-line tool, judged by the
// suite's own transport check (the DVB measurement guidelines' first and
// second priority, the transport system target decoder), ffmpeg and ffprobe.
#include "TransportCheck.h"
#include "TransportSupport.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>

namespace vantrel {
namespace {

using namespace test;

std::string JoinArguments(const std::string& Out, const std::vector<std::string>& Inputs)
{
    std::string Arguments = "join -o " + Quote(Out);
    for (const std::string& Input : Inputs)
        Arguments += " " + Quote(Input.front() == '/' ? Input : Stream(Input));
    return Arguments;
}

// How a file's PMTs change from section to section: a new version that
// says what the one before said (what a join of files that differ only in
// their versions must not write), and another content under the same
// version (what some muxers write as they learn a stream's format).
struct TTableChanges
{
    int VersionOnly = 0;
    int ContentOnly = 0;
};

TTableChanges PMTChanges(const TBytes& File)
{
    TTableChanges Changes;
    std::map<std::uint16_t, std::pair<int, TBytes>> Last;
    const std::optional<TTSLayout> Layout = FindLayout(File);
    for (std::size_t Sync = Layout ? Layout->FirstSync : File.size(); Sync + 188 <= File.size();
         Sync += Layout->Size) {
        TTSPacket P;
        if (!ReadTSPacket(File, Sync, P) || !P.UnitStart || P.PayloadLength < 12)
            continue;
        const std::size_t At = P.Payload + 1 + File[P.Payload];
        if (At + 12 > P.Payload + P.PayloadLength || File[At] != 0x02)
            continue;
        const std::size_t Length = 3 + (((File[At + 1] & 0x0F) << 8) | File[At + 2]);
        if (At + Length > P.Payload + P.PayloadLength)
            continue;
        TBytes Content(File.begin() + static_cast<long>(At),
                       File.begin() + static_cast<long>(At + Length - 4));
        const int Version = (Content[5] >> 1) & 0x1F;
        Content[5] &= 0xC1;
        if (const auto Before = Last.find(P.PID); Before != Last.end()) {
            Changes.VersionOnly += Before->second.first != Version && Before->second.second == Content;
            Changes.ContentOnly += Before->second.first == Version && Before->second.second != Content;
        }
        Last[P.PID] = {Version, Content};
    }
    return Changes;
}

struct TJoinSet
{
    const char* Name;
    std::vector<std::string> Files;
};

void PrintTo(const TJoinSet& Set, std::ostream* Out)
{
    *Out << Set.Name;
}

class TransportJoin : public ::testing::TestWithParam<TJoinSet>
{
};

// Recordings of one channel, or of a whole multiplex, joined: every check of the guidelines holds
// across the joints as it holds in the inputs, no unit is later and no
// buffer fuller than in the inputs, every picture is there once, the tables
// change their version where they say something else and only there, the later files' streams are on
// the first file's PIDs, and ffmpeg decodes it all.
TEST_P(TransportJoin, HoldsTheChecksOfItsInputs)
{
    const TJoinSet& Set = GetParam();
    TTempDir Dir;
    const std::string Out = Dir.File(Set.Files.front().ends_with(".m2ts") ? "out.m2ts" : "out.ts");
    int Status;
    const std::string Said = Cli(JoinArguments(Out, Set.Files), &Status);
    ASSERT_EQ(Status, 0) << Said;
    const TTransportCheck Check = CheckTransport(ReadFile(Out));
    int Frames = 0, Late = 0, PCRErrors = 0, ContentOnly = 0, StampsBack = 0;
    std::set<std::uint16_t> FirstPIDs;
    std::vector<TTransportCheck> Inputs;
    for (const std::string& Name : Set.Files) {
        const TTransportCheck& Input = Inputs.emplace_back(CheckTransport(ReadFile(Stream(Name))));
        Frames += VideoFrames(Stream(Name));
        Late += Input.Late, PCRErrors += Input.PCRRepetitionErrors, StampsBack += Input.ArrivalStepsBack;
        ContentOnly += PMTChanges(ReadFile(Stream(Name))).ContentOnly;
        if (FirstPIDs.empty())
            for (const auto& [PID, Units] : Input.UnitsOf)
                FirstPIDs.insert(PID);
    }
    EXPECT_EQ(Check.PacketSize, CheckTransport(ReadFile(Stream(Set.Files.front()))).PacketSize);
    const int First =
        Check.SyncLosses + Check.SyncByteErrors + Check.PATErrors + Check.ContinuityErrors + Check.PMTErrors;
    const int Second =
        Check.TransportErrors + Check.CRCErrors + Check.PCRDiscontinuityErrors + Check.PTSErrors;
    EXPECT_EQ(First, 0) << Check.Text();
    EXPECT_EQ(Second, 0) << Check.Text();
    EXPECT_LE(Check.PCRRepetitionErrors, PCRErrors) << Check.Text();
    // Arrival stamps go on across a joint (ffmpeg's own at a free rate do not).
    EXPECT_LE(Check.ArrivalStepsBack, StampsBack);
    EXPECT_LE(Check.MaxPATGap, 0.5);
    EXPECT_LE(Check.Late, Late) << Check.Text();
    EXPECT_EQ(FullerThanInputs(Check, Inputs), "") << Check.Text();
    EXPECT_EQ(VideoFrames(Out), Frames);
    EXPECT_EQ(DecodeErrors(Out), "");
    for (const auto& [PID, Units] : Check.UnitsOf)
        EXPECT_TRUE(FirstPIDs.count(PID)) << "PID " << PID << " is not the first file's";
    const TTableChanges Tables = PMTChanges(ReadFile(Out));
    EXPECT_EQ(Tables.VersionOnly, 0);
    EXPECT_LE(Tables.ContentOnly, ContentOnly);
}

INSTANTIATE_TEST_SUITE_P(
    Recordings, TransportJoin,
    ::testing::Values(TJoinSet{"OtherPIDsAndVersions", {"ts_ac3.ts", "ts_pids.ts", "ts_pmtv1.ts"}},
                      TJoinSet{"OneSoundAcrossTheClocksWrap", {"ts_wrap.ts", "ts_mp2.ts", "ts_wrap.ts"}},
                      TJoinSet{"ConstantRate", {"ts_cbr.ts", "ts_cbr2.ts", "ts_cbr.ts"}},
                      TJoinSet{"LongerThanTheirTails", {"ts_long.m2ts", "ts_long.m2ts", "ts_long.m2ts"}},
                      TJoinSet{"FullBuffersAtTheJoints", {"ts_full1.ts", "ts_full2.ts", "ts_full1.ts"}},
                      TJoinSet{"ArrivalStamps", {"ts_m2ts.m2ts", "ts_m2ts2.m2ts"}},
                      TJoinSet{"FiveRecordings",
                               {"ts_ac3.ts", "ts_pmtv1.ts", "ts_rec.ts", "ts_pids.ts", "ts_ac3.ts"}},
                      TJoinSet{"ParityBytes", {"ts_204.ts", "ts_204.ts"}},
                      TJoinSet{"EnhancedAC3", {"ts_eac3.ts", "ts_eac3.ts"}},
                      TJoinSet{"LATM", {"ts_latm.ts", "ts_latm.ts"}},
                      TJoinSet{"WholeMultiplex", {"ts_mux.ts", "ts_mux.ts"}},
                      TJoinSet{"WholeMultiplexOfBroadcasts", {"ts_mux_dvb.ts", "ts_mux_dvb.ts"}},
                      TJoinSet{"WholeMultiplexAtOneRate", {"ts_mux_cbr.ts", "ts_mux_cbr.ts"}}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// A recording cut into pieces, as recorders cut it (at packet boundaries,
// at odd bytes inside a packet, and with each piece repeating the end of the
// one before, by whole packets or not), joins back to itself byte for byte.
TEST(TransportSplit, PiecesJoinBackByteForByte)
{
    struct TCut
    {
        std::size_t At;     // where the piece before ends, in packets and bytes
        std::size_t Repeat; // bytes of it the next piece starts with again
    };
    const struct
    {
        const char* Name;
        std::vector<TCut> Cuts;
    } Cases[] = {
        {"ts_rec.ts",
         {{188 * 1000, 0}, {188 * 2500 + 77, 0}, {188 * 4000, 188 * 100}, {188 * 5000 + 131, 30001}}},
        {"ts_cbr.ts", {{188 * 3000 + 1, 0}, {188 * 5000, 188 * 60 + 5}}},
        {"ts_m2ts.m2ts", {{192 * 700 + 3, 0}, {192 * 1400 + 190, 192 * 40 + 2000}}},
        {"ts_long.m2ts", {{192 * 28000 + 11, 0}}},
        {"ts_long.m2ts", {{192 * 29000, 192 * 20}}},
    };
    TTempDir Dir;
    for (const auto& Case : Cases) {
        const TBytes Whole = ReadFile(Stream(Case.Name));
        std::vector<std::string> Pieces;
        std::size_t From = 0;
        for (std::size_t I = 0; I <= Case.Cuts.size(); ++I) {
            const std::size_t To = I < Case.Cuts.size() ? Case.Cuts[I].At : Whole.size();
            Pieces.push_back(Dir.File("piece" + std::to_string(I) + ".ts"));
            WriteFile(Pieces.back(),
                      TBytes(Whole.begin() + static_cast<long>(From), Whole.begin() + static_cast<long>(To)));
            if (I < Case.Cuts.size())
                From = To - Case.Cuts[I].Repeat;
        }
        // Two pieces at a time, and all of them.
        for (std::size_t I = 0; I + 1 < Pieces.size(); ++I) {
            int Status;
            const std::string Said =
                Cli(JoinArguments(Dir.File("pair.ts"), {Pieces[I], Pieces[I + 1]}), &Status);
            ASSERT_EQ(Status, 0) << Said;
            EXPECT_NE(Said.find("continues the recording"), std::string::npos) << Case.Name << " cut " << I;
        }
        int Status;
        const std::string Said = Cli(JoinArguments(Dir.File("all.ts"), Pieces), &Status);
        ASSERT_EQ(Status, 0) << Said;
        EXPECT_TRUE(ReadFile(Dir.File("all.ts")) == Whole) << Case.Name << "\n" << Said;
    }
}

// One program chosen out of a multiplex: its packets alone, with the tables
// every receiver reads, a PAT and an SDT that list it alone (a player shows
// no other channel), and every check holding.
TEST(TransportJoinProgram, KeepsThePacketsOfTheProgramChosen)
{
    TTempDir Dir;
    const std::string Out = Dir.File("two.ts");
    int Status;
    const std::string Said =
        Cli("join --program 2" + JoinArguments(Out, {"ts_mux.ts", "ts_mux.ts"}).substr(4), &Status);
    ASSERT_EQ(Status, 0) << Said;
    const TBytes File = ReadFile(Out);
    std::set<std::uint16_t> PIDs;
    for (const TBytes& Packet : TSPackets(File))
        PIDs.insert(static_cast<std::uint16_t>(((Packet[1] & 0x1F) << 8) | Packet[2]));
    EXPECT_EQ(PIDs, (std::set<std::uint16_t>{0, 0x11, 0x1001, 0x102, 0x103}));
    const TTransportCheck Check = CheckTransport(File);
    EXPECT_EQ(Check.SyncLosses + Check.PATErrors + Check.ContinuityErrors + Check.PMTErrors +
                  Check.CRCErrors + Check.PCRDiscontinuityErrors + Check.PTSErrors,
              0)
        << Check.Text();
    EXPECT_EQ(Check.Late, 0) << Check.Text();
    EXPECT_EQ(Ffprobe("-show_entries program=program_num:program_tags=service_name -of default=nw=1", Out),
              "program_num=2\nTAG:service_name=Two\n");
    EXPECT_EQ(VideoFrames(Out), 100);
    EXPECT_EQ(DecodeErrors(Out), "");
    Cli("join --program 3" + JoinArguments(Out, {"ts_mux.ts"}).substr(4), &Status);
    EXPECT_EQ(Status, 1);
}

// The chapters of a join of recordings start where each recording's first
// picture shows in the output, as ffprobe finds it; the report says each
// recording's pause.
TEST(TransportJoinChapters, StartAtEachRecordingsFirstPicture)
{
    TTempDir Dir;
    const std::string Out = Dir.File("out.ts"), List = Dir.File("out.ffmeta");
    int Status;
    const std::string Said = Cli("join --chapters " + Quote(List) +
                                     JoinArguments(Out, {"ts_wrap.ts", "ts_mp2.ts", "ts_wrap.ts"}).substr(4),
                                 &Status);
    ASSERT_EQ(Status, 0) << Said;
    std::vector<double> Video, Any;
    std::istringstream Packets(Ffprobe("-show_entries packet=stream_index,pts_time -of csv=p=0", Out));
    for (std::string Line; std::getline(Packets, Line);)
        if (const std::size_t Comma = Line.find(','); Comma != std::string::npos && Comma + 1 < Line.size()) {
            Any.push_back(std::stod(Line.substr(Comma + 1)));
            if (Line.starts_with("0,"))
                Video.push_back(Any.back());
        }
    ASSERT_EQ(Video.size(), 150u);
    std::sort(Video.begin(), Video.end());
    const double Start = *std::min_element(Any.begin(), Any.end());
    const TBytes Text = ReadFile(List);
    std::istringstream Lines(std::string(Text.begin(), Text.end()));
    std::vector<double> Chapters;
    for (std::string Line; std::getline(Lines, Line);)
        if (Line.starts_with("START="))
            Chapters.push_back(std::stod(Line.substr(6)) / 1000);
    ASSERT_EQ(Chapters.size(), 3u);
    for (std::size_t I = 1; I < 3; ++I)
        EXPECT_NEAR(Chapters[I], Video[50 * I] - Start, 0.002) << "chapter " << I + 1;
}

// What a join of transport streams cannot do is refused before anything is
// written: other sound, the video alone.
TEST(TransportJoinRefusals, OtherSoundAndVideoOnly)
{
    TTempDir Dir;
    const std::string Out = Dir.File("out.ts");
    int Status;
    std::string Said = Cli(JoinArguments(Out, {"ts_ac3.ts", "ts_mp2.ts"}), &Status);
    EXPECT_EQ(Status, 1);
    EXPECT_NE(Said.find("The sound of ts_mp2.ts differs from that of the first file, ts_ac3.ts"),
              std::string::npos)
        << Said;
    Said = Cli("join --video-only" + JoinArguments(Out, {"ts_ac3.ts", "ts_pids.ts"}).substr(4), &Status);
    EXPECT_EQ(Status, 1);
    EXPECT_NE(Said.find("A transport stream cannot be joined without its sound."), std::string::npos) << Said;
    EXPECT_FALSE(std::filesystem::exists(Out));
}

} // namespace
} // namespace vantrel
