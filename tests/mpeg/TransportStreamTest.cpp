// The transport stream layer: packets and their fields, the walk with its
// sync found again, the continuity of counters, the CRC of sections, PES
// packets put back together; on ffmpeg's streams and hand-made packets.
#include "mpeg/CRC32.h"
#include "mpeg/PESHeader.h"
#include "mpeg/ts/ProgramTables.h"
#include "mpeg/ts/TransportPES.h"
#include "mpeg/ts/TransportStreamReader.h"

#include "TestSupport.h"
#include "TransportSupport.h"

#include <gtest/gtest.h>
#include <map>

namespace vantrel {
namespace {

using namespace test;

TEST(SectionCRC, IsMPEG2sCRC32)
{
    // The check value of CRC-32/MPEG-2 over the nine digits.
    const std::string Digits = "123456789";
    EXPECT_EQ(MPEGCRC32({reinterpret_cast<const std::uint8_t*>(Digits.data()), Digits.size()}), 0x0376E6E7u);
    // A section made here with the tests' own CRC holds; a bit changed anywhere does not.
    TBytes PAT = Section(PATTableId, 1, 0, {0, 1, 0xF0, 0});
    EXPECT_TRUE(CheckSectionCRC(PAT));
    for (std::size_t I = 0; I < PAT.size(); ++I) {
        TBytes Damaged = PAT;
        Damaged[I] ^= 0x10;
        EXPECT_FALSE(CheckSectionCRC(Damaged)) << I;
    }
    // Encoding after a change makes it whole again, with the same bytes a fresh one has.
    TBytes Changed = PAT;
    Changed[9] = 2;
    EncodeSectionCRC(Changed);
    EXPECT_EQ(Changed, Section(PATTableId, 1, 0, {0, 2, 0xF0, 0}));
}

struct TPESCase
{
    const char* Name;
    TBytes Bytes;
    bool Decodes;
    std::int64_t PTS = 0, DTS = 0, PTSAt = 0, DTSAt = 0, ESCRAt = 0, PayloadAt = 0;
    std::uint16_t PayloadLength = 0;
    std::uint32_t STD = 0;
};
class PESHeaderCases : public ::testing::TestWithParam<TPESCase>
{
};
TEST_P(PESHeaderCases, Decode)
{
    const TPESCase& C = GetParam();
    TPESInfo PES;
    ASSERT_EQ(DecodePESHeader(C.Bytes, 1000, PES), C.Decodes);
    if (!C.Decodes)
        return;
    EXPECT_EQ(PES.HasPTS, C.PTSAt != 0);
    EXPECT_EQ(PES.HasDTS, C.DTSAt != 0);
    EXPECT_EQ(PES.HasPTS ? PES.PTS : 0, C.PTS);
    EXPECT_EQ(PES.HasDTS ? PES.DTS : 0, C.DTS);
    EXPECT_EQ(PES.PTSPosition, C.PTSAt);
    EXPECT_EQ(PES.DTSPosition, C.DTSAt);
    EXPECT_EQ(PES.ESCRPosition, C.ESCRAt);
    EXPECT_EQ(PES.PayloadPosition, C.PayloadAt);
    EXPECT_EQ(PES.PayloadLength, C.PayloadLength);
    EXPECT_EQ(PES.STDBufferSize, C.STD);
    EXPECT_EQ(PES.Unbounded, C.Bytes[4] == 0 && C.Bytes[5] == 0);
}
const TBytes PTS90k = TimeStampField(2, 90000), PTSDTS1 = TimeStampField(3, 93600),
             DTS1 = TimeStampField(1, 90000);
INSTANTIATE_TEST_SUITE_P(
    Iso13818, PESHeaderCases,
    ::testing::Values(
        TPESCase{"PTSOnly", Concat({{0, 0, 1, 0xC0, 0, 12, 0x81, 0x80, 5}, PTS90k, {1, 2, 3, 4}}), true,
                 90000, 0, 1009, 0, 0, 1014, 4, 0},
        TPESCase{"BothStamps", Concat({{0, 0, 1, 0xE0, 0, 0, 0x81, 0xC0, 10}, PTSDTS1, DTS1, {0, 0, 1}}),
                 true, 93600, 90000, 1009, 1014, 0, 1019, 0, 0},
        // The ESCR, then an extension with the P-STD buffer: scale 1, 232 x 1024 bytes.
        TPESCase{"ESCRAndSTD",
                 Concat({{0, 0, 1, 0xE0, 0, 22, 0x80, 0xA1, 16},
                         PTS90k,
                         {0x44, 0, 4, 0, 4, 1},
                         {0x10, 0x60, 0xE8},
                         {0xFF, 0xFF}}),
                 true, 90000, 0, 1009, 0, 1014, 1025, 3, 232 * 1024},
        // Stamps the flags announce but the header's length leaves out are not believed.
        TPESCase{"StampsPastTheHeader", Concat({{0, 0, 1, 0xC0, 0, 11, 0x81, 0xC0, 5}, PTSDTS1, {9, 9, 9}}),
                 true, 0, 0, 0, 0, 0, 1014, 3, 0},
        TPESCase{"PaddingHasNoHeader",
                 {0, 0, 1, 0xBE, 0, 4, 0xFF, 0xFF, 0xFF, 0xFF},
                 true,
                 0,
                 0,
                 0,
                 0,
                 0,
                 1006,
                 4,
                 0},
        TPESCase{"NotAnMPEG2Header", {0, 0, 1, 0xC0, 0, 4, 0x0F, 1, 2, 3}, true, 0, 0, 0, 0, 0, 1006, 4, 0},
        TPESCase{"CutInTheHeader", Concat({{0, 0, 1, 0xC0, 0, 12, 0x81, 0x80, 5}, {0x21, 0}}), false},
        TPESCase{"NoStartCode", {0, 1, 1, 0xC0, 0, 3, 0x81, 0, 0}, false}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(TransportPacket, FieldsAndWhereTheyStand)
{
    // PID 0x100, unit start, counter 7, PCR 27 MHz 1234567890 with the
    // discontinuity and random access flags, 20 bytes of payload.
    const std::int64_t PCR = 1234567890;
    const TBytes Bytes =
        TSPacket({0x100, true, 7, PCRAdaptation(PCR / 300, PCR % 300, 0xC0), Filled(20, 0xAB)});
    ASSERT_EQ(Bytes.size(), 188u);
    TTransportPacket P;
    ASSERT_TRUE(DecodeTransportPacket(Bytes.data(), 188, 5000, P));
    EXPECT_EQ(P.Position, 5000);
    EXPECT_EQ(P.PID, 0x100);
    EXPECT_TRUE(P.PayloadUnitStart);
    EXPECT_EQ(P.ContinuityCounter, 7);
    EXPECT_TRUE(P.Discontinuity && P.RandomAccess && P.HasPCR);
    EXPECT_EQ(P.PCR(), PCR);
    EXPECT_EQ(P.PCROffset, 6);
    EXPECT_EQ(P.Stuffing, 183 - 20 - 7);
    EXPECT_EQ(P.PayloadOffset, 168);
    EXPECT_EQ(P.PayloadLength, 20);

    // Patched where it stands, each field reads back and nothing else moved.
    TBytes Patched = Bytes;
    PatchPCRTicks(&Patched[P.PCROffset], PCRWrap + 299);
    PatchContinuityCounter(Patched.data(), 0x1E);
    TTransportPacket Q;
    ASSERT_TRUE(DecodeTransportPacket(Patched.data(), 188, 0, Q));
    EXPECT_EQ(Q.PCRBase, 0);
    EXPECT_EQ(Q.PCRExtension, 299);
    EXPECT_EQ(Q.ContinuityCounter, 0x0E);
    for (std::size_t I = 0; I < 188; ++I)
        if (I != 3 && (I < 6 || I >= 12)) {
            EXPECT_EQ(Patched[I], Bytes[I]) << I;
        }
    EXPECT_EQ(Patched[10] & 0x7E, 0x7E); // the reserved bits kept

    // An arrival stamp in front: copy permission 2, stamp 0x3ABCDEF0.
    const TBytes Stamped = Concat({{0xBA, 0xBC, 0xDE, 0xF0}, Bytes});
    ASSERT_TRUE(DecodeTransportPacket(Stamped.data(), 192, 0, P));
    EXPECT_EQ(P.CopyPermission, 2);
    EXPECT_EQ(P.ArrivalStamp, 0x3ABCDEF0u);
    EXPECT_EQ(P.PCROffset, 10);
    EXPECT_EQ(P.PayloadOffset, 172);
    TBytes Restamped = Stamped;
    PatchArrivalStamp(Restamped.data(), ArrivalStampWrap + 5);
    EXPECT_EQ(DecodeArrivalStamp(Restamped.data()), 5u);
    EXPECT_EQ(Restamped[0] >> 6, 2);

    // An adaptation field longer than the packet leaves no payload; a
    // missing sync byte is no packet.
    TBytes Bad = Bytes;
    Bad[4] = 184;
    ASSERT_TRUE(DecodeTransportPacket(Bad.data(), 188, 0, P));
    EXPECT_FALSE(P.AdaptationValid);
    EXPECT_EQ(P.PayloadLength, 0);
    Bad[0] = 0x46;
    EXPECT_FALSE(DecodeTransportPacket(Bad.data(), 188, 0, P));
}

TEST(TransportPacket, ContinuityOfCounters)
{
    struct TStep
    {
        std::uint16_t PID;
        std::uint8_t Counter;
        bool Payload, Discontinuity;
        TContinuity Expected;
    };
    const TStep Steps[] = {
        {0x100, 14, true, false, ccFirst},       {0x100, 15, true, false, ccNext},
        {0x100, 0, true, false, ccNext},         {0x100, 0, false, false, ccNext}, // no payload: no step
        {0x100, 0, true, false, ccDuplicate},    {0x100, 0, true, false, ccLost},  // a second duplicate
        {0x100, 1, true, false, ccNext},         {0x100, 3, true, false, ccLost},
        {0x100, 9, true, true, ccDiscontinuity}, {0x101, 5, true, false, ccFirst},
        {0x100, 10, true, false, ccNext},        {0x1FFF, 3, true, false, ccNext},
        {0x1FFF, 3, true, false, ccNext}};
    TContinuityTracker Tracker;
    for (const TStep& Step : Steps) {
        TTransportPacket P;
        P.PID = Step.PID;
        P.ContinuityCounter = Step.Counter;
        P.HasPayload = Step.Payload;
        P.Discontinuity = Step.Discontinuity;
        EXPECT_EQ(Tracker.Check(P), Step.Expected) << Step.PID << " " << int(Step.Counter);
    }
}

// Walks every packet of Bytes; the positions of the packets found.
std::vector<std::int64_t> Walk(const TBytes& Bytes, std::uint16_t* Size = nullptr,
                               std::int64_t* Junk = nullptr)
{
    TMemorySource Source(Bytes);
    TTransportStreamReader Reader;
    std::vector<std::int64_t> Positions;
    if (!Reader.Open(Source))
        return Positions;
    std::int64_t Skipped = 0;
    while (Reader.NextPacket()) {
        Positions.push_back(Reader.Packet().Position);
        Skipped += Reader.JunkBefore();
        EXPECT_EQ(Reader.Bytes()[SyncOffset(Reader.PacketSize())], SyncByte);
    }
    if (Size)
        *Size = Reader.PacketSize();
    if (Junk)
        *Junk = Skipped;
    return Positions;
}

TEST(TransportStreamReader, WalksEveryPacketOfEachSize)
{
    for (const auto& [Name, Size] : std::map<std::string, std::uint16_t>{
             {"ts_mp2.ts", 188}, {"ts_m2ts.m2ts", 192}, {"ts_204.ts", 204}}) {
        const TBytes Bytes = ReadFile(Stream(Name));
        std::uint16_t Found = 0;
        const std::vector<std::int64_t> Positions = Walk(Bytes, &Found);
        EXPECT_EQ(Found, Size) << Name;
        ASSERT_EQ(Positions.size(), Bytes.size() / Size) << Name;
        for (std::size_t I = 0; I < Positions.size(); ++I)
            ASSERT_EQ(Positions[I], static_cast<std::int64_t>(I * Size)) << Name;
    }
}

TEST(TransportStreamReader, FindsTheSyncAgainAfterJunk)
{
    const TBytes Stream188 = ReadFile(Stream("ts_mp2.ts"));
    const TBytes Stream192 = ReadFile(Stream("ts_m2ts.m2ts"));
    // Cut at odd bytes as a recorder's split leaves them: the rest of a
    // packet first, a packet cut short last.
    for (const TBytes* S : {&Stream188, &Stream192}) {
        const std::size_t Size = S == &Stream188 ? 188 : 192;
        const TBytes Cut(S->begin() + 1001, S->end() - 77);
        const std::vector<std::int64_t> Positions = Walk(Cut);
        ASSERT_FALSE(Positions.empty());
        EXPECT_EQ(Positions.front(), static_cast<std::int64_t>(Size - 1001 % Size));
        EXPECT_EQ(Positions.size(), (Cut.size() - Positions.front()) / Size);
        TMemorySource Source(Cut);
        TTransportStreamReader Reader;
        ASSERT_TRUE(Reader.Open(Source));
        while (Reader.NextPacket()) {
        }
        EXPECT_EQ(Reader.End(),
                  Positions.back() + static_cast<std::int64_t>(Size)); // the cut packet starts there
    }
    // Junk inside: 3000 bytes that hold sync bytes, but not in a run.
    TBytes Junk(3000, 0);
    for (std::size_t I = 0; I < Junk.size(); I += 100)
        Junk[I] = 0x47;
    const TBytes Damaged = Concat({TBytes(Stream188.begin(), Stream188.begin() + 188 * 40), Junk,
                                   TBytes(Stream188.begin() + 188 * 40, Stream188.end())});
    std::int64_t Skipped = 0;
    const std::vector<std::int64_t> Positions = Walk(Damaged, nullptr, &Skipped);
    EXPECT_EQ(Positions.size(), Stream188.size() / 188);
    EXPECT_EQ(Skipped, 3000);
    EXPECT_EQ(Positions[40], 188 * 40 + 3000);
    // A file without three packets in a row is no transport stream.
    TMemorySource NoStream(Junk);
    TTransportStreamReader Reader;
    EXPECT_FALSE(Reader.Open(NoStream));
}

TEST(TransportPES, PayloadsAreTheElementaryStreamsFfmpegExtracts)
{
    TTempDir Dir;
    const std::string Source = Stream("ts_ac3.ts");
    ASSERT_EQ(RunCommand("ffmpeg -nostdin -v error -i " + Quote(Source) + " -map 0:v -c copy -f mpeg2video " +
                         Quote(Dir.File("v")) + " -map 0:a:1 -c copy -f ac3 " + Quote(Dir.File("a"))),
              0);
    const TBytes Bytes = ReadFile(Source);
    std::map<std::uint16_t, TBytes> Payloads;
    std::map<std::uint16_t, int> Stamped;
    std::map<std::uint16_t, std::unique_ptr<TPESAssembler>> Assemblers;
    for (const std::uint16_t PID : {0x100, 0x102}) {
        Assemblers[PID] = std::make_unique<TPESAssembler>(PID, 1 << 20);
        Assemblers[PID]->OnPES = [&, PID](const TTransportPES& PES) {
            EXPECT_TRUE(PES.Complete);
            EXPECT_EQ(static_cast<std::int64_t>(PES.Payload.size()), PES.PayloadBytes);
            Payloads[PID].insert(Payloads[PID].end(), PES.Payload.begin(), PES.Payload.end());
            Stamped[PID] += PES.Header.HasPTS;
            // A stamp stands where the header says, and reads so there.
            if (PES.Header.HasPTS) {
                EXPECT_EQ(DecodeTimeStamp(&Bytes[PES.Header.PTSPosition]), PES.Header.PTS);
            }
        };
    }
    TContinuityTracker Continuity;
    for (std::size_t At = 0; At + 188 <= Bytes.size(); At += 188) {
        TTransportPacket P;
        ASSERT_TRUE(DecodeTransportPacket(&Bytes[At], 188, At, P));
        EXPECT_NE(Continuity.Check(P), ccLost);
        if (Assemblers.count(P.PID))
            Assemblers[P.PID]->Add(P, &Bytes[At]);
    }
    for (auto& [PID, Assembler] : Assemblers)
        Assembler->Flush();
    EXPECT_EQ(Payloads[0x100], ReadFile(Dir.File("v")));
    EXPECT_EQ(Payloads[0x102], ReadFile(Dir.File("a")));
    EXPECT_EQ(Stamped[0x100], VideoFrames(Source)); // ffmpeg stamps every picture
}

TEST(TransportPES, AHeaderSplitBetweenPackets)
{
    // A PES header whose PTS runs from the end of one packet into the next,
    // with a packet of another PID between them.
    const TBytes PES =
        Concat({{0, 0, 1, 0xC0, 0, 0, 0x81, 0x80, 5}, TimeStampField(2, 123456), Filled(300, 0x33)});
    const TBytes First =
        TSPacket({0x44, true, 0, Filled(184 - 11 - 1, 0xFF), TBytes(PES.begin(), PES.begin() + 11)});
    const TBytes Other = TSPacket({0x45, true, 0, {}, Filled(184, 0)});
    const TBytes Second = TSPacket({0x44, false, 1, {}, TBytes(PES.begin() + 11, PES.begin() + 11 + 184)});
    const TBytes Third = TSPacket({0x44, false, 2, {}, TBytes(PES.begin() + 195, PES.end())});
    const TBytes File = Concat({First, Other, Second, Third});
    TPESAssembler Assembler(0x44, 1000);
    int Headers = 0, Done = 0;
    Assembler.OnHeader = [&](const TTransportPES& P) {
        ++Headers;
        EXPECT_EQ(P.Header.PTS, 123456);
        EXPECT_EQ(P.Header.PTSPosition, 188 - 2);   // the field's first byte, in the first packet
        EXPECT_EQ(P.FilePosition(11), 2 * 188 + 4); // its third, after the other PID's packet
    };
    Assembler.OnPES = [&](const TTransportPES& P) {
        ++Done;
        EXPECT_EQ(P.Payload, Filled(300, 0x33));
        EXPECT_EQ(P.Header.PayloadPosition, 2 * 188 + 4 + 3);
        EXPECT_EQ(P.FirstPacket, 0);
    };
    for (std::size_t At = 0; At < File.size(); At += 188) {
        TTransportPacket P;
        ASSERT_TRUE(DecodeTransportPacket(&File[At], 188, At, P));
        if (P.PID == 0x44)
            Assembler.Add(P, &File[At]);
    }
    Assembler.Flush();
    EXPECT_EQ(Headers, 1);
    EXPECT_EQ(Done, 1);
}

} // namespace
} // namespace vantrel
