// Re-stamping: each later file moved in time as a whole, on a clock that
// wraps, with the pack clock never ahead of what the mux rate allows.
#include "join/MPEGTimeCorrect.h"
#include "io/SysUtils.h"
#include "mpeg/StreamEnd.h"

#include "TestSupport.h"
#include "mpeg/StartCodes.h"
#include "mpeg/TimeStamps.h"

#include <cmath>
#include <gtest/gtest.h>

namespace vantrel {
namespace {

using namespace test;

TPESInfo Pes(std::uint8_t StreamId, std::optional<std::int64_t> PTS, std::optional<std::int64_t> DTS = {})
{
    TPESInfo P;
    P.StreamId = StreamId;
    P.HasPTS = PTS.has_value();
    P.PTS = PTS.value_or(0);
    P.HasDTS = DTS.has_value();
    P.DTS = DTS.value_or(0);
    return P;
}

// Frames of layer II, 44.1 kHz, stereo at 192 or 64 kbit/s (626 or 208 bytes).
TBytes AudioFrames(int Count, bool Low)
{
    const TBytes Header = Low ? TBytes{0xFF, 0xFD, 0x40, 0x04} : TBytes{0xFF, 0xFD, 0xA0, 0x04};
    TBytes Frames;
    for (int I = 0; I < Count; ++I) {
        const TBytes Frame = Concat({Header, Filled(Low ? 204 : 622, 0x55)});
        Frames.insert(Frames.end(), Frame.begin(), Frame.end());
    }
    return Frames;
}

// Moves a file's video and audio packets through the corrector as the joiner
// does: each stamp mapped, then the packet noted.
void AddVideo(TTimeCorrector& C, std::int64_t PTS, const TBytes& Payload = {})
{
    TPESInfo P = Pes(FirstVideoStream, C.Stamp(PTS));
    C.AddPacket(P, Payload.data(), Payload.size());
}
void AddAudio(TTimeCorrector& C, std::int64_t PTS, const TBytes& Payload)
{
    C.AddPacket(Pes(FirstAudioStream, C.Stamp(PTS)), Payload.data(), Payload.size());
}

TEST(FrameTicks, ForEveryFrameRateCode)
{
    const std::pair<double, std::int64_t> Cases[] = {{23.976, 3754}, {24, 3750}, {25, 3600},    {29.97, 3003},
                                                     {30, 3000},     {50, 1800}, {59.94, 1502}, {60, 1500},
                                                     {15, 6000},     {5, 18000}, {10, 9000},    {12, 7500}};
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

TEST(TimeCorrection, TheFirstFileKeepsItsStampsAndItsClock)
{
    TTimeCorrector C;
    C.Reset(25);
    C.BeginFile(45000);
    const auto Pack = C.PackTime(40000, 0);
    EXPECT_EQ(Pack.SCR, 40000);
    EXPECT_FALSE(Pack.Behind);
    EXPECT_EQ(C.Stamp(48600), 48600);
    EXPECT_EQ(C.Stamp(45000), 45000);
}

TEST(TimeCorrection, ALaterFileStartsWhereEveryStreamEnds)
{
    TTimeCorrector C;
    C.Reset(25);
    C.BeginFile(900000);
    C.KeepPack(880000, 3528, 0);
    for (std::int64_t PTS = 900000; PTS <= 1000800; PTS += 3600)
        AddVideo(C, PTS);
    // Video ends one frame after its last picture.
    EXPECT_EQ(C.OutputEnd(), 1004400);

    // Audio that runs on: 4 frames at 192 kbit/s from 990000 end at 990000 +
    // 2504 bytes x 8 x 90000 / 192000 = 999390; still before the video's end.
    AddAudio(C, 990000, AudioFrames(4, false));
    EXPECT_EQ(C.OutputEnd(), 1004400);
    AddAudio(C, 1003000, AudioFrames(2, false));
    EXPECT_EQ(C.OutputEnd(), 1003000 + 1252 * 8 * 90000 / 192000);

    // The second file's smallest PTS lands there, and all its stamps move alike.
    const std::int64_t End = *C.OutputEnd();
    C.BeginFile(63600);
    EXPECT_EQ(C.Stamp(63600), End);
    EXPECT_EQ(C.Stamp(60000), End - 3600);
    EXPECT_EQ(C.Stamp(70800), End + 7200);
}

TEST(TimeCorrection, AudioBitRatesAreReadForEveryFile)
{
    // 192k, then 64k, then the next file: the second file's audio ends by its
    // own bit rate, not the first's.
    TTimeCorrector C;
    C.Reset(25);
    C.BeginFile(0);
    AddAudio(C, 0, AudioFrames(8, false));
    C.BeginFile(0);
    const std::int64_t Start = C.Stamp(0);
    AddAudio(C, 0, AudioFrames(8, true)); // 8 x 208 bytes at 64 kbit/s: 18720 ticks
    EXPECT_EQ(C.OutputEnd(), Start + 8 * 208 * 8 * 90000 / 64000);
}

TEST(TimeCorrection, PicturesAfterTheLastStampedOneCount)
{
    // Some muxers stamp only some pictures: three more pictures after the
    // last stamped one end the video three frames later.
    const TBytes Picture = {0, 0, 1, 0, 0x12, 0x34, 0x56};
    TTimeCorrector C;
    C.Reset(25);
    C.BeginFile(0);
    AddVideo(C, 0, Picture);
    AddVideo(C, 3600, Concat({Picture, Picture}));
    C.AddPacket(Pes(FirstVideoStream, std::nullopt), Picture.data(), Picture.size());
    C.AddPacket(Pes(FirstVideoStream, std::nullopt), Picture.data(), Picture.size());
    EXPECT_EQ(C.OutputEnd(), 3600 + 4 * 3600);
}

// MPEG-2 pictures show as long as their coding extension says: a field
// picture half a frame (two make one), a frame that repeats a field a frame
// and a half (3:2 pulldown), in a progressive sequence two or three frames.
TEST(VideoEnd, PicturesLastAsTheirCodingExtensionSays)
{
    const auto Picture = [](std::uint8_t Reference, std::uint8_t Structure, std::uint8_t Flags) {
        return TBytes{0, 0, 1,    0,    0,    static_cast<std::uint8_t>(Reference << 6),   0,     0,   0,
                      0, 1, 0xB5, 0x8F, 0xFF, static_cast<std::uint8_t>(0xF0 | Structure), Flags, 0x80};
    };
    const TBytes ProgressiveSequence = {0, 0, 1, 0xB5, 0x14, 0x8A, 0, 1, 0, 0};
    constexpr std::uint8_t Repeat = 0x02, TopFirst = 0x80;
    const struct
    {
        const char* What;
        TBytes Stream;
        std::int64_t End; // ticks at 25 fps, from the stamp 0
    } Cases[] = {
        {"frames", Concat({Picture(0, 3, 0), Picture(1, 3, 0)}), 7200},
        {"field pairs", Concat({Picture(0, 1, 0), Picture(0, 2, 0), Picture(1, 1, 0), Picture(1, 2, 0)}),
         7200},
        {"pulldown", Concat({Picture(0, 3, Repeat | TopFirst), Picture(1, 3, 0), Picture(2, 3, Repeat)}),
         14400},
        {"progressive repeats",
         Concat({ProgressiveSequence, Picture(0, 3, Repeat), Picture(1, 3, Repeat | TopFirst)}), 18000},
    };
    for (const auto& C : Cases) {
        TVideoEnd Video;
        Video.Add(0, std::nullopt, C.Stream.data(), C.Stream.size());
        EXPECT_EQ(Video.End(3600), C.End) << C.What;
    }
}

TEST(TimeCorrection, StampsStayContinuousAcrossTheWrap)
{
    TTimeCorrector C;
    C.Reset(25);
    C.BeginFile(ClockWrap - 7200);
    // The first file wraps: its line runs on past 2^33.
    EXPECT_EQ(C.Stamp(ClockWrap - 7200), ClockWrap - 7200);
    AddVideo(C, ClockWrap - 3600);
    AddVideo(C, 0);
    AddVideo(C, 3600);
    EXPECT_EQ(C.OutputEnd(), ClockWrap + 7200);
    // A later file that wraps too goes on from there.
    C.BeginFile(ClockWrap - 100);
    EXPECT_EQ(C.Stamp(ClockWrap - 100), ClockWrap + 7200);
    EXPECT_EQ(C.Stamp(3500), ClockWrap + 7200 + 3600);
    EXPECT_EQ(ClockValue(C.Stamp(3600)), 10900); // what reaches the file
}

TEST(TimeCorrection, ThePackClockNeverRunsAheadOfTheMuxRate)
{
    TTimeCorrector C;
    C.Reset(25);
    C.BeginFile(100000);
    C.KeepPack(90000, 3528, 0);
    AddVideo(C, 100000);
    // The second file's own clock would put its first pack at 103600 - 30000;
    // the 2324 bytes written since the last pack take 1186 ticks.
    C.BeginFile(30000);
    auto Pack = C.PackTime(0, 2324);
    EXPECT_TRUE(Pack.Behind);
    EXPECT_EQ(Pack.SCR, 90000 + 1186);
    C.KeepPack(Pack.SCR, 3528, 2324);
    // Once its own clock is later, it is used again.
    Pack = C.PackTime(50000, 2 * 2324);
    EXPECT_FALSE(Pack.Behind);
    EXPECT_EQ(Pack.SCR, C.Stamp(50000));
}

TEST(TimeCorrection, APackWithinATickOfItsChannelKeepsItsClock)
{
    // A DVD's 2048-byte packs at 10.08 Mbit/s take 146.3 ticks, and muxers
    // put them 146 ticks apart: a later file keeps that clock, and is not
    // pushed a tick further at every pack.
    TTimeCorrector C;
    C.Reset(25);
    C.BeginFile(100000);
    AddVideo(C, 100000);
    C.BeginFile(100000 - 3600);
    C.KeepPack(C.Stamp(0), 25200, 0);
    for (std::int64_t K = 1; K < 100; ++K) {
        const auto Pack = C.PackTime(K * 146, K * 2048);
        ASSERT_FALSE(Pack.Behind) << K;
        ASSERT_EQ(Pack.SCR, C.Stamp(K * 146)) << K;
        C.KeepPack(Pack.SCR, 25200, K * 2048);
    }
    // Two ticks early is early.
    EXPECT_TRUE(C.PackTime(99 * 146 + 145, 100 * 2048).Behind);
}

TEST(TimeCorrection, ALaterFileWithoutStampsAheadIsPinnedByItsFirstStamp)
{
    TTimeCorrector C;
    C.Reset(25);
    C.BeginFile(0);
    AddVideo(C, 0);
    C.BeginFile(std::nullopt);
    EXPECT_EQ(C.Stamp(777777), 3600);
    EXPECT_EQ(C.Stamp(781377), 7200);
}

} // namespace
} // namespace vantrel
