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

TInputRecord Input(const char* Name, const TMediaInfo& Info)
{
    TInputRecord Record;
    Record.FileName = std::string("/clips/") + Name;
    Record.Info = Info;
    return Record;
}

// The words name the file that differs, the first file and how; several
// that differ are counted; only those that differ the way that decides.
TEST(DecideJoin, TheMessageNamesTheFiles)
{
    TMediaInfo Pal = Clip(352, true), Small = Clip(320, true), Silent = Clip(352, false);
    Pal.AudioLayer = Small.AudioLayer = 2, Pal.SampleRate = Small.SampleRate = 44100;
    const struct
    {
        std::vector<TInputRecord> Files;
        std::vector<std::size_t> Differing;
        const char* Message;
    } Cases[] = {
        {{Input("a.mpg", Pal), Input("b.mpg", Small)},
         {1},
         "The video of b.mpg differs from that of the first file, a.mpg (320 x 288 at 25.00 fps vs 352 x 288 "
         "at 25.00 fps): the files cannot be joined.\r\nLeave it out, or put first a file that it matches."},
        {{Input("a.mpg", Pal), Input("s.mpg", Silent), Input("b.mpg", Small), Input("c.mpg", Small),
          Input("d.mpg", Small)},
         {2, 3, 4},
         "The video of b.mpg and 2 other files differs from that of the first file, a.mpg (b.mpg: 320 x 288 "
         "at "
         "25.00 fps vs 352 x 288 at 25.00 fps): the files cannot be joined.\r\nLeave them out, or put "
         "another "
         "file first."},
        {{Input("a.mpg", Pal), Input("p.mpg", Pal), Input("s.mpg", Silent)},
         {2},
         "The sound of s.mpg differs from that of the first file, a.mpg (no audio vs Layer II 44.1 kHz "
         "stereo): "
         "the files can be joined only without sound."},
        {{Input("a.mpg", Pal), Input("p.mpg", Pal)}, {}, ""},
    };
    for (const auto& C : Cases) {
        const TJoinDecision Decision = DecideJoin(C.Files);
        EXPECT_EQ(Decision.Differing, C.Differing);
        EXPECT_EQ(Decision.Message, C.Message);
    }
}

// The name typed is the name written when it ends in an extension a join
// writes; else the extension that fits the output is added.
TEST(OutputName, KeptWhenItEndsInAnOutputExtension)
{
    const std::pair<const char*, const char*> Cases[] = {
        {"/a/joined.mpg", "/a/joined.mpg"}, {"/a/JOINED.MPG", "/a/JOINED.MPG"},
        {"/a/out.mpeg", "/a/out.mpeg"},     {"/a/out.vob", "/a/out.vob"},
        {"/a/out.m2v", "/a/out.m2v"},       {"/a/AVSEQ01.DAT", "/a/AVSEQ01.DAT"},
        {"/a/out", "/a/out.mpg"},           {"/a/out.avi", "/a/out.avi.mpg"},
        {"/a.mpg/out", "/a.mpg/out.mpg"},   {"/a/.mpg", "/a/.mpg.mpg"},
    };
    for (const auto& [Typed, Written] : Cases)
        EXPECT_EQ(WithOutputExtension(Typed, ".mpg"), Written);

    TMediaInfo Mpeg1 = Clip(352, true), Svcd = Mpeg1, Dvd = Mpeg1, Elementary = Clip(352, false, false);
    Svcd.MPEGVersion = Dvd.MPEGVersion = 2;
    Svcd.ProgramStream = Dvd.ProgramStream = true;
    Dvd.AudioStreamId = 0xBD; // AC-3 in private stream 1
    EXPECT_STREQ(OutputExtension(Mpeg1, false), ".mpg");
    EXPECT_STREQ(OutputExtension(Mpeg1, true), ".m1v");
    EXPECT_STREQ(OutputExtension(Elementary, false), ".m1v");
    EXPECT_STREQ(OutputExtension(Svcd, false), ".mpg");
    EXPECT_STREQ(OutputExtension(Dvd, false), ".vob");
    EXPECT_STREQ(OutputExtension(Dvd, true), ".m2v");
}

} // namespace
} // namespace vantrel
