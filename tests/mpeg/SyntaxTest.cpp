// The stream's syntax: time stamp fields, the wrapping clock, start codes
// across buffers and the bounds of a system header.
#include "mpeg/StartCodes.h"
#include "mpeg/TimeStamps.h"
#include "mpeg/ps/PackSyntax.h"
#include "mpeg/ps/SubStreams.h"

#include "TestSupport.h"

#include <array>
#include <gtest/gtest.h>
#include <optional>
#include <random>

namespace vantrel {
namespace {

using namespace test;

struct TimeStampCase
{
    std::array<std::uint8_t, 5> Bytes;
    std::int64_t Value;
};
class TimeStampField : public ::testing::TestWithParam<TimeStampCase>
{
};

TEST_P(TimeStampField, DecodesAndEncodesBack)
{
    EXPECT_EQ(DecodeTimeStamp(GetParam().Bytes.data()), GetParam().Value);
    std::array<std::uint8_t, 5> Encoded{};
    EncodeTimeStamp(Encoded.data(), GetParam().Bytes[0] >> 4, GetParam().Value);
    EXPECT_EQ(Encoded, GetParam().Bytes);
}

INSTANTIATE_TEST_SUITE_P(Iso11172, TimeStampField,
                         ::testing::Values(TimeStampCase{{0x21, 0x00, 0x01, 0x00, 0x01}, 0},
                                           TimeStampCase{{0x2F, 0xFF, 0xFF, 0xFF, 0xFF}, 0x1FFFFFFFF},
                                           TimeStampCase{{0x21, 0x00, 0x05, 0xBF, 0x21}, 90000},
                                           TimeStampCase{{0x21, 0x00, 0x37, 0x93, 0x61}, 903600},
                                           TimeStampCase{{0x31, 0x00, 0x3D, 0x84, 0x81}, 1000000},
                                           // Each group of bits in its place: bit 32, bit 29, bit 14.
                                           TimeStampCase{{0x29, 0x00, 0x01, 0x00, 0x01}, 1LL << 32},
                                           TimeStampCase{{0x21, 0x80, 0x01, 0x00, 0x01}, 1LL << 29},
                                           TimeStampCase{{0x21, 0x00, 0x01, 0x80, 0x01}, 1LL << 14}));

TEST(TimeStampField, PatchingKeepsPrefixAndMarkersAndRoundTrips)
{
    std::mt19937_64 Random(7);
    for (int I = 0; I < 1000; ++I) {
        // Markers cleared on purpose: a patch must leave them as they stand.
        std::array<std::uint8_t, 5> Field = {0x30, 0xAA, 0xAA, 0x55, 0x54};
        const std::int64_t Value = static_cast<std::int64_t>(Random() % ClockWrap);
        PatchTimeStamp(Field.data(), Value);
        EXPECT_EQ(DecodeTimeStamp(Field.data()), Value);
        EXPECT_EQ(Field[0] & 0xF1, 0x30);
        EXPECT_EQ(Field[2] & 1, 0);
        EXPECT_EQ(Field[4] & 1, 0);
    }
    std::array<std::uint8_t, 5> Field{};
    EncodeTimeStamp(Field.data(), PTSPrefix, ClockWrap + 5); // only 33 bits reach the field
    EXPECT_EQ(Field, (std::array<std::uint8_t, 5>{0x21, 0x00, 0x01, 0x00, 0x0B}));
}

// An MPEG-2 pack's SCR: the base is replaced, the 27 MHz extension and every
// marker kept, and the mux rate after it has its own layout.
TEST(ProgramPackHeader, PatchingKeepsTheExtensionAndMarkers)
{
    std::mt19937_64 Random(7);
    for (int I = 0; I < 200; ++I) {
        std::uint8_t Header[14] = {0, 0, 1, 0xBA, 0x44, 0, 0x04, 0, 0x04, 0x01, 0x01, 0x89, 0xC3, 0xF8};
        const std::uint32_t Extension = static_cast<std::uint32_t>(Random() % 300);
        Header[8] = static_cast<std::uint8_t>(0x04 | (Extension >> 7));
        Header[9] = static_cast<std::uint8_t>((Extension << 1) | 1);
        const std::int64_t Value = static_cast<std::int64_t>(Random() % ClockWrap);
        PatchProgramSCR(Header + SCRFieldOffset, Value);
        ASSERT_EQ(DecodeProgramSCR(Header + SCRFieldOffset), Value);
        EXPECT_EQ(Header[4] & 0xC4, 0x44);
        EXPECT_EQ(Header[6] & 0x04, 0x04);
        EXPECT_EQ(Header[8] & 0x07, 0x04 | (Extension >> 7));
        EXPECT_EQ(Header[9], (Extension << 1 | 1) & 0xFF);
        const std::uint32_t Rate = static_cast<std::uint32_t>(Random() % (1 << 22));
        PatchProgramMuxRate(Header, Rate);
        EXPECT_EQ(DecodeProgramMuxRate(Header), Rate);
        EXPECT_EQ(Header[12] & 3, 3);
    }
}

// A cut copied by a muxer that left out the first frame but kept its
// pointer: the frames tell where the first one starts, not the pointer. A
// sync word that the frame after it does not confirm is passed over.
TEST(PrivateStream1, APointerThatNamesNoFrameGivesWayToTheFrames)
{
    for (const char* Name : {"ff_stereo441.ac3", "ff_stereo48.dts"}) {
        const TBytes Frames = ReadFile(Stream(Name));
        const bool AC3 = Frames[0] == 0x0B;
        const TBytes Junk = Concat(
            {Filled(50, 0xAA), AC3 ? TBytes{0x0B, 0x77} : TBytes{0x7F, 0xFE, 0x80, 0x01}, Filled(60, 0x55)});
        const TBytes Payload = Concat({{static_cast<std::uint8_t>(AC3 ? 0x80 : 0x88), 2, 0, 1},
                                       Junk,
                                       TBytes(Frames.begin(), Frames.begin() + 3000)});
        EXPECT_EQ(SubStreamFirstFrame(Payload.data(), Payload.size()), 4 + Junk.size()) << Name;
    }
}

// Private stream 1 of a DVD: where a sub-stream's first frame stands, and
// LPCM's format, as ffmpeg and DVD recorders lay them out.
TEST(PrivateStream1, SubStreamHeaders)
{
    const struct
    {
        TBytes Payload;
        std::optional<std::size_t> FirstFrame;
    } Cases[] = {
        {{0x80, 2, 0, 1, 0x0B, 0x77}, 4},       // AC-3: a frame right after the header
        {{0x81, 1, 0x00, 0x03, 9, 9, 0x0B}, 6}, // two bytes of the frame before
        {{0x80, 0, 0, 0, 9, 9}, std::nullopt},  // no frame starts here
        {{0x80, 1, 0, 9, 9, 9}, std::nullopt},  // a pointer past the payload
        {{0x88, 1, 0, 1, 0x7F, 0xFE}, 4},       // DTS
        {{0xA0, 7, 0, 4, 0, 0x01, 0x80, 1}, 7}, // LPCM: after its 7 bytes
        {{0x20, 0, 0, 1, 9, 9}, std::nullopt},  // a subpicture has no frames
    };
    for (const auto& C : Cases)
        EXPECT_EQ(SubStreamFirstFrame(C.Payload.data(), C.Payload.size()), C.FirstFrame)
            << int(C.Payload[0]) << " " << int(C.Payload[3]);
    // 48 kHz 16-bit stereo; 96 kHz 24-bit 6 channels; a reserved quantisation.
    const TBytes Lpcm[] = {
        {0xA0, 7, 0, 4, 0, 0x01, 0x80}, {0xA1, 7, 0, 4, 0, 0x95, 0x80}, {0xA0, 7, 0, 4, 0, 0xC1, 0}};
    EXPECT_EQ(LPCMBitRate(Lpcm[0].data(), Lpcm[0].size()), 1536000);
    EXPECT_EQ(LPCMBitRate(Lpcm[1].data(), Lpcm[1].size()), 96000 * 24 * 6);
    EXPECT_EQ(LPCMBitRate(Lpcm[2].data(), Lpcm[2].size()), 0);
}

TEST(Clock, DistanceAcrossTheWrapAndArrivalTime)
{
    EXPECT_EQ(ClockDistance(ClockWrap - 100, 50), 150);
    EXPECT_EQ(ClockDistance(50, ClockWrap - 100), -150);
    EXPECT_EQ(ClockDistance(1000, 4000), 3000);
    EXPECT_EQ(ClockValue(-1), ClockWrap - 1);
    // 2324 bytes at 3528 x 50 bytes/s: 1185.7 ticks, rounded up.
    EXPECT_EQ(ArrivalTicks(2324, 3528), 1186);
    EXPECT_EQ(ArrivalTicks(0, 3528), 0);
    EXPECT_EQ(ArrivalTicks(100, 0), 0);
}

// Picture start codes counted in pieces of every size agree with one count
// over the whole, the way payloads split a video stream.
TEST(StartCodes, CountedAcrossAnySplit)
{
    std::mt19937 Random(3);
    TBytes Data(5000);
    for (auto& Byte : Data)
        Byte = static_cast<std::uint8_t>(Random() % 4 == 0 ? 0 : Random() % 3);
    const TBytes Codes = Concat({{0, 0, 1, 0}, {0, 0, 0, 1, 0, 0, 1, 0}, Data, {0, 0, 1}, {0}});
    std::size_t Expected = 0;
    TStartCodeScan Whole;
    for (std::uint8_t Byte : Codes)
        Expected += Whole.Feed(Byte) && Byte == PictureStartCode;
    ASSERT_GT(Expected, 3u);
    for (std::size_t Piece : {1, 2, 3, 4, 5, 7, 64, 1000}) {
        TStartCodeScan Scan;
        std::size_t Count = 0;
        for (std::size_t At = 0; At < Codes.size(); At += Piece)
            Count += CountStartCodes(Codes.data() + At, std::min(Piece, Codes.size() - At), PictureStartCode,
                                     Scan);
        EXPECT_EQ(Count, Expected) << Piece;
    }
}

TEST(SystemHeader, BoundsAreRaisedInPlace)
{
    // Rate bound 3528, audio bound 1, video bound 1, streams C0 (scale 0, 32 x
    // 128 bytes) and E0 (scale 1, 46 x 1024 bytes).
    const TBytes Kept = {0,    0,    1,    0xBB, 0,    12,   0x80, 0x1B, 0x91,
                         0x04, 0xE1, 0xFF, 0xC0, 0xC0, 0x20, 0xE0, 0xE0, 0x2E};
    const TBytes Later = {0,    0,    1,    0xBB, 0,    12,   0x80, 0x1B, 0x91,
                          0x08, 0xE1, 0xFF, 0xE0, 0xE0, 0x3A, 0xC0, 0xC0, 0x10};
    TBytes Raised = Kept;
    EXPECT_TRUE(RaiseSystemHeaderBounds(Raised.data(), Raised.size(), Later.data(), Later.size(), 0));
    // The audio bound rises to 2 and the video buffer to 58 KB; the smaller
    // audio buffer of the later header changes nothing.
    TBytes Expected = Kept;
    Expected[9] = 0x08;
    Expected[17] = 0x3A;
    EXPECT_EQ(Raised, Expected);
    EXPECT_FALSE(RaiseSystemHeaderBounds(Raised.data(), Raised.size(), Later.data(), Later.size(), 0));
    // A mux rate above the bound raises it: 6000 = 0x1770.
    EXPECT_TRUE(RaiseSystemHeaderBounds(Raised.data(), Raised.size(), nullptr, 0, 6000));
    EXPECT_EQ((TBytes{Raised[6], Raised[7], Raised[8]}), (TBytes{0x80, 0x2E, 0xE1}));
    // A header too short to hold the fixed fields is left alone.
    TBytes Short = {0, 0, 1, 0xBB, 0, 2, 0x80, 0x01};
    EXPECT_FALSE(RaiseSystemHeaderBounds(Short.data(), Short.size(), Later.data(), Later.size(), 9999));
}

} // namespace
} // namespace vantrel
