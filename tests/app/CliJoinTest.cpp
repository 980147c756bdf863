// Joins through the real command-line tool on the real test streams: split
// recordings, what changes inside the video, pipes, copies, refusals.
#include "StreamChecks.h"
#include "TestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {
namespace {

using namespace test;

// A recording split anywhere (between packs, inside a packet, inside a start
// code) joins back to itself byte for byte: the second half resynchronises at
// its first pack header, and its times, which go on from the first half's,
// are kept.
TEST(CliJoin, SplitRecordingsRejoinByteForByte)
{
    TTempDir Dir;
    for (const char* Name : {"ff_pal_b.mpg", "mplex_vcd_b.mpg", "ff_ntscvcd3.mpg", "mplex_generic.mpg",
                             "dvd_rec.vob", "mplex_dvd2.mpg", "svcd2.mpg"}) {
        const TBytes Whole = ReadFile(Stream(Name));
        auto Next = [&](std::size_t From, std::uint8_t Code) {
            for (std::size_t I = From; I + 4 < Whole.size(); ++I)
                if (Whole[I] == 0 && Whole[I + 1] == 0 && Whole[I + 2] == 1 && Whole[I + 3] == Code)
                    return I;
            return Whole.size() / 2;
        };
        const std::size_t Middle = Whole.size() / 2;
        for (const std::size_t At :
             {Next(Middle, 0xBA), Middle + 777, Next(Middle, 0xE0) + 3, Next(Middle, 0xC0) + 9}) {
            WriteFile(Dir.File("1.mpg"),
                      TBytes(Whole.begin(), Whole.begin() + static_cast<std::ptrdiff_t>(At)));
            WriteFile(Dir.File("2.mpg"),
                      TBytes(Whole.begin() + static_cast<std::ptrdiff_t>(At), Whole.end()));
            int Status;
            const std::string Said = Cli("join -o " + Quote(Dir.File("out.mpg")) + " " +
                                             Quote(Dir.File("1.mpg")) + " " + Quote(Dir.File("2.mpg")),
                                         &Status);
            ASSERT_EQ(Status, 0) << Said;
            EXPECT_NE(Said.find("continues the recording"), std::string::npos) << Name << " at " << At;
            EXPECT_TRUE(ReadFile(Dir.File("out.mpg")) == Whole) << Name << " split at " << At;
        }
    }
}

// Inside the joined video: an end code only where the output ends, and the
// cut clip's open first group marked broken, so that decoders do not predict
// its leading B-pictures from the clip before it.
TEST(CliJoin, JointsInsideTheVideo)
{
    TTempDir Dir;
    const std::string Out = Dir.File("out.mpg");
    int Status;
    Cli("join -o " + Quote(Out) + Files({"mplex_vcd.mpg", "vcd_cut.mpg", "mplex_vcd.mpg"}), &Status);
    ASSERT_EQ(Status, 0);
    auto Find = [](const TBytes& Bytes, std::uint8_t Code) {
        std::vector<std::size_t> At;
        for (std::size_t I = 0; I + 8 <= Bytes.size(); ++I)
            if (Bytes[I] == 0 && Bytes[I + 1] == 0 && Bytes[I + 2] == 1 && Bytes[I + 3] == Code)
                At.push_back(I);
        return At;
    };
    const TBytes Joined = ReadFile(Out), Last = ReadFile(Stream("mplex_vcd.mpg"));
    const std::vector<std::size_t> Ends = Find(Joined, 0xB7), LastEnds = Find(Last, 0xB7);
    ASSERT_EQ(Ends.size(), 1u);
    ASSERT_EQ(LastEnds.size(), 1u);
    EXPECT_EQ(Joined.size() - Ends[0], Last.size() - LastEnds[0]);
    std::vector<std::uint8_t> Flags;
    for (std::size_t At : Find(Joined, 0xB8))
        if (Joined[At + 7] & 0x20)
            Flags.push_back(Joined[At + 7] & 0x60);
    EXPECT_EQ(Flags, std::vector<std::uint8_t>{0x20}); // open, and now broken
}

// Muxers that stamp only some pictures: the last pictures of a file carry
// no PTS, and the next file must still start after them.
TEST(CliJoin, LastPicturesWithoutTimeStamps)
{
    TTempDir Dir;
    TBytes Clip = ReadFile(Stream("ff_pal.mpg"));
    const std::vector<std::size_t> Offsets = PacketOffsets(Clip);
    int Blanked = 0;
    for (auto At = Offsets.rbegin(); At != Offsets.rend() && Blanked < 3; ++At) {
        std::size_t P = *At + 6;
        if (Clip[*At + 3] != 0xE0)
            continue;
        while (Clip[P] == 0xFF)
            ++P;
        const int Fields = (Clip[P] >> 4) == 3 ? 2 : (Clip[P] >> 4) == 2 ? 1 : 0;
        if (Fields == 0)
            continue;
        // The packet keeps its length: stuffing, then "no time stamps".
        std::fill_n(Clip.begin() + static_cast<long>(P), 5 * Fields - 1, 0xFF);
        Clip[P + 5 * Fields - 1] = 0x0F;
        ++Blanked;
    }
    ASSERT_EQ(Blanked, 3);
    WriteFile(Dir.File("tail.mpg"), Clip);
    int Status;
    Cli("join -o " + Quote(Dir.File("out.mpg")) + Files({Dir.File("tail.mpg"), "ff_pal.mpg"}), &Status);
    ASSERT_EQ(Status, 0);
    EXPECT_EQ(TimeLineFaults(Dir.File("out.mpg")), "");
    EXPECT_EQ(DecodeErrors(Dir.File("out.mpg")), "");
}

// Nothing of a join is written twice: a pipe, which takes no patch, gets the
// bytes a file gets, on every kind (raised system headers, disc sectors,
// navigation packs, the last end code kept, elementary streams).
TEST(CliJoin, APipeGetsWhatAFileGets)
{
    TTempDir Dir;
    const std::vector<std::vector<std::string>> Sets = {
        {"mplex_vcd_b.mpg", "ff_pal_b.mpg", "mplex_generic.mpg"},
        {"mplex_vcd.mpg", "ff_pal_vcd.mpg", "mplex_uvcd.mpg"},
        {"dvd_authored1.vob", "dvd_authored2.vob"},
        {"mplex_dvd1.mpg", "mplex_dvd2.mpg"},
        {"mplex_dvd1.m2v", "mplex_dvd2.m2v"},
        {"--no-recalc-timecodes", "dvd_pal1.vob", "dvd_pal2.vob"},
    };
    for (const std::vector<std::string>& Set : Sets) {
        std::string Args;
        for (const std::string& Name : Set)
            Args += " " + (Name.front() == '-' ? Name : Quote(Stream(Name)));
        int Status;
        const std::string Said = Cli("join -o " + Quote(Dir.File("file.mpg")) + Args, &Status);
        ASSERT_EQ(Status, 0) << Said;
        ASSERT_EQ(RunCommand(std::string(VANTREL_CLI) + " join -o -" + Args + " 2>/dev/null | cat > " +
                             Quote(Dir.File("pipe.mpg"))),
                  0);
        EXPECT_TRUE(ReadFile(Dir.File("pipe.mpg")) == ReadFile(Dir.File("file.mpg"))) << Set.front();
    }
}

TEST(CliJoin, WithoutRestampingTheOutputIsTheInputsBytes)
{
    TTempDir Dir;
    const std::string Out = Dir.File("out.mpg");
    int Status;
    Cli("join --no-recalc-timecodes -o " + Quote(Out) + Files({"mplex_vcd.mpg", "mplex_vcd_b.mpg"}), &Status);
    ASSERT_EQ(Status, 0);
    // All bytes of the first file but its end code, those of the second with
    // its system headers turned into padding packets of the same length.
    TBytes First = ReadFile(Stream("mplex_vcd.mpg")), Second = ReadFile(Stream("mplex_vcd_b.mpg"));
    ASSERT_EQ(TBytes(First.end() - 4, First.end()), (TBytes{0, 0, 1, 0xB9}));
    std::copy_n(TBytes{0x80, 0xFF, 0xFF, 0xFF}.begin(), 4, First.end() - 4);
    int SystemHeaders = 0;
    for (std::size_t Offset : PacketOffsets(Second))
        if (Second[Offset + 3] == 0xBB) {
            Second[Offset + 3] = 0xBE;
            std::fill_n(Second.begin() + static_cast<long>(Offset + 6),
                        (Second[Offset + 4] << 8) | Second[Offset + 5], 0xFF);
            Second[Offset + 6] = 0x0F;
            ++SystemHeaders;
        }
    EXPECT_EQ(SystemHeaders, 2);
    EXPECT_TRUE(ReadFile(Out) == Concat({First, Second}));
    EXPECT_EQ(VideoFrames(Out), 125);
}

// The kernel tells every open of the inputs: one for the probe, one for
// the join, whatever the kind of file.
TEST(CliJoin, OpensEachInputTwice)
{
    TTempDir Dir;
    const std::vector<std::string> Names = {"ff_pal_noaudio.mpg", "ff_pal.m1v", "ff_pal.m1v"};
    const int Watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(Watch, 0);
    // Copies of their own: other tests open the shared streams meanwhile.
    std::map<int, std::string> Watched;
    std::string Inputs;
    for (const std::string& Name : Names) {
        if (!std::filesystem::exists(Dir.File(Name))) {
            WriteFile(Dir.File(Name), ReadFile(Stream(Name)));
            // Closes too: the kernel folds an event into the same one just before.
            Watched[::inotify_add_watch(Watch, Dir.File(Name).c_str(), IN_OPEN | IN_CLOSE)] = Name;
        }
        Inputs += " " + Quote(Dir.File(Name));
    }
    int Status;
    Cli("join -o " + Quote(Dir.File("out.mpg")) + Inputs, &Status);
    ASSERT_EQ(Status, 0);
    std::map<std::string, int> Opens;
    alignas(inotify_event) char Buffer[4096];
    for (ssize_t N; (N = ::read(Watch, Buffer, sizeof Buffer)) > 0;)
        for (char* At = Buffer; At < Buffer + N;) {
            const auto* Event = reinterpret_cast<const inotify_event*>(At);
            Opens[Watched[Event->wd]] += (Event->mask & IN_OPEN) != 0;
            At += sizeof(inotify_event) + Event->len;
        }
    ::close(Watch);
    EXPECT_EQ(Opens, (std::map<std::string, int>{{"ff_pal.m1v", 4}, {"ff_pal_noaudio.mpg", 2}}));
}

TEST(CliJoin, VideoOnlyWritesOneElementaryStream)
{
    TTempDir Dir;
    const std::string Out = Dir.File("out.m1v");
    int Status;
    Cli("join --video-only -o " + Quote(Out) + Files({"ff_pal_b.mpg", "ff_pal_mono48.mpg", "ff_pal.m1v"}),
        &Status);
    ASSERT_EQ(Status, 0);
    EXPECT_EQ(Ffprobe("-show_entries format=format_name -of csv=p=0", Out), "mpegvideo\n");
    EXPECT_EQ(VideoFrames(Out), 75 + 50 + 50);
    EXPECT_EQ(DecodeErrors(Out), "");
}

TEST(CliJoin, ElementaryStreamMakesTheJoinVideoOnly)
{
    TTempDir Dir;
    const std::string Out = Dir.File("out.mpg");
    int Status;
    const std::string Said =
        Cli("join -o " + Quote(Out) + Files({"ff_pal_noaudio.mpg", "ff_pal.m1v"}), &Status);
    ASSERT_EQ(Status, 0);
    EXPECT_NE(Said.find("joining video only"), std::string::npos) << Said;
    EXPECT_EQ(Ffprobe("-show_entries format=format_name -of csv=p=0", Out), "mpegvideo\n");
}

TEST(CliJoin, RefusalsAndFailures)
{
    TTempDir Dir;
    const std::string Out = Dir.File("out.mpg");
    const std::string Copy = Dir.File("copy.mpg");
    WriteFile(Copy, ReadFile(Stream("ff_pal.mpg")));
    const struct
    {
        std::string Args;
        int Status;
        std::string Message;
    } Cases[] = {
        {"join -o " + Quote(Out) + Files({"ff_pal.mpg", "ff_vcd.mpg"}), 1,
         "The video of ff_vcd.mpg differs from that of the first file, ff_pal.mpg (352 x 240 at 29.97 fps vs "
         "352 x 288 at 25.00 fps): the files cannot be joined.\n"},
        {"join -o " + Quote(Out) + Files({"ff_pal.mpg", "ff_pal_mono48.mpg"}), 1,
         "The sound of ff_pal_mono48.mpg differs from that of the first file, ff_pal.mpg (48 kHz mono vs "
         "44.1 kHz stereo): the files can be joined only without sound. Give --video-only"},
        // MPEG-1 and MPEG-2 never join.
        {"join -o " + Quote(Out) + Files({"ff_pal.mpg", "ff_mpeg2.vob"}), 1,
         "The video of ff_mpeg2.vob differs from that of the first file, ff_pal.mpg ("},
        {"join -o " + Quote(Out) + Files({"ff_pal.mpg", "ff_mpeg2_es.mpg"}), 1,
         "The video of ff_mpeg2_es.mpg differs from that of the first file, ff_pal.mpg ("},
        {"join -o " + Quote(Out) + Files({"ff_pal.mpg"}) + " " + Quote(Dir.Path()), 1,
         Dir.Path() + " is not a regular file.\n"},
        {"join -o " + Quote(Copy) + Files({"ff_pal.mpg"}) + " " + Quote(Copy), 1,
         "Join fails: The output file cannot be one of the input files."},
        {"join -o /dev/full" + Files({"ff_pal.mpg"}), 1,
         "Join fails: Unable to write file /dev/full\nNo space left on device"},
        {"join -o " + Quote(Dir.File("none/out.mpg")) + Files({"ff_pal.mpg"}), 1,
         "Join fails: Cannot create file " + Dir.File("none/out.mpg") + "\nNo such file or directory"},
        {"join" + Files({"ff_pal.mpg"}), 2, "join needs an output file"},
        {"join -o " + Quote(Out), 2, "join needs at least one input file"},
        {"join --bogus -o " + Quote(Out) + Files({"ff_pal.mpg"}), 2, "unknown option --bogus"},
        {"frobnicate", 2, "unknown command frobnicate"},
        {"", 2, "no command given"},
    };
    for (const auto& C : Cases) {
        int Status;
        const std::string Said = Cli(C.Args, &Status);
        EXPECT_EQ(Status, C.Status) << C.Args << "\n" << Said;
        EXPECT_NE(Said.find(C.Message), std::string::npos) << C.Args << "\n" << Said;
    }
    EXPECT_EQ(ReadFile(Copy), ReadFile(Stream("ff_pal.mpg")));
}

} // namespace
} // namespace vantrel
