#include "mpeg/video/SequenceHeader.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using test::TBytes;

struct SequenceCase
{
    const char* Name;
    TBytes Bytes;
    bool Found;
    std::uint16_t Width, Height, FrameRateCode;
};
void PrintTo(const SequenceCase& Case, std::ostream* Out)
{
    *Out << Case.Name;
}

class SequenceHeader : public ::testing::TestWithParam<SequenceCase>
{
};

TEST_P(SequenceHeader, Reads)
{
    const SequenceCase& C = GetParam();
    const std::optional<TSequenceHeader> Header = ReadSequenceHeader(C.Bytes);
    ASSERT_EQ(Header.has_value(), C.Found);
    if (C.Found) {
        EXPECT_EQ(Header->Width, C.Width);
        EXPECT_EQ(Header->Height, C.Height);
        EXPECT_EQ(Header->FrameRateCode, C.FrameRateCode);
        EXPECT_EQ(Header->End, C.Bytes.size()); // every case ends with the header's four bytes
    }
}

INSTANTIATE_TEST_SUITE_P(
    Iso11172, SequenceHeader,
    ::testing::Values(
        SequenceCase{"Ntsc", {0, 0, 1, 0xB3, 0x16, 0x00, 0xF0, 0x14}, true, 352, 240, 4},
        SequenceCase{"Pal", {0, 0, 1, 0xB3, 0x16, 0x01, 0x20, 0x13}, true, 352, 288, 3},
        // Every size bit in its place: 0xABC wide, 0xDEF high, aspect bits ignored.
        SequenceCase{"AllBits", {0, 0, 1, 0xB3, 0xAB, 0xCD, 0xEF, 0xF8}, true, 0xABC, 0xDEF, 8},
        SequenceCase{"OtherCodesFirst",
                     {0, 0, 1, 0xB8, 7, 0, 0, 1, 0, 0, 0, 1, 0xB3, 0x16, 0x01, 0x20, 0x13},
                     true,
                     352,
                     288,
                     3},
        SequenceCase{"LongZeroRun", {0, 0, 0, 0, 1, 0xB3, 0x16, 0x01, 0x20, 0x13}, true, 352, 288, 3},
        SequenceCase{"PrefixInsideCode", {0, 0, 1, 0, 0, 1, 0xB3, 0x16, 0x01, 0x20, 0x13}, true, 352, 288, 3},
        SequenceCase{"ValuesUnchecked", {0, 0, 1, 0xB3, 0, 0, 0, 0x0F}, true, 0, 0, 15},
        SequenceCase{"CutInsideHeader", {0, 0, 1, 0xB3, 0x16, 0x01}, false, 0, 0, 0},
        SequenceCase{"NoSequenceCode", {0, 0, 1, 0xB8, 0, 0, 1, 0x00, 1, 2, 3}, false, 0, 0, 0},
        SequenceCase{"Empty", {}, false, 0, 0, 0}),
    [](const auto& Info) { return Info.param.Name; });

TEST(FindStartCode, StopsJustAfterTheCode)
{
    const TBytes Bytes = {9, 0, 0, 1, 0xB8, 0, 0, 1, 0xB3, 0x42};
    EXPECT_EQ(FindStartCode(Bytes, 0xB3), 9u);
    EXPECT_EQ(FindStartCode(Bytes, 0xB3, 9), std::nullopt);
    EXPECT_EQ(FindStartCode(Bytes, 0xB8, 5), std::nullopt); // a search from inside a code misses it
}

TEST(FrameRates, TableByCode)
{
    // 1 to 8 from the standard; 9 to 13 as early encoders wrote them.
    const double Expected[] = {23.976, 24, 25, 29.97, 30, 50, 59.94, 60, 15, 5, 10, 12, 15};
    for (std::uint16_t Code = 1; Code <= 13; ++Code) {
        ASSERT_TRUE(IsValidFrameRateCode(Code));
        EXPECT_DOUBLE_EQ(FrameRateOf(Code), Expected[Code - 1]);
    }
    for (std::uint16_t Code : {0, 14, 15})
        EXPECT_FALSE(IsValidFrameRateCode(Code)) << Code;
}

TEST(SequenceExtension, MarksMPEG2Video)
{
    const TBytes Header = {0, 0, 1, 0xB3, 0x16, 0x01, 0x20, 0x13, 0xFF, 0xFF, 0xE0, 0x18};
    const struct
    {
        TBytes After;
        bool MPEG2;
    } Cases[] = {{{0, 0, 1, 0xB5, 0x14, 0x8A}, true},           // sequence extension, id 1
                 {{0, 0, 1, 0xB5, 0x24, 0x8A}, false},          // another extension first
                 {{0, 0, 1, 0xB8, 0, 0, 1, 0xB5, 0x14}, false}, // a group of pictures comes first
                 {{}, false}};
    for (const auto& C : Cases) {
        const TBytes Bytes = test::Concat({Header, C.After});
        const std::optional<TSequenceHeader> Read = ReadSequenceHeader(Bytes);
        ASSERT_TRUE(Read);
        EXPECT_EQ(IsMPEG2Sequence(std::span(Bytes).subspan(Read->End)), C.MPEG2) << C.After.size();
    }
}

// The sequence extension: as ffmpeg writes it (Main profile at Main level,
// progressive 4:2:0), and a hand-made 4:2:2 interlaced one with a frame-rate
// extension; nothing for MPEG-1 video or an extension cut short.
TEST(SequenceExtension, ReadsTheFieldsThatDecideAJoin)
{
    const TBytes Video = test::ReadFile(test::Stream("ff_mpeg2.m2v"));
    const auto Header = ReadSequenceHeader(Video);
    ASSERT_TRUE(Header);
    const auto Read = ReadSequenceExtension(std::span(Video).subspan(Header->End));
    ASSERT_TRUE(Read);
    EXPECT_EQ(Read->ProfileAndLevel, 0x48); // ffprobe: profile Main, level 8
    EXPECT_TRUE(Read->Progressive);
    EXPECT_EQ(Read->ChromaFormat, 1);
    EXPECT_EQ(Read->WidthExtension, 0);
    EXPECT_EQ(Read->FrameRateExtensionN, 0);

    // Extension id 1, profile/level 0x85 (4:2:2 at Main), interlaced,
    // chroma 2, size extensions 1 and 2, rate extension n 1, d 0.
    const TBytes Made = {0x00, 0x00, 0x01, 0xB5, 0x18, 0x54, 0xC0, 0x01, 0x00, 0x20};
    const auto Interlaced = ReadSequenceExtension(Made);
    ASSERT_TRUE(Interlaced);
    EXPECT_EQ(Interlaced->ProfileAndLevel, 0x85);
    EXPECT_FALSE(Interlaced->Progressive);
    EXPECT_EQ(Interlaced->ChromaFormat, 2);
    EXPECT_EQ(Interlaced->WidthExtension, 1);
    EXPECT_EQ(Interlaced->HeightExtension, 2);
    EXPECT_EQ(Interlaced->FrameRateExtensionN, 1);
    EXPECT_EQ(Interlaced->FrameRateExtensionD, 0);
    EXPECT_FALSE(ReadSequenceExtension(std::span(Made).first(9)));
    const TBytes Mpeg1 = test::ReadFile(test::Stream("ff_pal.m1v"));
    EXPECT_FALSE(ReadSequenceExtension(std::span(Mpeg1).subspan(ReadSequenceHeader(Mpeg1)->End)));
}

} // namespace
} // namespace vantrel
