// What a join of transport streams changes in their packets, module by
// module: the tables on the output's PIDs and versions, a piece of a
// recording told from the piece before, a PES header rewritten across two
// packets, H.264's end units blanked, the PCR packets a file's tail takes
// before a joint.
#include "TestSupport.h"
#include "TransportCheck.h"
#include "TransportSupport.h"
#include "join/Joiner.h"
#include "join/JointPackets.h"
#include "join/PIDMap.h"
#include "join/TableEdits.h"
#include "join/TransportContinuation.h"
#include "join/TransportPayloads.h"
#include "mpeg/PESHeader.h"
#include "mpeg/ts/ProgramTables.h"
#include "mpeg/ts/Sections.h"
#include "mpeg/ts/ServiceTable.h"
#include "mpeg/video/H264.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using namespace test;

TStreamInfo Stream(std::uint16_t PID, TStreamKind Kind, TStreamCoding Coding, TAudioCodec Codec = acUnknown)
{
    TStreamInfo S;
    S.PID = PID;
    S.Kind = Kind;
    S.Coding = Coding;
    S.AudioCodec = Codec;
    return S;
}

// A channel as the first file has it (program 1, PMT 0x1000, video 0x100,
// MPEG audio 0x101, AC-3 0x102), and as a later recording put it on other
// PIDs and numbered it 28106, its AC-3 listed before its MPEG audio.
TMediaInfo Channel(bool Later)
{
    TMediaInfo Info;
    TProgramInfo P;
    P.Number = Later ? 28106 : 1;
    P.PMTPID = Later ? 0x1100 : 0x1000;
    P.PCRPID = Later ? 0x3F0 : 0x100;
    const std::uint16_t Sound = Later ? 0x201 : 0x101, AC3 = Later ? 0x3F2 : 0x102;
    P.Streams = {Stream(P.PCRPID, skVideo, scMPEG2Video)};
    if (Later)
        P.Streams.push_back(Stream(AC3, skSound, scAC3, acAC3));
    P.Streams.push_back(Stream(Sound, skSound, scMPEGAudio, acMPEG));
    if (!Later)
        P.Streams.push_back(Stream(AC3, skSound, scAC3, acAC3));
    Info.Programs = {P};
    return Info;
}

TBytes PATBody(const std::vector<std::pair<std::uint16_t, std::uint16_t>>& Programs)
{
    TBytes Body;
    for (const auto& [Number, PID] : Programs)
        Body.insert(Body.end(), {static_cast<std::uint8_t>(Number >> 8), static_cast<std::uint8_t>(Number),
                                 static_cast<std::uint8_t>(0xE0 | PID >> 8), static_cast<std::uint8_t>(PID)});
    return Body;
}

bool CRCHolds(const std::vector<std::uint8_t>& Section)
{
    return SectionCrc(Section.data(), Section.size()) == 0;
}

TEST(TransportTables, ALaterFilesTablesTakeTheFirstFilesPIDsAndNumbers)
{
    const TPIDMap Map(Channel(false), Channel(true), 0);
    EXPECT_EQ(Map.PID(0x3F0), 0x100);
    EXPECT_EQ(Map.PID(0x201), 0x101);
    EXPECT_EQ(Map.PID(0x3F2), 0x102);
    EXPECT_EQ(Map.PID(0x1100), 0x1000);
    const TBytes PMT = Section(PMTTableId, 28106, 3,
                               PMTBody(0x3F0, {{0x02, 0x3F0, {}}, {0x81, 0x3F2, {}}, {0x03, 0x201, {}}}));
    const std::optional<std::vector<std::uint8_t>> Mapped = MapSection(PMT, Map);
    ASSERT_TRUE(Mapped);
    EXPECT_EQ(*Mapped, Section(PMTTableId, 1, 3,
                               PMTBody(0x100, {{0x02, 0x100, {}}, {0x81, 0x102, {}}, {0x03, 0x101, {}}})));
    const TBytes PAT = Section(PATTableId, 7, 0, PATBody({{0, 0x10}, {28106, 0x1100}}));
    EXPECT_EQ(*MapSection(PAT, Map), Section(PATTableId, 7, 0, PATBody({{0, 0x10}, {1, 0x1000}})));
}

// The first file's channel and a second one (program 2, PMT 0x1010, video
// 0x200) in one multiplex.
TMediaInfo Multiplex()
{
    TMediaInfo Two = Channel(false);
    TProgramInfo Other = Two.Programs.front();
    Other.Number = 2, Other.PMTPID = 0x1010, Other.PCRPID = 0x200;
    Other.Streams = {Stream(0x200, skVideo, scMPEG2Video)};
    Two.Programs.push_back(Other);
    return Two;
}

TEST(TransportTables, AProgramChosenKeepsItsEntriesAlone)
{
    const TMediaInfo Two = Multiplex();
    const TPIDMap Map(Two, 2);
    EXPECT_FALSE(Map.Keeps(0x100));
    EXPECT_TRUE(Map.Keeps(0x200));
    EXPECT_TRUE(Map.Keeps(PATPID));
    const std::optional<std::vector<std::uint8_t>> PAT =
        MapSection(Section(PATTableId, 7, 0, PATBody({{1, 0x1000}, {2, 0x1010}})), Map);
    ASSERT_TRUE(PAT);
    EXPECT_EQ(*PAT, Section(PATTableId, 7, 0, PATBody({{2, 0x1010}})));
    EXPECT_TRUE(CRCHolds(*PAT));
    EXPECT_FALSE(MapSection(Section(PMTTableId, 1, 0, PMTBody(0x100, {{0x02, 0x100, {}}})), Map));
}

// An SDT body: original_network_id, then each service as its id, flags,
// and a service descriptor (0x48) of type 1 with its provider and name.
TBytes SDTBody(const std::vector<std::pair<std::uint16_t, std::string>>& Services)
{
    TBytes Body = {0x00, 0x01, 0xFF};
    for (const auto& [Id, Name] : Services) {
        const auto Length = static_cast<std::uint8_t>(5 + Name.size());
        Body.insert(Body.end(), {static_cast<std::uint8_t>(Id >> 8), static_cast<std::uint8_t>(Id), 0xFC,
                                 0x80, static_cast<std::uint8_t>(Length + 2), 0x48, Length, 0x01, 0x02, 'Z',
                                 'V', static_cast<std::uint8_t>(Name.size())});
        Body.insert(Body.end(), Name.begin(), Name.end());
    }
    return Body;
}

// The tables that name every service of the multiplex keep the one chosen
// alone, its number the output's (a later recording's too): the SDT without
// the other services, the other services' events (EIT present/following
// and schedule) left out; another stream's (0x4F) stay as they are.
TEST(TransportTables, AProgramChosenIsTheOneServiceOfTheServiceTables)
{
    const TMediaInfo Two = Multiplex();
    // Then a recording of the first channel alone, numbered 28106.
    const TPIDMap First(Two, 1), Next(Two, Channel(true), 1);
    const TBytes SDT = Section(SDTActualTableId, 7, 5, SDTBody({{1, "Eins"}, {2, "Zwei"}}));
    const std::optional<std::vector<std::uint8_t>> Kept = MapSection(SDT, First);
    ASSERT_TRUE(Kept);
    EXPECT_EQ(*Kept, Section(SDTActualTableId, 7, 5, SDTBody({{1, "Eins"}})));
    EXPECT_TRUE(CRCHolds(*Kept));
    EXPECT_EQ(*MapSection(Section(SDTActualTableId, 7, 5, SDTBody({{2, "Zwei"}, {28106, "Eins"}})), Next),
              Section(SDTActualTableId, 7, 5, SDTBody({{1, "Eins"}})));
    EXPECT_EQ(*MapSection(SDT, TPIDMap(Two, 0)), SDT) << "all programs kept";
    const TBytes Events = {0x00, 0x01, 0x00, 0x01, 0x01, 0x4E};
    for (const std::uint8_t TableId : {0x4E, 0x50, 0x5F}) {
        EXPECT_FALSE(MapSection(Section(TableId, 2, 3, Events), First)) << int(TableId);
        EXPECT_EQ(*MapSection(Section(TableId, 28106, 3, Events), Next), Section(TableId, 1, 3, Events));
        EXPECT_TRUE(IsEditedTable(EITPID, TableId));
    }
    EXPECT_EQ(*MapSection(Section(0x4F, 2, 3, Events), First), Section(0x4F, 2, 3, Events));
}

// A table keeps the output's version while it says the same, and takes the
// next one (modulo 32) when it says something else, whatever its own.
TEST(TransportTables, VersionsStayTrueAcrossAJoint)
{
    TTableVersions Versions;
    const TTableKey Key{0x1000, PMTTableId, 1};
    const TBytes Body = PMTBody(0x100, {{0x02, 0x100, {}}});
    EXPECT_EQ(Versions.Shift(Key, Section(PMTTableId, 1, 4, Body)), 0)
        << "a table not seen keeps its version";
    Versions.Written(Key, Section(PMTTableId, 1, 31, Body));
    const struct
    {
        std::uint8_t Version;
        TBytes Body;
        int Shift;
    } Cases[] = {
        {31, Body, 0},
        {1, Body, 30},
        {31, PMTBody(0x100, {{0x02, 0x100, {}}, {0x03, 0x101, {}}}), 1},
        {5, PMTBody(0x101, {{0x02, 0x100, {}}}), 27},
    };
    for (const auto& Case : Cases)
        EXPECT_EQ(Versions.Shift(Key, Section(PMTTableId, 1, Case.Version, Case.Body)), Case.Shift)
            << int(Case.Version);
    std::vector<std::uint8_t> Moved = Section(PMTTableId, 1, 1, Body);
    SetSectionVersion(Moved, 31);
    EXPECT_EQ(Moved, Section(PMTTableId, 1, 31, Body));
}

// 188-byte packets of PID 0x100 with a counter and a mark in their payload,
// or null packets.
TBytes Packets(int From, int To, bool Null = false)
{
    TBytes Bytes;
    for (int I = From; I < To; ++I) {
        const TBytes P = TSPacket({static_cast<std::uint16_t>(Null ? NullPID : 0x100),
                                   false,
                                   static_cast<std::uint8_t>(I & 15),
                                   {},
                                   TBytes(184, static_cast<std::uint8_t>(I))});
        Bytes.insert(Bytes.end(), P.begin(), P.end());
    }
    return Bytes;
}

TEST(TransportPieces, ACutPacketIsCompletedByExactlyWhatItLacks)
{
    const TBytes Packet = Packets(0, 1);
    const TBytes Cut(Packet.begin(), Packet.begin() + 100);
    EXPECT_TRUE(CompletesCutPacket(Cut, 88, 188));
    EXPECT_FALSE(CompletesCutPacket(Cut, 87, 188));
    EXPECT_FALSE(CompletesCutPacket(TBytes(Packet.begin() + 1, Packet.begin() + 101), 88, 188))
        << "what the cut left starts no packet";
    EXPECT_FALSE(CompletesCutPacket({}, 0, 188));
    EXPECT_TRUE(CompletesCutPacket(TBytes{1, 2, 3}, 189, 192)) << "cut inside an arrival stamp";
}

TEST(TransportPieces, ARepeatOfThePieceBeforeIsFoundByItsPackets)
{
    const TBytes Tail = Packets(0, 10);
    const TBytes Next = Packets(10, 11);
    const TBytes Cut(Next.begin(), Next.begin() + 50);
    const struct
    {
        TBytes Head;
        TBytes Cut;
        std::size_t Repeat;
        const char* Why;
    } Cases[] = {
        {Packets(7, 14), {}, 3, "the last three again"},
        {Packets(9, 14), {}, 0, "one packet is no repeat"},
        {Packets(10, 14), {}, 0, "no repeat"},
        {Packets(4, 6), {}, 0, "packets from before the end"},
        {Packets(8, 14), Cut, 2, "the cut packet follows whole"},
        {Concat({Packets(8, 10), Packets(11, 12)}), Cut, 0, "the cut packet does not follow"},
    };
    for (const auto& Case : Cases)
        EXPECT_EQ(RepeatedPackets(Tail, Case.Cut, Case.Head, 188), Case.Repeat) << Case.Why;
    // Null packets alike from file to file tell nothing.
    EXPECT_EQ(RepeatedPackets(Concat({Tail, Packets(0, 5, true)}), {}, Packets(0, 8, true), 188), 0u);
}

// A PES header whose stamps run into the next packet of its PID is read
// ahead, moved, and given back a packet at a time.
TEST(TransportPayloads, AHeaderAcrossTwoPacketsIsMovedWhole)
{
    TJoinState State;
    State.Line.Reset(25);
    State.Line.BeginFile(900000);
    State.Line.Delay(9000);
    const TBytes Header = Concat({{0, 0, 1, 0xE0, 0, 0, 0x80, 0xC0, 10},
                                  TimeStampField(3, 903600),
                                  TimeStampField(1, 900000),
                                  {0, 0, 1, 0xB3}});
    // Ten bytes in a packet mostly adaptation field, the rest in the next.
    TBytes First = TSPacket({0x100, true, 0, {0x00}, TBytes(Header.begin(), Header.begin() + 10)});
    TBytes Second = TSPacket({0x100, false, 1, {}, TBytes(Header.begin() + 10, Header.end())});
    TTransportPacket P1, P2;
    ASSERT_TRUE(DecodeTransportPacket(First.data(), 188, 0, P1));
    ASSERT_TRUE(DecodeTransportPacket(Second.data(), 188, 188, P2));
    ASSERT_EQ(P1.PayloadLength, 10);
    TFilePlan Plan;
    TPayloadContext Context;
    Context.State = &State;
    Context.Plan = &Plan;
    Context.SourceSize = 376;
    Context.Peek = [&](std::uint16_t, std::size_t Count, bool) {
        return std::vector<std::uint8_t>(Second.begin() + P2.PayloadOffset,
                                         Second.begin() + P2.PayloadOffset + static_cast<long>(Count));
    };
    TStreamEdit Edit({0x100, 0x100, scMPEG2Video, true, 0, {}});
    Edit.Edit(Context, P1, First.data(), false);
    Edit.Edit(Context, P2, Second.data(), false);
    TBytes Written(First.begin() + P1.PayloadOffset, First.end());
    Written.insert(Written.end(), Second.begin() + P2.PayloadOffset, Second.begin() + P2.PayloadOffset + 13);
    TPESInfo PES;
    ASSERT_TRUE(DecodePESHeader(Written, 0, PES));
    EXPECT_EQ(PES.PTS, 903600 + 9000);
    EXPECT_EQ(PES.DTS, 900000 + 9000);
    EXPECT_EQ(State.LastDecode.at(0x100), 909000);
    EXPECT_TRUE(std::equal(Header.begin() + 19, Header.end(), Written.begin() + 19)) << "the video stays";
}

// The quick way passes a run of plain video packets up to the first that
// holds a sequence end code, or begins one that the next packet ends,
// wherever it stands in the payload; a byte 0xB7 alone stops nothing, and
// the last file's end codes stay.
TEST(TransportPayloads, ARunOfPlainPacketsEndsAtAnEndCode)
{
    constexpr std::size_t None = SIZE_MAX;
    const struct
    {
        const char* Why;
        std::size_t At; // where the code begins in the stream's payload
        bool Last;
        std::size_t Passed;
    } Cases[] = {
        {"no end code", None, false, 5},
        {"a byte 0xB7 alone", 184 * 2 + 50, false, 5},
        {"at a payload's first byte", 184 * 3, false, 2},
        {"amid a payload", 184 * 3 + 90, false, 2},
        {"begun in the packet before", 184 * 3 - 2, false, 1},
        {"its last byte first in the next payload", 184 * 3 - 3, false, 1},
        {"in the last file", 184 * 3, true, 5},
    };
    for (const auto& Case : Cases) {
        TBytes Data = Filled(184 * 7, 0x55);
        if (Case.At == 184 * 2 + 50)
            Data[Case.At] = 0xB7;
        else if (Case.At != None)
            std::copy_n(TBytes{0, 0, 1, 0xB7}.begin(), 4, Data.begin() + static_cast<long>(Case.At));
        std::uint8_t Counter = 0;
        const std::vector<TBytes> Packets = PayloadPackets(0x100, Data, Counter, false);
        ASSERT_EQ(Packets.size(), 7u);
        // The run begins after the packet that starts the PES packet.
        TTransportPacket First;
        ASSERT_TRUE(DecodeTransportPacket(Packets[0].data(), 188, 0, First));
        TContinuityTracker Continuity;
        Continuity.Check(First);
        TBytes Ahead;
        for (std::size_t I = 1; I < Packets.size(); ++I)
            Ahead.insert(Ahead.end(), Packets[I].begin(), Packets[I].end());
        TPayloadContext Context;
        Context.Recalc = true;
        Context.Last = Case.Last;
        TEndCodeScan Ends(Context, Ahead);
        EXPECT_EQ(CountPlainPackets(Ahead, 188, 5, Ends, Continuity, [](std::uint16_t) { return true; }),
                  Case.Passed)
            << Case.Why;
    }
}

// The end of sequence and end of stream NAL units of a file before the
// last would stop a decoder inside the joined stream: they become zeros,
// also where a packet's end cuts them, and the last file keeps its own. An
// MPEG-2 stream's bytes of the same values are no end codes of its own.
struct TEndUnitCase
{
    const char* Why;
    TStreamCoding Coding;
    std::size_t Cut; // bytes of the units before the first packet's end
    bool Last;
    bool Blanked;
};

class H264EndUnits : public ::testing::TestWithParam<TEndUnitCase>
{
};
TEST_P(H264EndUnits, AreZerosInsideTheJoin)
{
    const TEndUnitCase& Case = GetParam();
    const TBytes Head = {0, 0, 1, 0xE0, 0, 0, 0x80, 0, 0, 0, 0, 0, 1, 0x09, 0x10};
    const TBytes Ends = {0, 0, 1, ntEndOfSequence, 0, 0, 1, ntEndOfStream};
    const TBytes Data = Concat({Head, Filled(184 - Head.size() - Case.Cut, 0x55), Ends, Filled(100, 0x66)});
    std::uint8_t Counter = 0;
    std::vector<TBytes> Packets = PayloadPackets(0x100, Data, Counter, false);
    ASSERT_EQ(Packets.size(), 2u);
    std::vector<TTransportPacket> Decoded(2);
    for (std::size_t I = 0; I < 2; ++I)
        ASSERT_TRUE(
            DecodeTransportPacket(Packets[I].data(), 188, 188 * static_cast<std::int64_t>(I), Decoded[I]));
    TJoinState State;
    State.Line.Reset(25);
    TFilePlan Plan;
    TPayloadContext Context;
    Context.State = &State;
    Context.Plan = &Plan;
    Context.Last = Case.Last;
    Context.SourceSize = 376;
    std::size_t Writing = 0;
    Context.Peek = [&](std::uint16_t, std::size_t Count, bool) {
        if (Writing + 1 >= Packets.size())
            return TBytes();
        const TBytes& Next = Packets[Writing + 1];
        const auto From = Next.begin() + Decoded[Writing + 1].PayloadOffset;
        return TBytes(From, From + static_cast<long>(std::min<std::size_t>(Count, Next.end() - From)));
    };
    TStreamEdit Edit({0x100, 0x100, Case.Coding, true, 0, {}});
    TBytes Written;
    for (; Writing < 2; ++Writing) {
        TBytes Out = Packets[Writing];
        Edit.Edit(Context, Decoded[Writing], Out.data(), false);
        Written.insert(Written.end(), Out.begin() + Decoded[Writing].PayloadOffset, Out.end());
    }
    TBytes Expected = Data;
    if (Case.Blanked)
        std::fill_n(Expected.begin() + 184 - static_cast<long>(Case.Cut), Ends.size(), 0);
    EXPECT_EQ(Written, Expected) << Case.Why;
}
INSTANTIATE_TEST_SUITE_P(
    Packets, H264EndUnits,
    ::testing::Values(TEndUnitCase{"in one packet", scH264, 0, false, true},
                      TEndUnitCase{"the first byte before the cut", scH264, 1, false, true},
                      TEndUnitCase{"the first two", scH264, 2, false, true},
                      TEndUnitCase{"the first three", scH264, 3, false, true},
                      TEndUnitCase{"the first unit, the second cut", scH264, 6, false, true},
                      TEndUnitCase{"all but the last byte", scH264, 7, false, true},
                      TEndUnitCase{"the last file's", scH264, 3, true, false},
                      TEndUnitCase{"MPEG-2 video", scMPEG2Video, 3, false, false}));

// The PCR packets a tail takes keep the clock within 40 ms of itself up to
// where the next file's packets begin, its bytes at the file's own rate.
// Another program's clock whose own PCRs have ended has a PCR packet with
// each of them (a multiplex kept whole), and those bytes take their time too.
// A recording longer than what a join follows near a file's end: the middle
// of its pictures passes the quick way, its counters and arrival stamps
// moved as the rest.
TEST(TransportPayloads, ThePlainPacketsOfALongRecordingMoveAsTheRest)
{
    TTempDir Dir;
    TJoiner Joiner;
    for (int I = 0; I < 3; ++I)
        Joiner.Inputs.push_back(ProbeInput(test::Stream("ts_long.m2ts"), false));
    Joiner.OutputFileName = Dir.File("out.m2ts");
    Joiner.RecalcTimecodes = true;
    Joiner.FrameRate = 25;
    Joiner.Execute();
    const TTransportCheck Check = CheckTransport(ReadFile(Dir.File("out.m2ts")));
    EXPECT_EQ(Check.ContinuityErrors, 0) << Check.Text();
    EXPECT_EQ(Check.ArrivalStepsBack, 0) << Check.Text();
    EXPECT_EQ(Check.Late, 0) << Check.Text();
}

TEST(TransportJointPackets, ATailsPCRsKeepTheirGaps)
{
    // Where the other clock's last PCR stands in the file: none (no other
    // clock), amid the tail, after it (its PCRs go on to the end), before it.
    const std::optional<std::int64_t> OtherEnds[] = {std::nullopt, 1200, 2000, 0};
    for (const std::optional<std::int64_t> OtherEnd : OtherEnds) {
        TTransportState T;
        T.LastPCR = 27000000;
        T.LastPCRAt = 10;
        constexpr double TicksPerByte = 27e6 / 500e3; // 4 Mbit/s
        for (int I = 1; I <= 400; ++I)
            T.SincePCR.emplace_back(1000 + I, 188.0 * I);
        T.Position = 188.0 * 401;
        TClockJoints Clocks;
        if (OtherEnd) {
            T.OtherPCR[0x102] = {27000000, *OtherEnd, 0, 0};
            Clocks[0x102].End = *OtherEnd;
        }
        TTransportEnd End;
        End.LastPCR = *T.LastPCR;
        End.TicksPerByte = TicksPerByte;
        const std::vector<TFillerPacket> Tail = PlanTailPCRs(T, Clocks, End);
        ASSERT_FALSE(Tail.empty());
        std::int64_t Last = *T.LastPCR;
        std::size_t Carrying = 0;
        for (const TFillerPacket& P : Tail) {
            EXPECT_LE(P.Arrival - Last, FillerPCRGap);
            EXPECT_GT(P.Arrival, Last);
            Last = P.Arrival;
            Carrying += OtherEnd && P.Before > *OtherEnd;
        }
        EXPECT_EQ(Carrying > 0, OtherEnd == 1200 || OtherEnd == 0);
        EXPECT_EQ(Carrying == Tail.size(), OtherEnd == 0);
        const double NextPCR = static_cast<double>(End.LastPCR) + (End.SinceLastPCR + PCRByte) * TicksPerByte;
        EXPECT_LE(NextPCR - static_cast<double>(Last), static_cast<double>(FillerPCRGap));
        EXPECT_NEAR(NextPCR,
                    27e6 + (188.0 * 401 + 188.0 * static_cast<double>(Tail.size() + Carrying)) * TicksPerByte,
                    300);
    }
}

} // namespace
} // namespace vantrel
