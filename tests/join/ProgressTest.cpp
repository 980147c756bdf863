// The estimate of the time left, on a clock the test moves.
#include "join/Progress.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

struct EstimateCase
{
    std::int64_t ElapsedMs;
    std::int32_t Position;
    const char* Text;
};

// The time the last change took, times the points still to go, in the
// largest unit below the next: seconds under a minute, minutes under three
// hours.
TEST(TimeEstimate, TheLastStepTimesWhatIsLeft)
{
    const EstimateCase Cases[] = {
        {2000, 99, "2 seconds remaining"},   {2000, 40, "2 minutes remaining"},
        {200000, 40, "3 hours remaining"},   {59000, 99, "59 seconds remaining"},
        {60000, 99, "1 minute remaining"},   {10799000, 99, "179 minutes remaining"},
        {10800000, 99, "3 hours remaining"}, {58500, 99, "58 seconds remaining"}, // halves to even
        {59500, 99, "1 minute remaining"},                                        // 60
        {1500, 100, "0 seconds remaining"},
    };
    std::int64_t Now = 1'000'000;
    for (const EstimateCase& C : Cases) {
        TTimeEstimate Estimate([&Now] { return Now; });
        EXPECT_EQ(Estimate.Update(1), std::nullopt); // the first change only starts the clock
        Now += C.ElapsedMs;
        EXPECT_EQ(Estimate.Update(C.Position).value_or("none"), C.Text)
            << C.ElapsedMs << " ms to " << C.Position;
    }
}

TEST(TimeEstimate, ChangesASecondApartOrLessGiveNoEstimate)
{
    std::int64_t Now = 0;
    TTimeEstimate Estimate([&Now] { return Now; });
    Estimate.Update(1);
    Now += 1000;
    EXPECT_EQ(Estimate.Update(2), std::nullopt);
    // The sample that gave nothing still restarts the clock.
    Now += 1001;
    EXPECT_EQ(Estimate.Update(99), "1 second remaining");
}

} // namespace
} // namespace vantrel
