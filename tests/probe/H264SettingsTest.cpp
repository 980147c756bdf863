// The frame rate of H.264 without timing information, from its pictures'
// stamps: decode order, fields, pulldown, stamps rounded to the clock's
// ticks, a missing stamp and the clock's wrap; and the usual rates exactly.
#include "probe/H264Settings.h"

#include "mpeg/TimeStamps.h"

#include <gtest/gtest.h>
#include <vector>

namespace vantrel {
namespace {

struct TRateCase
{
    const char* Name;
    std::vector<TStampedPicture> Pictures;
    double Rate;
};

void PrintTo(const TRateCase& Case, std::ostream* Out)
{
    *Out << Case.Name;
}

// Frames of Ticks each from Start, in the decode order of I P B B groups.
std::vector<TStampedPicture> Groups(std::int64_t Start, double Ticks, int Count)
{
    std::vector<TStampedPicture> Pictures;
    const auto At = [&](int Place) { return Start + static_cast<std::int64_t>(Place * Ticks); };
    Pictures.push_back({ClockValue(At(0)), 2});
    for (int Place = 3; Place < Count; Place += 3)
        for (const int Shown : {Place, Place - 2, Place - 1})
            Pictures.push_back({ClockValue(At(Shown)), 2});
    return Pictures;
}

class FrameRateFromStampsCase : public ::testing::TestWithParam<TRateCase>
{
};
TEST_P(FrameRateFromStampsCase, Is)
{
    EXPECT_DOUBLE_EQ(FrameRateFromStamps(GetParam().Pictures), GetParam().Rate);
}

std::vector<TRateCase> RateCases()
{
    std::vector<TRateCase> Cases = {
        {"Frames25", Groups(126000, 3600, 24), 25},
        // 59.94 frames a second stand 1501 and 1502 ticks apart in turn.
        {"Frames5994", Groups(1000, 1501.5, 24), 60000.0 / 1001},
        {"Frames23976", Groups(1000, 3753.75, 24), 24000.0 / 1001},
        {"Frames30", Groups(0, 3000, 12), 30},
        {"Rate12_5IsNoUsualOne", Groups(0, 7200, 12), 12.5},
        // Field pictures of 1080i25, each with a stamp of its own.
        {"Fields25", {{0, 1}, {1800, 1}, {3600, 1}, {5400, 1}, {7200, 1}}, 25},
        // Film in 29.97 frames: three fields, then two.
        {"Pulldown", {{0, 3}, {4505, 2}, {7508, 3}, {12012, 2}, {15015, 3}, {19520, 2}}, 30000.0 / 1001},
        // The clock wraps between the stamps.
        {"Wraps", Groups(ClockWrap - 5 * 3600, 3600, 12), 25},
        {"OnePicture", {{5000, 2}}, 0},
        {"OneStampTwice", {{5000, 2}, {5000, 2}}, 0},
    };
    // A picture without a stamp leaves a step of two frames, and one stamp
    // out of line a small step once: the steady step is the frame's.
    std::vector<TStampedPicture> Gaps = Groups(0, 3600, 24);
    Gaps.erase(Gaps.begin() + 5);
    Gaps[8].PTS -= 1700;
    Cases.push_back({"AGapAndAStampOutOfLine", Gaps, 25});
    return Cases;
}
INSTANTIATE_TEST_SUITE_P(Stamps, FrameRateFromStampsCase, ::testing::ValuesIn(RateCases()),
                         [](const auto& Info) { return std::string(Info.param.Name); });

} // namespace
} // namespace vantrel
