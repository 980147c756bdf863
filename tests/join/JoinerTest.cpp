#include "JoinerFixture.h"
#include "io/SysUtils.h"
#include "join/ElementaryPass.h"
#include "join/ProgramStreamPass.h"

#include "StreamChecks.h"
#include "io/InputFile.h"
#include "mpeg/StartCodes.h"
#include "mpeg/TimeStamps.h"
#include "mpeg/ps/PackSyntax.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {
namespace {

using namespace test;

TEST_F(JoinerTest, EmptyListMakesAnEmptyOutput)
{
    EXPECT_EQ(JoinFiles({}, true), "");
    EXPECT_TRUE(Output().empty());
    EXPECT_TRUE(Log.Positions.empty());
    EXPECT_EQ(Log.Caption, "Joining...");
    EXPECT_EQ(Log.Text, "The selected file is being joined. Please wait...");
    EXPECT_TRUE(Log.Shown);
    JoinFiles({Input("a.mpg", FileA), Input("b.mpg", FileB)}, true);
    EXPECT_EQ(Log.Text, "The selected files are being joined. Please wait...");
}

// What the joined stream keeps of a later file's system header: a padding
// packet of its length, so that its pack keeps its size.
TBytes PaddingFor(const TBytes& SystemHeader)
{
    TBytes Padding(SystemHeader.size(), 0xFF);
    std::copy_n(SystemHeader.begin(), 6, Padding.begin());
    Padding[3] = 0xBE;
    Padding[6] = 0x0F;
    return Padding;
}
const TBytes BlankedEndCode = {0x80, 0xFF, 0xFF, 0xFF};

TEST_F(JoinerTest, WithoutRestampingEveryByteIsKept)
{
    EXPECT_EQ(JoinFiles({Input("a.mpg", FileA), Input("b.mpg", FileB)}, false), "");
    // The first file's end code would end the stream for a player: it gives
    // way to bytes that cannot form a start code; the last file's stays.
    EXPECT_EQ(Output(), Concat({APack, ASystem, AVideo, AAudio, BlankedEndCode, BPack, PaddingFor(BSystem),
                                BVideo, BVideo2, ProgramEndCode}));
    EXPECT_EQ(Log.Positions.back(), 100);
}

TEST_F(JoinerTest, RestampingPatchesOnlyTheTimeStamps)
{
    EXPECT_EQ(JoinFiles({Input("a.mpg", FileA), Input("b.mpg", FileB)}, true), "");
    // The first file's video ends one frame (3600 ticks) after its PTS 9000;
    // the second file's PTS 4000 lands there, and its pack clock moves with
    // it (500 + 8600). Stuffing, STD fields, DTS and lengths stay.
    const TBytes Expected = Concat({
        APack,
        ASystem,
        AVideo,
        AAudio,
        BlankedEndCode,
        PackHeader(500 + 8600, 2000),
        PaddingFor(BSystem),
        PESPacket(0xE0, Concat({{0xFF}, TimeStampField(2, 4000 + 8600)}), Filled(20, 0xB1)),
        BVideo2,
        ProgramEndCode,
    });
    EXPECT_EQ(Output(), Expected);
}

// Program streams, in the shape DVD muxers write them: 14-byte packs with the
// clock's 27 MHz part and stuffing, MPEG-2 PES headers, a navigation pack.
TBytes ProgramPack(std::int64_t SCR, std::uint32_t Extension)
{
    TBytes Pack = {0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1, 0x01, 0x89, 0xC3, 0xF9, 0xFF};
    Pack[8] = static_cast<std::uint8_t>(0x04 | Extension >> 7);
    Pack[9] = static_cast<std::uint8_t>(Extension << 1 | 1);
    PatchProgramSCR(&Pack[SCRFieldOffset], SCR);
    return Pack;
}
TBytes ProgramVideo(std::int64_t PTS, std::optional<std::int64_t> ESCR)
{
    TBytes Header =
        Concat({{0x81, static_cast<std::uint8_t>(ESCR ? 0xA0 : 0x80), 0}, TimeStampField(2, PTS)});
    if (ESCR) {
        TBytes Field = {0x04, 0, 0x04, 0, 0x04, 0x01};
        PatchProgramSCR(Field.data(), *ESCR);
        Header = Concat({Header, Field});
    }
    Header[2] = static_cast<std::uint8_t>(Header.size() - 3);
    return PESPacket(0xE0, Header, Filled(40, 0xA1));
}
// Presentation control (VOBU start and end times, cell time) and search
// information (the pack's clock, cell time): the fields the join moves.
TBytes Navigation(std::uint32_t Start, std::uint32_t End, std::uint8_t CellFrame, std::uint32_t SCR)
{
    TBytes PCI = Filled(60, 0), DSI = Filled(60, 0);
    PCI[0] = 0, DSI[0] = 1;
    const auto Put = [](TBytes& Bytes, std::size_t At, std::uint32_t V) {
        for (int I = 0; I < 4; ++I)
            Bytes[At + I] = static_cast<std::uint8_t>(V >> (24 - 8 * I));
    };
    Put(PCI, 13, Start), Put(PCI, 17, End), Put(PCI, 25, 0x40u | CellFrame);
    Put(DSI, 1, SCR), Put(DSI, 29, 0x0100u << 8 | 0x40u | CellFrame); // 00:01:00 and frames
    return Concat({PESPacket(0xBF, {}, PCI), PESPacket(0xBF, {}, DSI)});
}

TEST_F(JoinerTest, ProgramStreamsMoveClockStampsAndNavigationTimes)
{
    const TBytes A = Concat({ProgramPack(1000, 7), SystemHeader(6), ProgramVideo(9000, std::nullopt)});
    const TBytes B = Concat({ProgramPack(500, 123), SystemHeader(6), Navigation(4000, 7600, 2, 500),
                             ProgramVideo(4000, 3000), ProgramEndCode});
    Joiner.Inputs = MeasuredInputs({Input("a.vob", A), Input("b.vob", B)});
    for (TInputRecord& Record : Joiner.Inputs)
        Record.Info.ProgramStream = true;
    Joiner.OutputFileName = Dir.File("out.mpg");
    Joiner.RecalcTimecodes = true;
    Joiner.FrameRate = 25;
    Joiner.Execute();
    // A's picture ends a frame after 9000: B moves on by 8600 ticks, and its
    // cell times by the 0.04 s before it (a frame). Its system header stays
    // one: an authoring tool finds the navigation pack by it. The pack
    // clock's 27 MHz part, the ESCR's and every other byte stay.
    EXPECT_EQ(Output(), Concat({A, ProgramPack(9100, 123), SystemHeader(6), Navigation(12600, 16200, 3, 9100),
                                ProgramVideo(12600, 11600), ProgramEndCode}));
}

TEST_F(JoinerTest, TheFirstFileIsWrittenUnchangedWhateverItHolds)
{
    // Private stream 2, a header that runs past its packet, a byte between packets.
    const TBytes Private = PESPacket(0xBF, {}, {0x20, 1, 2, 3, 4, 5});
    const TBytes Overrun = Concat({{0, 0, 1, 0xE0, 0, 2, 0xFF, 0xFF}, {0x0F}});
    const TBytes File = Concat({APack, Private, Overrun, AAudio});
    for (const bool Restamp : {true, false}) {
        EXPECT_EQ(JoinFiles({Input("a.mpg", File)}, Restamp), "");
        EXPECT_EQ(Output(), File) << Restamp;
    }
    EXPECT_EQ(JoinFiles({Input("a.mpg", File)}, true, true), "");
    EXPECT_TRUE(Output().empty()); // the broken 0xE0 packet adds no payload
}

TEST_F(JoinerTest, LaterSystemHeadersRaiseTheKeptOne)
{
    // The first file promises a rate bound of 100 and an audio buffer of
    // 4 KB; the second needs 3528 and 6 KB.
    const TBytes Kept = {0, 0, 1, 0xBB, 0, 9, 0x80, 0x00, 0xC9, 0x04, 0xE1, 0xFF, 0xC0, 0xC0, 0x20};
    const TBytes Later = {0, 0, 1, 0xBB, 0, 9, 0x80, 0x1B, 0x91, 0x04, 0xE1, 0xFF, 0xC0, 0xC0, 0x30};
    EXPECT_EQ(
        JoinFiles({Input("a.mpg", Concat({APack, Kept, AAudio})), Input("b.mpg", Concat({BPack, Later}))},
                  false),
        "");
    const TBytes Out = Output();
    EXPECT_EQ(TBytes(Out.begin() + 12, Out.begin() + 27),
              (TBytes{0, 0, 1, 0xBB, 0, 9, 0x80, 0x1B, 0x91, 0x04, 0xE1, 0xFF, 0xC0, 0xC0, 0x30}));
    EXPECT_EQ(TBytes(Out.end() - 15, Out.end()), PaddingFor(Later));
}

TEST_F(JoinerTest, VideoOnlyWritesTheVideoPayloadAndCopiesElementaryStreams)
{
    const TBytes Elementary = {0, 0, 1, 0xB3, 0x16, 0x01, 0x20, 0x13, 9, 9};
    EXPECT_EQ(
        JoinFiles({Input("a.mpg", FileA), Input("b.mpg", FileB), Input("v.m1v", Elementary)}, true, true),
        "");
    // Stream 0xE1 of the second file is dropped.
    EXPECT_EQ(Output(), Concat({Filled(40, 0xA1), Filled(20, 0xB1), Elementary}));
}

// Found by fuzzing: an empty payload first in a file reaches the output from
// an empty buffer, whose data() is null; the sanitizer build checks it.
TEST_F(JoinerTest, EmptyPayloadsFirstInAFile)
{
    const TBytes File =
        Concat({APack, PESPacket(0xE0, TimeStampField(2, 9000), {}), PESPacket(0xC0, {0x0F}, {})});
    for (const bool VideoOnly : {false, true}) {
        EXPECT_EQ(JoinFiles({Input("a.mpg", File)}, true, VideoOnly), "");
        EXPECT_EQ(Output().size(), VideoOnly ? 0u : 12u + 11u + 7u);
    }
}

TEST_F(JoinerTest, PacketCutByTheEndOfTheFileIsZeroFilled)
{
    TBytes Cut = Concat({APack, AAudio, PESPacket(0xE0, {0x0F}, Filled(100, 0xEE))});
    const std::size_t Full = Cut.size();
    Cut.resize(Full - 60);
    EXPECT_EQ(JoinFiles({Input("a.mpg", Cut)}, false), "");
    const TBytes Out = Output();
    ASSERT_EQ(Out.size(), Full);
    EXPECT_EQ(TBytes(Out.begin(), Out.begin() + static_cast<std::ptrdiff_t>(Cut.size())), Cut);
    EXPECT_EQ(TBytes(Out.end() - 60, Out.end()), Filled(60, 0));
}

TEST_F(JoinerTest, CancelDuringAWalkLeavesThePacketsBeforeIt)
{
    // Polls: one a file while the join is planned, one before the first
    // file, then one per packet. The sixth poll comes with the third packet,
    // which is not written; the second file is not written either.
    Log.CancelAtPoll = 6;
    EXPECT_EQ(JoinFiles({Input("a.mpg", FileA), Input("b.mpg", FileB)}, false), "");
    EXPECT_TRUE(Joiner.Cancelled());
    EXPECT_EQ(Output(), Concat({APack, ASystem}));
    EXPECT_EQ(Log.Polls, 6);
    // A cancel while the join is planned leaves no output.
    ASSERT_EQ(::unlink(Dir.File("out.mpg").c_str()), 0);
    Log = {};
    Log.CancelAtPoll = 2;
    EXPECT_EQ(JoinFiles({Input("a.mpg", FileA), Input("b.mpg", FileB)}, false), "");
    EXPECT_TRUE(Joiner.Cancelled());
    EXPECT_FALSE(FileExists(Dir.File("out.mpg")));
}

TEST_F(JoinerTest, CancelDuringACopyKeepsTheChunkReadLast)
{
    Log.CancelAtPoll = 2;
    const TBytes Data = Filled(10000, 7);
    EXPECT_EQ(JoinFiles({Input("a.bin", Data), Input("b.bin", Data)}, false), "");
    EXPECT_EQ(Output().size(), 4096u);
}

TEST_F(JoinerTest, CopiedFilesReportEveryChunk)
{
    const struct
    {
        std::vector<std::size_t> Sizes;
        std::vector<std::int32_t> Positions;
    } Cases[] = {
        {{10000}, {40, 81, 100}}, // 4096, 4096, 1808
        {{8192}, {50, 100, 100}}, // 4096, 4096 and a last read of nothing
        {{1000, 3000}, {25, 100}},
        {{0}, {0}},
    };
    for (const auto& C : Cases) {
        std::vector<std::string> Files;
        for (std::size_t Size : C.Sizes)
            Files.push_back(Input("f" + std::to_string(Files.size()), Filled(Size, 1)));
        Log = {};
        EXPECT_EQ(JoinFiles(Files, false), "");
        EXPECT_EQ(Log.Positions, C.Positions) << C.Sizes.front();
    }
}

// A packet cut by the end of a file is held back: the file that continues
// the recording gives back its rest, byte for byte; any other file after it
// finds the packet filled up with zeros to its length, in its place.
TEST_F(JoinerTest, ACutPacketWaitsForTheFileThatContinuesIt)
{
    const TBytes Whole = ReadFile(Stream("ff_pal_b.mpg"));
    std::size_t Packet = 0;
    for (const std::size_t Offset : PacketOffsets(Whole))
        if (Offset > Whole.size() / 2 && Whole[Offset + 3] == 0xE0) {
            Packet = Offset;
            break;
        }
    ASSERT_GT(Packet, 0u);
    const std::size_t Length = 6 + ((Whole[Packet + 4] << 8) | Whole[Packet + 5]), Cut = Packet + 100;
    const auto At = [&](std::size_t Offset) { return Whole.begin() + static_cast<std::ptrdiff_t>(Offset); };
    const std::string A = Input("1.mpg", TBytes(Whole.begin(), At(Cut))),
                      B = Input("2.mpg", TBytes(At(Cut), Whole.end()));
    Joiner.FrameRate = 25;
    EXPECT_EQ(JoinFiles({A, B}, true), "");
    EXPECT_TRUE(Output() == Whole);

    EXPECT_EQ(JoinFiles({A, Stream("ff_pal.mpg")}, true), "");
    const TBytes Out = Output();
    ASSERT_GT(Out.size(), Packet + Length + 4);
    EXPECT_TRUE(std::equal(Whole.begin(), At(Cut), Out.begin()));
    EXPECT_TRUE(std::all_of(Out.begin() + static_cast<std::ptrdiff_t>(Cut),
                            Out.begin() + static_cast<std::ptrdiff_t>(Packet + Length),
                            [](auto B) { return B == 0; }));
    EXPECT_EQ(TBytes(Out.begin() + static_cast<std::ptrdiff_t>(Packet + Length),
                     Out.begin() + static_cast<std::ptrdiff_t>(Packet + Length + 4)),
              (TBytes{0, 0, 1, 0xBA}));
}

// Video elementary streams from mpeg2enc end with a sequence end code: inside
// the joined stream it would end the video, so it turns into zeros; the last
// one stays, and no other byte changes.
TEST_F(JoinerTest, ElementaryStreamsKeepOnlyTheLastSequenceEndCode)
{
    const TBytes A = ReadFile(Stream("mplex_dvd1.m2v")), B = ReadFile(Stream("mplex_dvd2.m2v"));
    const TBytes SequenceEnd = {0, 0, 1, 0xB7};
    ASSERT_TRUE(std::equal(SequenceEnd.begin(), SequenceEnd.end(), A.end() - 4));
    EXPECT_EQ(JoinFiles({Stream("mplex_dvd1.m2v"), Stream("mplex_dvd2.m2v"), Stream("mplex_dvd1.m2v")}, true),
              "");
    TBytes Expected = Concat({A, B, A});
    std::fill_n(Expected.begin() + static_cast<std::ptrdiff_t>(A.size() - 4), 4, 0);
    std::fill_n(Expected.begin() + static_cast<std::ptrdiff_t>(A.size() + B.size() - 4), 4, 0);
    const TBytes Out = Output();
    ASSERT_EQ(Out.size(), Expected.size());
    // mpeg2enc's groups are closed: no broken link is set.
    EXPECT_TRUE(Out == Expected);

    // The video alone of the program streams that carry those pictures: the
    // same elementary streams, the same end codes blanked.
    Joiner.Inputs = {ProbeInput(Stream("mplex_dvd1.mpg")), ProbeInput(Stream("mplex_dvd2.mpg")),
                     ProbeInput(Stream("mplex_dvd1.mpg"))};
    Joiner.VideoOnly = true;
    Joiner.Execute();
    EXPECT_TRUE(Output() == Expected);
    Joiner.VideoOnly = false;

    // One across the joiner's copy chunks.
    const std::size_t Chunk = CopyChunkSize;
    TBytes Split = Concat(
        {{0, 0, 1, 0xB3, 0x16, 0x01, 0x20, 0x13}, Filled(Chunk - 10, 0x55), SequenceEnd, Filled(100, 0x55)});
    EXPECT_EQ(JoinFiles({Input("split.m2v", Split), Stream("mplex_dvd1.m2v")}, true), "");
    std::fill_n(Split.begin() + static_cast<std::ptrdiff_t>(Chunk - 2), 4, 0);
    EXPECT_TRUE(Output() == Concat({Split, A}));
}

// A stream whose channel is full: each pack (one picture) takes exactly the
// time of a frame at its mux rate, every picture decodes Delay ticks after
// its pack starts, and every payload byte tells its pack.
TBytes FullRateStream(int Packs, std::int64_t Delay, std::uint8_t Tag)
{
    constexpr std::uint32_t MuxRate = 1000; // 50,000 bytes a second: 2000 bytes a frame
    TBytes File;
    for (int K = 0; K < Packs; ++K) {
        TBytes Payload = Filled(2000 - 12 - 6 - 5, static_cast<std::uint8_t>(Tag + K));
        std::copy_n(TBytes{0, 0, 1, 0x00}.begin(), 4, Payload.begin()); // a picture starts
        const TBytes Pack = Concat(
            {PackHeader(K * 3600, MuxRate), PESPacket(0xE0, TimeStampField(2, K * 3600 + Delay), Payload)});
        File.insert(File.end(), Pack.begin(), Pack.end());
    }
    return File;
}

TEST_F(JoinerTest, EveryPacketIsKeptWhereTheJointsScheduleRunsPastItsLookAhead)
{
    // The later file's clock starts well before its pictures; the earlier
    // file's channel is busy until its last picture: every pack of the later
    // file arrives behind its own clock, and at the full rate it never
    // catches up, so the joint's schedule takes every pack it looked at.
    const TBytes A = FullRateStream(50, 7200, 0x10);
    const TBytes B = FullRateStream(int(TProgramStreamPass::LeadPacks) + 80, 36000, 0x80);
    EXPECT_EQ(JoinFiles({Input("a.mpg", A), Input("b.mpg", B)}, true), "");
    const TPacketsKept Kept = CheckPacketsKept({A, B}, Output());
    EXPECT_EQ(Kept.Faults, "");
    EXPECT_EQ(Kept.DroppedPacks, 0);
    EXPECT_EQ(Output().size(), A.size() + B.size());
    // Each later pack waits for the one before: the clock never runs back.
    EXPECT_EQ(CheckClock(Output()).SCRNotIncreasing, 0);
    EXPECT_EQ(CheckDecoderModel(Output()).Late, 0);
}

// A later file continues the recording only when every one of its streams
// does, and completes a packet cut by the end of the file before only when it
// begins with exactly what the packet lacks. Otherwise it is a file of its
// own: the cut packet is zero-filled, and nothing of the next file goes into it.
TEST_F(JoinerTest, OnlyTheRestOfARecordingContinuesIt)
{
    const TBytes Whole = ReadFile(Stream("ff_pal_b.mpg"));
    const auto At = [&](std::size_t Offset) { return Whole.begin() + static_cast<std::ptrdiff_t>(Offset); };
    const std::vector<std::size_t> Offsets = PacketOffsets(Whole);
    const std::size_t Pack = *std::find_if(Offsets.begin(), Offsets.end(), [&](std::size_t O) {
        return O > Whole.size() / 2 && Whole[O + 3] == 0xBA;
    });
    const std::string A = Input("1.mpg", TBytes(Whole.begin(), At(Pack)));
    TBytes Rest(At(Pack), Whole.end());
    EXPECT_EQ(JoinFiles({A, Input("2.mpg", Rest)}, true), "");
    ASSERT_EQ(Joiner.Plan().Files.size(), 2u);
    EXPECT_TRUE(Joiner.Plan().Files[1].Continues);
    // Its sound on another stream: a stream the recording did not have.
    for (const std::size_t O : PacketOffsets(Rest))
        if (Rest[O + 3] == 0xC0)
            Rest[O + 3] = 0xC1;
    EXPECT_EQ(JoinFiles({A, Input("2.mpg", Rest)}, true), "");
    EXPECT_FALSE(Joiner.Plan().Files[1].Continues);

    // Cut inside a video packet; the piece after it lost its first 1000 bytes.
    const std::size_t Packet = *std::find_if(Offsets.begin(), Offsets.end(), [&](std::size_t O) {
        return O > Whole.size() / 2 && Whole[O + 3] == 0xE0 && ((Whole[O + 4] << 8) | Whole[O + 5]) > 1200;
    });
    const std::size_t Length = 6 + ((Whole[Packet + 4] << 8) | Whole[Packet + 5]), Cut = Packet + 100;
    EXPECT_EQ(JoinFiles({Input("1.mpg", TBytes(Whole.begin(), At(Cut))),
                         Input("2.mpg", TBytes(At(Cut + 1000), Whole.end()))},
                        true),
              "");
    EXPECT_FALSE(Joiner.Plan().Files[1].Continues);
    const TBytes Out = Output();
    ASSERT_GT(Out.size(), Packet + Length + 4);
    EXPECT_TRUE(std::equal(Whole.begin(), At(Cut), Out.begin()));
    EXPECT_TRUE(std::all_of(Out.begin() + static_cast<std::ptrdiff_t>(Cut),
                            Out.begin() + static_cast<std::ptrdiff_t>(Packet + Length),
                            [](auto B) { return B == 0; }));
    // The next file's first packet right after, whole.
    EXPECT_EQ(TBytes(Out.begin() + static_cast<std::ptrdiff_t>(Packet + Length),
                     Out.begin() + static_cast<std::ptrdiff_t>(Packet + Length + 3)),
              (TBytes{0, 0, 1}));
    EXPECT_GE(Out[Packet + Length + 3], 0xBA);

    // Another clip, after junk as long as the cut packet's rest less its
    // first packet: that packet is the clip's own and stays whole.
    const TBytes Other = ReadFile(Stream("ff_pal.mpg"));
    const std::size_t First = PacketOffsets(Other)[2], Next = PacketOffsets(Other)[3];
    ASSERT_LT(Next - First, Length - 10);
    TBytes Junk(Length - 10 - (Next - First), 0xA5);
    Junk.insert(Junk.end(), Other.begin() + static_cast<std::ptrdiff_t>(First), Other.end());
    EXPECT_EQ(JoinFiles({Input("1.mpg", TBytes(Whole.begin(), At(Packet + 10))), Input("2.mpg", Junk)}, true),
              "");
    const TBytes CutFile(Whole.begin(), At(Packet + 10));
    // Its whole packets, the cut one zero-filled, and every packet of the clip.
    EXPECT_EQ(PacketOffsets(Output()).size(), PacketOffsets(CutFile).size() + 1 + PacketOffsets(Junk).size());
}

} // namespace
} // namespace vantrel
