#include "join/MPEGTimeCorrect.h"
#include "media/SysUtils.h"

#include "TestSupport.h"

#include <cmath>
#include <gtest/gtest.h>

namespace vantrel {
namespace {

using namespace test;

TBytes Written(const TMemoryStream& Stream)
{
    return TBytes(Stream.Data(), Stream.Data() + Stream.Size());
}

TPESInfo Pes(std::uint8_t StreamId, std::optional<std::int64_t> PTS = std::nullopt,
             std::optional<std::int64_t> DTS = std::nullopt)
{
    TPESInfo P;
    P.StreamId = StreamId;
    P.HasPTS = PTS.has_value();
    P.PTS = PTS.value_or(0);
    P.HasDTS = DTS.has_value();
    P.DTS = DTS.value_or(0);
    return P;
}

// Decodes what the corrector wrote with the reader, the other half of the code.
struct TWrittenPacket
{
    TPacketKind Kind;
    std::int64_t SCR;
    TPESInfo PES;
};
std::vector<TWrittenPacket> ReadBack(const TMemoryStream& Stream)
{
    TTempDir Dir;
    WriteFile(Dir.File("w.mpg"), Written(Stream));
    TMPEG1SystemReader Reader;
    Reader.Open(Dir.File("w.mpg"));
    std::vector<TWrittenPacket> Packets;
    while (Reader.NextPacket())
        Packets.push_back({Reader.PacketKind(), Reader.SCR(), Reader.PES()});
    return Packets;
}

TEST(FrameTicks, ForTheEightRates)
{
    const std::pair<double, std::int64_t> Cases[] = {{23.976, 3754}, {24, 3750}, {25, 3600},    {29.97, 3003},
                                                     {30, 3000},     {50, 1800}, {59.94, 1502}, {60, 1500}};
    for (const auto& [Rate, Ticks] : Cases) {
        TTimeCorrector C;
        C.Reset(Rate);
        EXPECT_EQ(C.FrameTicks(), Ticks) << Rate;
    }
}

TEST(FrameTicks, UnusableRatesAreRefused)
{
    TTimeCorrector C;
    try {
        C.Reset(0);
        FAIL();
    } catch (const Exception& E) {
        EXPECT_STREQ(E.what(), "Floating point division by zero");
    }
    for (double Rate : {-25.0, 1e-9, std::nan("")})
        EXPECT_THROW(C.Reset(Rate), Exception) << Rate;
}

TEST(PacketEncoders, BytesOfTheStandardLayouts)
{
    TTimeCorrector C;
    C.Reset(25);
    C.BeginFile();
    TMemoryStream Out;
    C.WritePackHeader(Out, 1000000, 3528);
    EXPECT_EQ(Written(Out), (TBytes{0, 0, 1, 0xBA, 0x21, 0x00, 0x3D, 0x84, 0x81, 0x80, 0x1B, 0x91}));

    TMemoryStream Pts;
    C.WritePESPacket(Pts, Pes(0xC0, 903600), nullptr, 0);
    EXPECT_EQ(Written(Pts), (TBytes{0, 0, 1, 0xC0, 0x00, 0x05, 0x21, 0x00, 0x37, 0x93, 0x61}));

    TMemoryStream Plain;
    const TBytes Payload = Filled(100, 0x42);
    C.WritePESPacket(Plain, Pes(0xE0), Payload.data(), 100);
    EXPECT_EQ(Written(Plain), Concat({{0, 0, 1, 0xE0, 0x00, 0x65, 0x0F}, Payload}));

    TMemoryStream Empty;
    C.WritePESPacket(Empty, Pes(0xBD), nullptr, 0);
    EXPECT_EQ(Written(Empty), (TBytes{0, 0, 1, 0xBD, 0x00, 0x01, 0x0F}));

    TMemoryStream Long;
    const TBytes Big = Filled(2000, 1);
    C.WritePESPacket(Long, Pes(0xE0, 5), Big.data(), 2000);
    EXPECT_EQ(Written(Long)[4], 0x07);
    EXPECT_EQ(Written(Long)[5], 0xD5);
}

TEST(PacketEncoders, PtsAndDtsKeepTheirLayoutAndLength)
{
    TTimeCorrector C;
    C.Reset(25);
    C.BeginFile();
    TMemoryStream Out;
    const TBytes Payload = {7, 7, 7};
    C.WritePESPacket(Out, Pes(0xE0, 903600, 900000), Payload.data(), 3);
    EXPECT_EQ(
        Written(Out),
        Concat({{0, 0, 1, 0xE0, 0x00, 13}, TimeStampField(3, 903600), TimeStampField(1, 900000), Payload}));
}

TEST(PacketEncoders, OnlyThe33BitsOfTheClockReachTheFile)
{
    TTimeCorrector C;
    C.Reset(25);
    C.BeginFile();
    TMemoryStream First;
    C.WritePackHeader(First, (1LL << 33) - 10, 1); // LastSCR = 2^33 - 10
    C.BeginFile();
    TMemoryStream Second;
    C.WritePackHeader(Second, 100, 1); // the first of the file lands on LastSCR
    C.WritePackHeader(Second, 115, 1); // 2^33 + 5
    EXPECT_EQ(C.LastSCR(), (1LL << 33) + 5);
    EXPECT_EQ(TBytes(Second.Data() + 16, Second.Data() + 21), (TBytes{0x21, 0x00, 0x01, 0x00, 0x0B}));
}

TEST(TimeCorrection, FirstFilePassesUnchangedButLosesStuffingStdAndKeepsDts)
{
    TTimeCorrector C;
    C.Reset(25);
    C.BeginFile(45000);
    TMemoryStream Out;
    C.WritePackHeader(Out, 40000, 2000);
    TPESInfo Video = Pes(0xE0, 48600, 45000);
    Video.HasSTD = true;
    const TBytes Payload = {1, 2};
    C.WritePESPacket(Out, Video, Payload.data(), 2);
    const auto Back = ReadBack(Out);
    ASSERT_EQ(Back.size(), 2u);
    EXPECT_EQ(Back[0].SCR, 40000);
    EXPECT_EQ(Back[1].PES.PTS, 48600);
    EXPECT_EQ(Back[1].PES.DTS, 45000);
    EXPECT_FALSE(Back[1].PES.HasSTD);
    EXPECT_EQ(Out.Size(), 12 + 6 + 10 + 2);
}

// Writes a first file that leaves LastVideoPTS 900000 and LastSCR 1000000.
void FirstFile(TTimeCorrector& C, TMemoryStream& Out)
{
    C.Reset(25);
    C.BeginFile();
    C.WritePackHeader(Out, 1000000, 1);
    C.WritePESPacket(Out, Pes(0xE0, 900000), nullptr, 0);
}

TEST(TimeCorrection, SecondFileRunsOnFromTheFirst)
{
    for (bool LookedAhead : {false, true}) {
        TTimeCorrector C;
        TMemoryStream Out;
        FirstFile(C, Out);
        C.BeginFile(LookedAhead ? std::optional<std::int64_t>(60000) : std::nullopt);
        TMemoryStream Second;
        C.WritePackHeader(Second, 50000, 1);
        C.WritePESPacket(Second, Pes(0xC0, 60000), nullptr, 0);
        C.WritePESPacket(Second, Pes(0xE0, 63600), nullptr, 0);
        C.WritePackHeader(Second, 52000, 1);
        const auto Back = ReadBack(Second);
        ASSERT_EQ(Back.size(), 4u);
        EXPECT_EQ(Back[0].SCR, 1000000);
        EXPECT_EQ(Back[1].PES.PTS, 903600);
        EXPECT_EQ(Back[2].PES.PTS, 907200);
        EXPECT_EQ(Back[3].SCR, 1002000);
        EXPECT_EQ(C.LastVideoPTS(), 907200);
    }
}

TEST(TimeCorrection, TheSmallestPtsOfTheFileStartsIt)
{
    // B-frames: the first video packet is not the earliest picture.
    TTimeCorrector C;
    TMemoryStream Out;
    FirstFile(C, Out);
    C.BeginFile(50000);
    C.WritePESPacket(Out, Pes(0xE0, 57200, 50000), nullptr, 0); // I frame, shown third
    C.WritePESPacket(Out, Pes(0xE0, 50000, 50000), nullptr, 0); // B frame, shown first
    const auto Back = ReadBack(Out);
    EXPECT_EQ(Back[2].PES.PTS, 903600 + 7200);
    EXPECT_EQ(Back[2].PES.DTS, 903600);
    EXPECT_EQ(Back[3].PES.PTS, 903600);
    // The largest video PTS, not the last one, marks the end of the video.
    EXPECT_EQ(C.LastVideoPTS(), 910800);
}

TEST(TimeCorrection, NextFileStartsAfterTheAudioWrittenSoFar)
{
    TTimeCorrector C;
    TMemoryStream Out;
    FirstFile(C, Out);
    // Layer II 192 kbit/s audio: 4800 bytes play 0.2 s (18000 ticks) from 900000.
    TBytes Audio = Filled(4800, 0);
    Audio[0] = 0xFF, Audio[1] = 0xFD, Audio[2] = 0xA0, Audio[3] = 0x04;
    C.WritePESPacket(Out, Pes(0xC0, 900000), Audio.data(), 2400);
    C.WritePESPacket(Out, Pes(0xC0), Audio.data() + 2400, 2400);
    EXPECT_EQ(C.AudioEnd(), 918000);
    C.BeginFile(1000);
    C.WritePESPacket(Out, Pes(0xE0, 1000), nullptr, 0);
    EXPECT_EQ(C.LastVideoPTS(), 918000);
}

TEST(TimeCorrection, WithoutLookAheadTheFirstStampedPacketFixesTheOffset)
{
    TTimeCorrector C;
    TMemoryStream Out;
    FirstFile(C, Out);
    C.BeginFile();
    C.WritePESPacket(Out, Pes(0xC0), nullptr, 0); // no PTS: changes nothing
    C.WritePESPacket(Out, Pes(0xC0, 70000), nullptr, 0);
    C.WritePESPacket(Out, Pes(0xE0, 73600), nullptr, 0);
    EXPECT_EQ(C.LastVideoPTS(), 907200);
}

TEST(TimeCorrection, FirstFileWithAudioStampsOnlyLeavesTheSecondUnchanged)
{
    TTimeCorrector C;
    C.Reset(25);
    C.BeginFile();
    TMemoryStream Out;
    C.WritePackHeader(Out, 1000, 1);
    C.WritePESPacket(Out, Pes(0xC0, 5000), nullptr, 0);
    C.BeginFile(7000);
    C.WritePackHeader(Out, 3000, 1);
    C.WritePESPacket(Out, Pes(0xE0, 7000), nullptr, 0);
    const auto Back = ReadBack(Out);
    EXPECT_EQ(Back[2].SCR, 1000); // SCRs still run on
    EXPECT_EQ(Back[3].PES.PTS, 7000);
}

TEST(TimeCorrection, OtherVideoStreamsAreShiftedButDoNotMarkTheEnd)
{
    TTimeCorrector C;
    TMemoryStream Out;
    FirstFile(C, Out);
    C.BeginFile(10000);
    C.WritePESPacket(Out, Pes(0xE1, 20000), nullptr, 0);
    EXPECT_EQ(ReadBack(Out)[2].PES.PTS, 903600 + 10000);
    EXPECT_EQ(C.LastVideoPTS(), 900000);
}

TEST(TimeCorrection, ResetForgetsThePreviousJoin)
{
    TTimeCorrector C;
    TMemoryStream Out;
    FirstFile(C, Out);
    C.Reset(25);
    EXPECT_EQ(C.LastVideoPTS(), 0);
    EXPECT_EQ(C.LastSCR(), 0);
    EXPECT_EQ(C.PTSOffset(), 0);
    EXPECT_EQ(C.SCROffset(), 0);
    EXPECT_EQ(C.AudioEnd(), 0);
}

} // namespace
} // namespace vantrel
