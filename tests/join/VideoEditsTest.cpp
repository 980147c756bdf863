// The bytes a join changes in the video it passes on.
#include "join/VideoEdits.h"

#include "TestSupport.h"
#include "mpeg/video/H264Units.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using namespace test;

// A sequence end code anywhere in a chunk, or running past it into the next,
// becomes zeros; another code, or the prefix alone, stays.
TEST(SequenceEnds, AreBlankedWhereverTheyStandInAChunk)
{
    const TBytes End = {0, 0, 1, 0xB7};
    for (std::size_t At = 0; At + 4 <= 12; ++At)
        for (std::size_t Size = At + 1; Size <= 12; ++Size) {
            TBytes Data = Filled(12, 0x55);
            std::copy(End.begin(), End.end(), Data.begin() + static_cast<std::ptrdiff_t>(At));
            TBytes Expected = Data;
            std::fill_n(Expected.begin() + static_cast<std::ptrdiff_t>(At),
                        std::min<std::size_t>(4, Size - At), 0);
            const std::size_t Beyond = BlankSequenceEnds(Data.data(), Size, Data.size());
            EXPECT_EQ(Beyond, At + 4 > Size ? At + 4 - Size : 0) << At << " " << Size;
            EXPECT_EQ(TBytes(Data.begin(), Data.begin() + static_cast<std::ptrdiff_t>(Size)),
                      TBytes(Expected.begin(), Expected.begin() + static_cast<std::ptrdiff_t>(Size)))
                << At << " " << Size;
        }
    TBytes Other = {0, 0, 1, 0xB3, 0, 0, 1, 0, 0, 0, 1};
    const TBytes Kept = Other;
    EXPECT_EQ(BlankSequenceEnds(Other.data(), Other.size(), Other.size()), 0u);
    EXPECT_EQ(Other, Kept);
}

// The broken link flag is set in a later file's first open group only; a
// closed group stays as it is.
TEST(BrokenLink, IsSetInTheFirstOpenGroup)
{
    // 00 00 01 B8, 25 bits of time code, closed_gop, broken_link.
    TBytes Open = {0, 0, 1, 0xB8, 0x00, 0x08, 0x00, 0x00, 0, 0, 1, 0xB8, 0x00, 0x08, 0x00, 0x00};
    EXPECT_TRUE(MarkBrokenLink(Open.data(), Open.size()));
    EXPECT_EQ(Open[7], 0x20);
    EXPECT_EQ(Open[15], 0x00);
    TBytes Closed = {0xAA, 0, 0, 1, 0xB8, 0x00, 0x08, 0x00, 0x40};
    EXPECT_TRUE(MarkBrokenLink(Closed.data(), Closed.size()));
    EXPECT_EQ(Closed[8], 0x40);
    TBytes None = {0, 0, 1, 0xB3, 1, 2, 3, 4};
    EXPECT_FALSE(MarkBrokenLink(None.data(), None.size()));
}

// The H.264 flag is set in its byte alone, where that byte is in the bytes
// at hand; never where a start code or an emulation prevention byte would
// read otherwise after it.
struct TFlagCase
{
    const char* Name;
    TBytes Data;
    std::int64_t Offset, Byte;
    std::uint8_t Mask;
    bool Settable;
    TBrokenLinkEdit Result;
    TBytes After;
};
class H264BrokenLink : public ::testing::TestWithParam<TFlagCase>
{
};
TEST_P(H264BrokenLink, IsSetOnlyWhereNothingElseChanges)
{
    const TFlagCase& Case = GetParam();
    TBytes Data = Case.Data;
    EXPECT_EQ(
        MarkH264BrokenLink(Data.data(), Data.size(), Case.Offset, {Case.Byte, Case.Mask, Case.Settable}),
        Case.Result);
    EXPECT_EQ(Data, Case.After);
}
INSTANTIATE_TEST_SUITE_P(
    Bytes, H264BrokenLink,
    ::testing::Values(
        TFlagCase{"InItsByte", {0x80, 0x44, 0x10}, 100, 101, 0x08, true, blSet, {0x80, 0x4C, 0x10}},
        TFlagCase{"AlreadySet", {0x80, 0x4C, 0x10}, 100, 101, 0x08, true, blSet, {0x80, 0x4C, 0x10}},
        TFlagCase{"Elsewhere", {0x80, 0x44, 0x10}, 100, 103, 0x08, true, blNotHere, {0x80, 0x44, 0x10}},
        TFlagCase{"Before", {0x80, 0x44, 0x10}, 100, 99, 0x08, true, blNotHere, {0x80, 0x44, 0x10}},
        TFlagCase{"NotSettable", {0x80, 0x44, 0x10}, 0, 1, 0x08, false, blRefused, {0x80, 0x44, 0x10}},
        // A zero of 00 00 03 that is no longer zero leaves the 03 in the payload.
        TFlagCase{"ZeroBeforeAnEscape",
                  {0x12, 0x00, 0x00, 0x03, 0x01},
                  0,
                  1,
                  0x01,
                  true,
                  blRefused,
                  {0x12, 0x00, 0x00, 0x03, 0x01}},
        // After 00 00 03 a byte above 03 makes the 03 part of the payload.
        TFlagCase{"PastThreeAfterAnEscape",
                  {0x00, 0x00, 0x03, 0x00, 0x55},
                  0,
                  3,
                  0x10,
                  true,
                  blRefused,
                  {0x00, 0x00, 0x03, 0x00, 0x55}},
        TFlagCase{"WithinThreeAfterAnEscape",
                  {0x00, 0x00, 0x03, 0x00, 0x55},
                  0,
                  3,
                  0x02,
                  true,
                  blSet,
                  {0x00, 0x00, 0x03, 0x02, 0x55}}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// In a real open GOP, fed as transport packets' payloads come: the flag of
// the first recovery point that leading pictures follow is set, in one
// byte, where the units and ffmpeg read it; every picture still decodes.
TEST(H264BrokenLink, SetInAnOpenGroupWhereDecodersReadIt)
{
    const TBytes Input = ReadFile(Stream("hd_720p50_open.h264"));
    const auto SplitUnits = [](const TBytes& Data) {
        TH264UnitSplitter Splitter;
        Splitter.Add(Data.data(), Data.size());
        Splitter.Finish();
        return Splitter.Units();
    };
    const std::vector<TH264Unit> Units = SplitUnits(Input);
    std::size_t Open = 0;
    while (Open < Units.size() && (Units[Open].Idr || !Units[Open].RecoveryPoint ||
                                   LeadingPictures(std::span(Units).subspan(Open)) == 0))
        ++Open;
    ASSERT_LT(Open, Units.size());
    ASSERT_TRUE(Units[Open].BrokenLink.Settable);
    TBytes Output = Input;
    int Set = 0, Elsewhere = 0;
    for (std::size_t At = 0; At < Output.size(); At += 184) {
        const std::size_t Size = std::min<std::size_t>(184, Output.size() - At);
        const TBrokenLinkEdit Edit = MarkH264BrokenLink(
            Output.data() + At, Size, static_cast<std::int64_t>(At), Units[Open].BrokenLink);
        Set += Edit == blSet;
        Elsewhere += Edit == blNotHere;
    }
    EXPECT_EQ(Set, 1);
    EXPECT_EQ(Elsewhere + Set, static_cast<int>((Output.size() + 183) / 184));
    std::size_t Changed = 0;
    for (std::size_t I = 0; I < Output.size(); ++I)
        if (Output[I] != Input[I]) {
            ++Changed;
            EXPECT_EQ(I, static_cast<std::size_t>(Units[Open].BrokenLink.Byte));
            EXPECT_EQ(Output[I], Input[I] | Units[Open].BrokenLink.Mask);
        }
    EXPECT_EQ(Changed, 1u);
    const std::vector<TH264Unit> Again = SplitUnits(Output);
    ASSERT_EQ(Again.size(), Units.size());
    for (std::size_t I = 0; I < Units.size(); ++I)
        if (Units[I].RecoveryPoint) {
            EXPECT_EQ(Again[I].RecoveryPoint->BrokenLink, I == Open) << I;
        }
    TTempDir Dir;
    WriteFile(Dir.File("marked.h264"), Output);
    std::string Trace;
    RunCommand("ffmpeg -nostdin -hide_banner -i " + Quote(Dir.File("marked.h264")) +
                   " -c copy -bsf:v trace_headers -f null - 2>&1 | grep -c 'broken_link_flag.* = 1$'",
               &Trace);
    EXPECT_GE(std::atoi(Trace.c_str()), 1);
    EXPECT_EQ(DecodeErrors(Dir.File("marked.h264")), "");
    EXPECT_EQ(VideoFrames(Dir.File("marked.h264")), VideoFrames(Stream("hd_720p50_open.h264")));
}

} // namespace
} // namespace vantrel
