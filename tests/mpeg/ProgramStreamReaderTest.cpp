#include "mpeg/ps/ProgramStreamReader.h"
#include "probe/MPEGInfo.h"

#include "StreamChecks.h"
#include "TestSupport.h"
#include "mpeg/StartCodes.h"

#include <gtest/gtest.h>
#include <optional>
#include <set>
#include <sstream>

namespace vantrel {
namespace {

using namespace test;

class SystemReaderTest : public ::testing::Test
{
protected:
    // The bytes are read from memory, as a fuzzer feeds them.
    TProgramStreamReader& Open(const TBytes& Bytes)
    {
        Data = Bytes;
        Source = std::make_unique<TMemorySource>(Data);
        Reader.Open(*Source);
        return Reader;
    }
    TTempDir Dir;
    TBytes Data;
    std::unique_ptr<TMemorySource> Source;
    TProgramStreamReader Reader;
};

TEST_F(SystemReaderTest, PackHeaderAtStartThenNextPacketAfterIt)
{
    auto& R = Open(Concat({PackHeader(1000000, 3528), PESPacket(0xE0, {0x0F}, {1, 2, 3})}));
    ASSERT_TRUE(R.NextPacket());
    EXPECT_EQ(R.PacketKind(), pkPackHeader);
    EXPECT_EQ(R.PacketPosition(), 0);
    EXPECT_EQ(R.PacketLength(), 12u);
    EXPECT_EQ(R.SCR(), 1000000);
    EXPECT_EQ(R.MuxRate(), 3528u);
    ASSERT_TRUE(R.NextPacket());
    EXPECT_EQ(R.PacketKind(), pkPES);
    EXPECT_EQ(R.PacketPosition(), 12);
    EXPECT_FALSE(R.NextPacket());
}

struct ScanCase
{
    const char* Name;
    TBytes Bytes;
    std::int64_t FirstPosition;
    TPacketKind Kind;
};
void PrintTo(const ScanCase& Case, std::ostream* Out)
{
    *Out << Case.Name;
}
class SystemReaderScan : public SystemReaderTest, public ::testing::WithParamInterface<ScanCase>
{
};
TEST_P(SystemReaderScan, FindsTheFirstPacketAtItsPrefix)
{
    auto& R = Open(GetParam().Bytes);
    ASSERT_TRUE(R.NextPacket());
    EXPECT_EQ(R.PacketPosition(), GetParam().FirstPosition);
    EXPECT_EQ(R.PacketKind(), GetParam().Kind);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, SystemReaderScan,
    ::testing::Values(
        ScanCase{"Junk", Concat({{7, 0, 1, 0xFF, 0, 0}, PackHeader(0, 1)}), 6, pkPackHeader},
        ScanCase{"LongZeroRun", Concat({{0, 0, 0, 0}, PackHeader(0, 1)}), 4, pkPackHeader},
        ScanCase{"PrefixInsideCode", {0, 0, 1, 0, 0, 1, 0xBA, 0x21, 0, 1, 0, 1, 0x80, 0, 1}, 3, pkPackHeader},
        ScanCase{"SequenceCodePassedOver", Concat({{0, 0, 1, 0xB3, 1, 2}, SystemHeader(6)}), 6,
                 pkSystemHeader},
        ScanCase{"EndCodePassedOver", Concat({{0, 0, 1, 0xB9}, PESPacket(0xC0, {0x0F}, {})}), 4, pkPES}),
    [](const auto& Info) { return Info.param.Name; });

TEST_F(SystemReaderTest, EndCodeAtTheEndEndsTheWalk)
{
    auto& R = Open(Concat({PackHeader(0, 1), {0, 0, 1, 0xB9}}));
    ASSERT_TRUE(R.NextPacket());
    EXPECT_FALSE(R.NextPacket());
}

TEST_F(SystemReaderTest, StuffingSTDAndBothTimeStamps)
{
    const TBytes Header =
        Concat({{0xFF, 0xFF, 0x40 | 0x20, 0x2E}, TimeStampField(3, 90000), TimeStampField(1, 86400)});
    auto& R = Open(PESPacket(0xE0, Header, {9, 8, 7}));
    ASSERT_TRUE(R.NextPacket());
    const TPESInfo& P = R.PES();
    EXPECT_EQ(P.StreamId, 0xE0);
    EXPECT_TRUE(P.HasSTD);
    EXPECT_TRUE(P.HasPTS);
    EXPECT_TRUE(P.HasDTS);
    EXPECT_EQ(P.PTS, 90000);
    EXPECT_EQ(P.DTS, 86400);
    EXPECT_EQ(P.PayloadPosition, 6 + 2 + 2 + 10);
    EXPECT_EQ(P.PayloadLength, 3);
    EXPECT_TRUE(R.PESHeaderFits());
}

TEST_F(SystemReaderTest, PlainHeaderHasNoTimeStamps)
{
    auto& R = Open(PESPacket(0xC0, {0x0F}, {1, 2}));
    ASSERT_TRUE(R.NextPacket());
    EXPECT_FALSE(R.PES().HasPTS);
    EXPECT_FALSE(R.PES().HasDTS);
    EXPECT_FALSE(R.PES().HasSTD);
    EXPECT_EQ(R.PES().PayloadPosition, 7);
    EXPECT_EQ(R.PES().PayloadLength, 2);
}

TEST_F(SystemReaderTest, PrivateStream2IsNotParsed)
{
    auto& R = Open(PESPacket(0xBF, {}, {0x20, 1, 2, 3, 4, 5, 6}));
    ASSERT_TRUE(R.NextPacket());
    EXPECT_EQ(R.PacketLength(), 13u);
    EXPECT_EQ(R.PES().PayloadPosition, 0);
    EXPECT_EQ(R.PES().PayloadLength, 0);
    EXPECT_FALSE(R.PES().HasPTS);
}

TEST_F(SystemReaderTest, LargestPacketKeepsItsTruePayloadLength)
{
    auto& R = Open(PESPacket(0xE0, {0x0F}, Filled(65534, 0x11)));
    ASSERT_TRUE(R.NextPacket());
    EXPECT_EQ(R.PacketLength(), 65541u);
    EXPECT_EQ(R.PES().PayloadLength, 65534);
    TBytes Packet(R.PacketLength());
    EXPECT_TRUE(R.ReadPacket(Packet.data()));
    EXPECT_EQ(Packet[65540], 0x11);
}

TEST_F(SystemReaderTest, HeaderRunningPastItsPacketWrapsThePayloadLength)
{
    // Length field 2, but three stuffing bytes and a PTS follow.
    TBytes Bytes = Concat({{0, 0, 1, 0xE0, 0, 2, 0xFF, 0xFF, 0xFF}, TimeStampField(2, 5)});
    auto& R = Open(Bytes);
    ASSERT_TRUE(R.NextPacket());
    EXPECT_FALSE(R.PESHeaderFits());
    EXPECT_EQ(R.PES().PayloadLength, static_cast<std::uint16_t>(8 - 14));
}

TEST_F(SystemReaderTest, HeadersCutByTheEndOfFileEndTheWalk)
{
    for (std::size_t Cut : {5u, 11u}) {
        TBytes Bytes = PackHeader(0, 1);
        Bytes.resize(Cut);
        EXPECT_FALSE(Open(Bytes).NextPacket()) << Cut;
    }
    TBytes Pes = PESPacket(0xE0, TimeStampField(2, 5), {1});
    Pes.resize(9); // inside the PTS
    auto& R = Open(Pes);
    EXPECT_FALSE(R.NextPacket());
}

TEST_F(SystemReaderTest, ShortPacketReadIsZeroFilled)
{
    TBytes Bytes = PESPacket(0xE0, {0x0F}, Filled(100, 0xAA));
    Bytes.resize(50);
    auto& R = Open(Bytes);
    ASSERT_TRUE(R.NextPacket());
    TBytes Packet(R.PacketLength(), 0x55);
    EXPECT_FALSE(R.ReadPacket(Packet.data()));
    EXPECT_EQ(Packet[49], 0xAA);
    EXPECT_EQ(Packet[50], 0);
    EXPECT_EQ(Packet.back(), 0);
    TBytes Payload(R.PES().PayloadLength, 0x55);
    EXPECT_FALSE(R.ReadPayload(Payload.data()));
    EXPECT_EQ(Payload[42], 0xAA);
    EXPECT_EQ(Payload[43], 0);
}

// Found by fuzzing: an empty payload read into an empty buffer, whose data()
// is null, must not hand the null pointer to memcpy.
TEST_F(SystemReaderTest, EmptyPayloadIntoAnEmptyBuffer)
{
    auto& R = Open(Concat({PESPacket(0xE0, {0x0F}, {}), PESPacket(0xBF, {}, {})}));
    std::vector<std::uint8_t> Empty;
    ASSERT_TRUE(R.NextPacket());
    EXPECT_TRUE(R.ReadPayload(Empty.data()));
    ASSERT_TRUE(R.NextPacket());
    EXPECT_TRUE(R.ReadPayload(Empty.data()));
    WriteFile(Dir.File("s.mpg"), Data);
    TFileHandle File = TFileHandle::TryOpenRead(Dir.File("s.mpg"));
    TFileReadBuffer Buffer(File.Get(), 8192);
    EXPECT_EQ(Buffer.Read(nullptr, 0, 0), 0);
}

TEST_F(SystemReaderTest, ExtractStopsAtTheByteLimit)
{
    TBytes Bytes;
    for (int I = 0; I < 8; ++I) {
        const TBytes Packet = PESPacket(0xE0, {0x0F}, Filled(2048, static_cast<std::uint8_t>(I)));
        Bytes.insert(Bytes.end(), Packet.begin(), Packet.end());
    }
    auto& R = Open(Bytes);
    TBytes Dest;
    EXPECT_TRUE(R.ExtractStream(0xE0, Dest, 200, 8192));
    EXPECT_EQ(Dest.size(), 4 * 2048);
    EXPECT_EQ(Dest.back(), 3);
    // A second call goes on after the fourth packet.
    TBytes Rest;
    EXPECT_FALSE(R.ExtractStream(0xE0, Rest, 0, 0)); // the end, no limit
    EXPECT_EQ(Rest.size(), 4 * 2048);
    EXPECT_EQ(Rest.front(), 4);
}

TEST_F(SystemReaderTest, ExtractCountsEveryPacketTowardsThePacketLimit)
{
    // Packets 0..2 audio, 3 video, 4 video: with MaxPackets 3 the video packet at
    // index 3 already reaches the limit.
    const TBytes A = PESPacket(0xC0, {0x0F}, {1}), V = PESPacket(0xE0, {0x0F}, {2});
    auto& R = Open(Concat({A, A, A, V, V}));
    TBytes Dest;
    R.ExtractStream(0xE0, Dest, 3, 0);
    EXPECT_EQ(Dest.size(), 1);
}

TEST_F(SystemReaderTest, ExtractOfAnAbsentStreamReadsToTheEnd)
{
    auto& R = Open(Concat({PackHeader(0, 1), PESPacket(0xE0, {0x0F}, {1, 2})}));
    TBytes Dest;
    R.ExtractStream(0xC0, Dest, 200, 8192);
    EXPECT_EQ(Dest.size(), 0);
    EXPECT_FALSE(R.NextPacket());
}

TEST_F(SystemReaderTest, ExtractAppendsOnlyTheBytesThatWereRead)
{
    TBytes Bytes = PESPacket(0xE0, {0x0F}, Filled(3000, 0xAB));
    Bytes.resize(1007); // 1000 payload bytes present
    auto& R = Open(Bytes);
    TBytes Dest;
    R.ExtractStream(0xE0, Dest, 200, 8192);
    EXPECT_EQ(Dest.size(), 1000);
}

TEST_F(SystemReaderTest, MarkAndRestoreComeBackToThePacket)
{
    auto& R =
        Open(Concat({PackHeader(7, 1), PESPacket(0xE0, TimeStampField(2, 900), {1}), PackHeader(9, 1)}));
    ASSERT_TRUE(R.NextPacket());
    ASSERT_TRUE(R.NextPacket());
    const TPacket Mark = R.Mark();
    ASSERT_TRUE(R.NextPacket());
    EXPECT_EQ(R.SCR(), 9);
    R.Restore(Mark);
    EXPECT_EQ(R.PES().PTS, 900);
    EXPECT_EQ(R.SCR(), 7);
    ASSERT_TRUE(R.NextPacket());
    EXPECT_EQ(R.PacketPosition(), 12 + 6 + 5 + 1);
}

TEST_F(SystemReaderTest, LongJunkReportsItsScanAndCanBeStopped)
{
    const std::int64_t Junk = 3 * TProgramStreamReader::ScanReportBytes;
    auto& R = Open(Concat({Filled(static_cast<std::size_t>(Junk), 0), PackHeader(5, 1)}));
    std::vector<std::int64_t> Reports;
    R.ScanProgress = [&Reports](std::int64_t Position) {
        Reports.push_back(Position);
        return false;
    };
    ASSERT_TRUE(R.NextPacket());
    EXPECT_EQ(R.PacketPosition(), Junk);
    EXPECT_EQ(Reports.size(), 3u);
    // Stopped at the first report: the walk is over.
    auto& Stopped = Open(Data);
    Stopped.ScanProgress = [](std::int64_t) { return true; };
    EXPECT_FALSE(Stopped.NextPacket());
}

TEST(MediaFileKind, ByTheFirstStartCode)
{
    TTempDir Dir;
    const TBytes LongestLeadingZeros = Filled(static_cast<std::size_t>(LeadingZeroLimit), 0);
    const struct
    {
        TBytes Bytes;
        TMediaFileKind Kind;
    } Cases[] = {{{0, 0, 1, 0xBA, 0x21}, mfkSystemStream},
                 {{0, 0, 1, 0xB3}, mfkVideoStream},
                 {{0, 0, 1, 0xE0, 0, 0}, mfkUnknown},
                 {{0, 0, 1}, mfkUnknown},
                 {{}, mfkUnknown},
                 {{7, 0, 0, 1, 0xBA}, mfkUnknown},
                 // Empty sectors before a VCD track's first pack.
                 {{0, 0, 0, 1, 0xBA}, mfkSystemStream},
                 {Concat({LongestLeadingZeros, {0, 0, 1, 0xBA}}), mfkSystemStream},
                 {Concat({LongestLeadingZeros, {0, 0, 0, 1, 0xBA}}), mfkUnknown}};
    for (const auto& C : Cases) {
        WriteFile(Dir.File("f"), C.Bytes);
        EXPECT_EQ(GetMediaFileKind(Dir.File("f")), C.Kind) << C.Bytes.size();
    }
    try {
        GetMediaFileKind(Dir.File("missing"));
        FAIL() << "no exception";
    } catch (const Exception& E) {
        EXPECT_EQ(E.what(), "Cannot open file " + Dir.File("missing") + "\r\nNo such file or directory");
    }
}

// MPEG-2 program streams, as ffmpeg writes them for a DVD: every pack a
// 2048-byte sector, the clock rising, and the video's stamps those ffprobe
// reads.
TEST(ProgramStreamReader, ReadsPacksAndStampsOfDvdStreams)
{
    for (const char* Name : {"ff_mpeg2_dvd.mpg", "ff_mpeg2.vob"}) {
        TProgramStreamReader Reader;
        Reader.Open(Stream(Name));
        Reader.SetProgramStream(true);
        std::vector<std::int64_t> Packs, SCRs, PTS;
        std::optional<std::int64_t> FirstDTS;
        while (Reader.NextPacket()) {
            if (Reader.PacketKind() == pkPackHeader) {
                Packs.push_back(Reader.PacketPosition());
                SCRs.push_back(Reader.SCR() * 300 + Reader.SCRExtension());
                EXPECT_GT(Reader.MuxRate(), 0u);
                continue;
            }
            const TPESInfo& PES = Reader.PES();
            if (Reader.PacketKind() != pkPES || PES.StreamId != FirstVideoStream || !PES.HasPTS)
                continue;
            ASSERT_TRUE(Reader.PESHeaderFits());
            EXPECT_LT(PES.PTSPosition, PES.PayloadPosition);
            PTS.push_back(PES.PTS);
            if (!FirstDTS)
                FirstDTS = PES.HasDTS ? PES.DTS : PES.PTS;
        }
        ASSERT_GT(Packs.size(), 10u) << Name;
        for (std::size_t I = 1; I < Packs.size(); ++I) {
            EXPECT_EQ(Packs[I] - Packs[I - 1], 2048) << Name << " pack " << I;
            EXPECT_GE(SCRs[I], SCRs[I - 1]) << Name << " pack " << I;
        }
        // "pts,dts" a frame.
        std::istringstream Probed(
            Ffprobe("-select_streams v:0 -show_entries packet=pts,dts -of csv=p=0", Stream(Name)));
        std::set<std::int64_t> Frames;
        std::optional<std::int64_t> ProbedFirstDTS;
        for (std::string Line; std::getline(Probed, Line);) {
            const std::size_t Comma = Line.find(',');
            if (Comma == std::string::npos || Line.find("N/A") != std::string::npos)
                continue; // a frame without stamps of its own
            Frames.insert(std::stoll(Line.substr(0, Comma)));
            if (!ProbedFirstDTS)
                ProbedFirstDTS = std::stoll(Line.substr(Comma + 1));
        }
        EXPECT_EQ(FirstDTS, ProbedFirstDTS) << Name;
        ASSERT_FALSE(PTS.empty());
        for (const std::int64_t Stamp : PTS)
            EXPECT_TRUE(Frames.count(Stamp)) << Name << " PTS " << Stamp;
    }
}

// The optional fields of an MPEG-2 PES header, all at once: the stamps, the
// ESCR, an ES rate, then the extension's P-STD buffer; and a pack with
// stuffing, its SCR with its 27 MHz part.
TEST(ProgramStreamReader, FindsEveryOptionalField)
{
    const TBytes Pack = {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00,
                         0x04, 0x03, 0x01, 0x89, 0xC3, 0xFA, 0xFF, 0xFF};
    TBytes PES = {0x00, 0x00, 0x01, 0xE0, 0x00, 0x00, 0x81, 0xF1, 0x00};
    const TBytes Fields = Concat({TimeStampField(3, 9000),
                                  TimeStampField(1, 5400),
                                  {0x04, 0x00, 0x04, 0x00, 0x04, 0x01}, // ESCR
                                  {0x80, 0x00, 0x01},                   // ES rate
                                  {0x10, 0x60, 0x2E}});                 // extension: P-STD, 1024 x 46
    PES[8] = static_cast<std::uint8_t>(Fields.size());
    PES = Concat({PES, Fields, Filled(20, 0xA1)});
    PES[5] = static_cast<std::uint8_t>(PES.size() - 6);
    const TBytes Bytes = Concat({Pack, PES});
    TMemorySource Source(Bytes);
    TProgramStreamReader Reader;
    Reader.Open(Source);
    Reader.SetProgramStream(true);
    ASSERT_TRUE(Reader.NextPacket());
    EXPECT_EQ(Reader.PacketLength(), 16u); // 14 and 2 bytes of stuffing
    EXPECT_EQ(Reader.SCR(), 0);
    EXPECT_EQ(Reader.SCRExtension(), 1u);
    EXPECT_EQ(Reader.MuxRate(), 25200u);
    ASSERT_TRUE(Reader.NextPacket());
    const TPESInfo& Info = Reader.PES();
    EXPECT_EQ(Info.PTS, 9000);
    EXPECT_EQ(Info.DTS, 5400);
    EXPECT_EQ(Info.PTSPosition, 16 + 9);
    EXPECT_EQ(Info.DTSPosition, 16 + 14);
    EXPECT_EQ(Info.ESCRPosition, 16 + 19);
    EXPECT_TRUE(Info.HasSTD);
    EXPECT_EQ(Info.STDBufferSize, 46u * 1024);
    EXPECT_EQ(Info.PayloadPosition, static_cast<std::int64_t>(16 + 9 + Fields.size()));
    EXPECT_EQ(Info.PayloadLength, 20);
}

} // namespace
} // namespace vantrel
