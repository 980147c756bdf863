#include "probe/JoinRules.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TMediaInfo Clip(std::uint16_t Width, bool Audio, bool System = true)
{
    TMediaInfo Info;
    Info.IsSystemStream = System;
    Info.Width = Width;
    Info.Height = 288;
    Info.FrameRateCode = 3;
    Info.FrameRate = 25;
    Info.HasAudio = Audio;
    return Info;
}

// One rule for the window and the command-line tool: a video difference
// anywhere refuses, whatever the order; an audio difference asks; an
// elementary stream among equal files makes the join video only.
TEST(DecideJoin, EveryOutcome)
{
    const TMediaInfo Pal = Clip(352, true), Small = Clip(320, true), Silent = Clip(352, false),
                     Elementary = Clip(352, false, false);
    const struct
    {
        std::vector<const TMediaInfo*> Files;
        TJoinVerdict Verdict;
        const char* Message;
    } Cases[] = {
        {{&Pal, &Pal}, TJoinVerdict::Join, ""},
        {{&Pal, &Small, &Silent}, TJoinVerdict::Refuse, VideoDiffersMessage},
        {{&Pal, &Silent, &Small}, TJoinVerdict::Refuse, VideoDiffersMessage},
        {{&Pal, &Silent}, TJoinVerdict::AskVideoOnly, AudioDiffersMessage},
        {{&Silent, &Elementary}, TJoinVerdict::JoinVideoOnly, ""},
        {{&Pal, &Elementary}, TJoinVerdict::AskVideoOnly, AudioDiffersMessage},
        {{}, TJoinVerdict::Refuse, "There are no files to join."},
    };
    for (const auto& C : Cases) {
        const TJoinDecision Decision = DecideJoin(C.Files);
        EXPECT_EQ(Decision.Verdict, C.Verdict) << C.Files.size();
        EXPECT_EQ(Decision.Message, C.Message);
        EXPECT_EQ(Decision.FrameRate, C.Files.empty() ? 0 : 25);
    }
}

} // namespace
} // namespace vantrel
