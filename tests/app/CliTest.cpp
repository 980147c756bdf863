// Runs the real command-line tool on the real test streams and checks what it
// writes with ffprobe, ffmpeg, vcdimager and an independent clock check.
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

std::size_t Lines(const std::string& Text)
{
    return static_cast<std::size_t>(std::count(Text.begin(), Text.end(), '\n'));
}

// Where the join says each later file starts ("NAME starts at 0:01:00.00"),
// against where the files before it end by ffprobe's durations and the
// pauses said: more than three frames off is a fault (ffprobe counts the
// repeated fields of film a frame short).
std::string StartFaults(const std::vector<std::string>& Inputs, const std::string& Said)
{
    std::string Faults;
    double End = 0;
    std::size_t At = 0;
    for (std::size_t I = 0; I < Inputs.size(); ++I) {
        if (I > 0) {
            At = Said.find(" starts at ", At);
            if (At == std::string::npos)
                return Faults + "no start said for file " + std::to_string(I + 1) + "\n";
            At += 11;
            const double Start = std::stoi(Said.substr(At)) * 3600 + std::stoi(Said.substr(At + 2)) * 60 +
                                 std::stod(Said.substr(At + 5));
            const std::size_t Pause = Said.find("a pause of ", At), Line = Said.find('\n', At);
            if (Pause < Line)
                End += std::stod(Said.substr(Pause + 11));
            if (std::abs(Start - End) > 0.12)
                Faults += "file " + std::to_string(I + 1) + " starts at " + std::to_string(Start) +
                          ", the files before end at " + std::to_string(End) + "\n";
        }
        End += Duration(Stream(Inputs[I]));
    }
    return Faults;
}

// What vcdimager says beyond "finished ok" when it builds a VCD 2.0 (or an
// SVCD) image.
std::string VcdImagerWarnings(const std::string& File, const char* Type = "vcd2")
{
    TTempDir Dir;
    std::string Said;
    RunCommand("cd " + Quote(Dir.Path()) + " && vcdimager -t " + Type + " -c v.cue -b v.bin " + Quote(File),
               &Said);
    return Said.find("finished ok") == std::string::npos ? Said : Said.substr(0, Said.find("finished ok"));
}

// What dvdauthor says of a DVD title made of File that tells of a broken
// time line: errors ("SCR moves backwards" ends it), and discontinuities of
// the sound longer than Allowed ticks.
std::string DvdAuthorFaults(const std::string& File, const char* Format, int Allowed)
{
    TTempDir Dir;
    std::string Said, Faults;
    RunCommand("VIDEO_FORMAT=" + std::string(Format) + " dvdauthor -o " + Quote(Dir.File("dvd")) + " -t " +
                   Quote(File),
               &Said);
    std::istringstream Lines(Said);
    for (std::string Line; std::getline(Lines, Line);) {
        const std::size_t Gap = Line.find("Discontinuity of ");
        if (Line.find("ERR") != std::string::npos || Line.find("backwards") != std::string::npos ||
            (Gap != std::string::npos && std::abs(std::stoi(Line.substr(Gap + 17))) > Allowed))
            Faults += Line + "\n";
    }
    return Faults;
}

// Whether the join of Inputs kept every packet of theirs (CheckPacketsKept).
// Tracks in a disc's sectors are left out: their packets are the sectors'
// payload, not the file's bytes.
std::string PacketsKept(const std::vector<std::string>& Inputs, const std::string& Out)
{
    std::vector<TBytes> Bytes;
    for (const std::string& Input : Inputs) {
        if (Input.ends_with(".dat") || Input.ends_with(".bin"))
            return "";
        Bytes.push_back(ReadFile(Stream(Input)));
    }
    return CheckPacketsKept(Bytes, ReadFile(Out)).Faults;
}

struct JoinCase
{
    const char* Name;
    std::vector<std::string> Inputs;
    bool Vcd; // every 2324-byte pack stays one, and vcdimager takes it
    // Packets after which a buffer holds more than the size last declared
    // for it: a file that declares no sizes of its own after one that
    // declares smaller ones is judged by those.
    int Overflows = 0;
    // The longest pause a joint may take (a disc's are up to 0.3 s).
    double MaxPause = 0.02;
};
void PrintTo(const JoinCase& Case, std::ostream* Out)
{
    *Out << Case.Name;
}

std::vector<std::string> Times(int Count, std::vector<std::string> Names)
{
    std::vector<std::string> Result;
    for (int I = 0; I < Count; ++I)
        Result.insert(Result.end(), Names.begin(), Names.end());
    return Result;
}

class RestampedJoin : public ::testing::TestWithParam<JoinCase>
{
};

TEST_P(RestampedJoin, PlaysAndKeepsAnHonestClock)
{
    const JoinCase& C = GetParam();
    TTempDir Dir;
    const std::string Out = Dir.File("out.mpg");
    double Seconds = 0;
    int Frames = 0;
    std::string InputErrors;
    std::set<std::uint32_t> InputRates;
    for (const std::string& Input : C.Inputs) {
        const std::set<std::uint32_t> Rates = CheckClock(ReadFile(Stream(Input))).MuxRates;
        InputRates.insert(Rates.begin(), Rates.end());
        Seconds += Duration(Stream(Input));
        Frames += VideoFrames(Stream(Input));
        InputErrors += DecodeErrors(Stream(Input));
    }
    int Status;
    const std::string Said = Cli("join -o " + Quote(Out) + Files(C.Inputs), &Status);
    ASSERT_EQ(Status, 0) << Said;
    // The pauses the joints report make the output that much longer; only a
    // disc's fixed rate needs them, and never long.
    for (std::size_t At = 0; (At = Said.find("a pause of ", At)) != std::string::npos; ++At) {
        const double Pause = std::stod(Said.substr(At + 11));
        EXPECT_LE(Pause, C.Vcd ? 0.3 : C.MaxPause) << Said;
        Seconds += Pause;
    }
    // A clip cut mid-frame keeps its own damage; nothing new is added.
    EXPECT_EQ(DecodeErrors(Out).empty(), InputErrors.empty()) << DecodeErrors(Out);
    EXPECT_EQ(VideoFrames(Out), Frames);
    EXPECT_NEAR(Duration(Out), Seconds, 2 / 25.0 + 0.001) << Said;
    EXPECT_EQ(TimeLineFaults(Out), "");
    const TClockCheck Clock = CheckClock(ReadFile(Out));
    EXPECT_EQ(Clock.SCRNotIncreasing, 0);
    // Every access unit on time and no buffer over its size, as in the inputs.
    const TDecoderModelCheck Model = CheckDecoderModel(ReadFile(Out));
    EXPECT_EQ(Model.Late, 0) << Model.Text();
    EXPECT_EQ(Model.Overflows, C.Overflows) << Model.Text();
    EXPECT_EQ(Said.find("could not be kept"), std::string::npos) << Said;
    EXPECT_EQ(PacketsKept(C.Inputs, Out), "");
    if (C.Vcd) {
        for (std::size_t Size : Clock.PackSizes)
            ASSERT_EQ(Size, 2324u);
        // A disc's sectors come at its one rate.
        EXPECT_TRUE(std::includes(InputRates.begin(), InputRates.end(), Clock.MuxRates.begin(),
                                  Clock.MuxRates.end()));
        EXPECT_EQ(VcdImagerWarnings(Out), "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    RealStreams, RestampedJoin,
    ::testing::Values(
        JoinCase{"FfmpegPair", {"ff_pal.mpg", "ff_pal_b.mpg"}, false},
        JoinCase{"FfmpegBFramesTriple", {"ff_pal_b.mpg", "ff_pal.mpg", "ff_pal_b.mpg"}, false},
        JoinCase{"FfmpegTen", Times(5, {"ff_pal_b.mpg", "ff_pal.mpg"}), false},
        JoinCase{"FfmpegNearTheMuxRate", {"ff_rate1.mpg", "ff_rate2.mpg", "ff_rate3.mpg"}, false},
        JoinCase{"FfmpegNtsc", {"ff_ntsc1.mpg", "ff_ntsc2.mpg", "ff_ntsc3.mpg", "ff_ntsc1.mpg"}, false},
        JoinCase{"BitRates192And64", {"ff_pal.mpg", "ff_pal_64k.mpg", "ff_pal.mpg"}, false},
        JoinCase{"WrappingFirst", {"ff_pal_wrap.mpg", "ff_pal.mpg"}, false},
        JoinCase{"WrappingSecond", {"ff_pal_b.mpg", "ff_pal_wrap.mpg", "ff_pal.mpg"}, false},
        JoinCase{"FfmpegVcdPair", {"ff_pal_vcd.mpg", "ff_pal_vcd.mpg"}, true},
        JoinCase{"FfmpegVcdTen", Times(10, {"ff_pal_vcd.mpg"}), true},
        JoinCase{
            "FfmpegNtscVcd",
            {"ff_ntscvcd1.mpg", "ff_ntscvcd2.mpg", "ff_ntscvcd3.mpg", "ff_ntscvcd2.mpg", "ff_ntscvcd1.mpg"},
            true},
        JoinCase{"MplexVcdPair", {"mplex_vcd.mpg", "mplex_vcd_b.mpg"}, true},
        JoinCase{"MplexVcdTen", Times(5, {"mplex_vcd.mpg", "mplex_vcd_b.mpg"}), true},
        JoinCase{"MixedVcd", Times(2, {"mplex_vcd.mpg", "ff_pal_vcd.mpg"}), true},
        JoinCase{"MplexUserRateVcd",
                 {"mplex_uvcd.mpg", "mplex_uvcd_b.mpg", "mplex_uvcd.mpg", "mplex_vcd.mpg"},
                 true},
        JoinCase{"VcdTracks", {"vcd_cut.mpg", "vcd_track.dat", "vcd_track_empty.dat"}, true},
        // Cut out of a disc image, with its front margin and the empty
        // sectors after its end: every joint stays on the sector grid.
        JoinCase{
            "DiscTracks", {"disc_track.bin", "disc_pregap.bin", "vcd_track.dat", "disc_track.bin"}, true},
        JoinCase{"MplexGeneric", {"mplex_generic.mpg", "mplex_generic.mpg", "mplex_generic.mpg"}, false},
        // ffmpeg's clip declares no buffer sizes in its packets and uses more
        // video buffer than the mplex clip before it declares.
        JoinCase{"MixedMuxers", {"mplex_vcd_b.mpg", "ff_pal_b.mpg", "mplex_generic.mpg"}, false, 1},
        // MPEG-2 video in MPEG-1 packs, whose last group of pictures has no
        // stamp: where it ends is told by its pictures' order.
        JoinCase{"Mpeg2VideoInMpeg1", {"ff_mpeg2_in_mpeg1.mpg", "ff_mpeg2_in_mpeg1.mpg"}, false},
        // The earlier file's last packs take the channel until a quarter of
        // a second after the later file's first pictures are due, and faster
        // packs overfill the sound buffer: a pause, at every joint alike.
        JoinCase{"FreeRateChain",
                 {"ff_free1.mpg", "ff_free2.mpg", "ff_free3.mpg", "ff_free1.mpg", "ff_free2.mpg"},
                 false,
                 0,
                 0.3}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// Pictures whose showing begins before the one before has ended, by
// ffprobe's frame times and durations (which count repeated fields).
std::string PictureOverlaps(const std::string& File)
{
    std::istringstream Lines(Ffprobe(
        "-select_streams v -show_frames -show_entries frame=best_effort_timestamp,pkt_duration -of csv=p=0",
        File));
    std::vector<std::pair<long long, long long>> Frames;
    for (std::string Line; std::getline(Lines, Line);)
        if (!Line.empty() && std::isdigit(static_cast<unsigned char>(Line[0])))
            Frames.push_back({std::stoll(Line), std::stoll(Line.substr(Line.find(',') + 1))});
    std::sort(Frames.begin(), Frames.end());
    std::string Faults;
    for (std::size_t I = 1; I < Frames.size(); ++I)
        // Half a tick of a repeated NTSC field is rounded away.
        if (Frames[I].first < Frames[I - 1].first + Frames[I - 1].second - 1)
            Faults += std::to_string(Frames[I].first) + " before " + std::to_string(Frames[I - 1].first) +
                      " + " + std::to_string(Frames[I - 1].second) + "\n";
    return Faults;
}

struct ProgramCase
{
    const char* Name;
    std::vector<std::string> Inputs;
    std::size_t Sector; // every pack keeps this size
    const char* Disc;   // "PAL" or "NTSC": dvdauthor must take it; "svcd": vcdimager
    int SoundGap = 0;   // ticks of sound the joints may leave (where pictures end later)
    // Joints where the rest of one cut's last sound frame meets the rest of
    // the next one's first: ffprobe takes the two for one frame, which
    // repeats the stamp of the frame after it.
    int CutFrames = 0;
};
void PrintTo(const ProgramCase& Case, std::ostream* Out)
{
    *Out << Case.Name;
}

class ProgramStreamJoin : public ::testing::TestWithParam<ProgramCase>
{
};

// MPEG-2 program streams join as MPEG-1 streams do: all pictures, one time
// line, an honest clock and buffers, every pack at its sector's size, and
// what a DVD's navigation packs say of their times still true.
TEST_P(ProgramStreamJoin, KeepsItsPacksClockAndNavigation)
{
    const ProgramCase& C = GetParam();
    TTempDir Dir;
    const std::string Out = Dir.File("out.vob");
    int Frames = 0, Late = 0, Overflows = 0, Navigation = 0;
    std::size_t Errors = 0;
    for (const std::string& Input : C.Inputs) {
        Frames += VideoFrames(Stream(Input));
        // A cut's own damage (the rest of a sound frame) stays; none is added.
        Errors += Lines(DecodeErrors(Stream(Input)));
        const TDecoderModelCheck Model = CheckDecoderModel(ReadFile(Stream(Input)));
        Late += Model.Late, Overflows += Model.Overflows;
        Navigation += CheckNavigation(ReadFile(Stream(Input))).Count;
    }
    int Status;
    const std::string Said = Cli("join -o " + Quote(Out) + Files(C.Inputs), &Status);
    ASSERT_EQ(Status, 0) << Said;
    EXPECT_EQ(Lines(DecodeErrors(Out)), Errors) << DecodeErrors(Out);
    EXPECT_EQ(VideoFrames(Out), Frames);
    EXPECT_EQ(Lines(TimeLineFaults(Out)), 2u * C.CutFrames) << TimeLineFaults(Out);
    EXPECT_EQ(PictureOverlaps(Out), "");
    const TBytes Joined = ReadFile(Out);
    const TClockCheck Clock = CheckClock(Joined);
    EXPECT_EQ(Clock.SCRNotIncreasing, 0);
    EXPECT_EQ(Clock.Late, 0);
    for (std::size_t Size : Clock.PackSizes)
        ASSERT_EQ(Size, C.Sector);
    // What the inputs bring (ffmpeg's LPCM overfills its buffer), and nothing more.
    const TDecoderModelCheck Model = CheckDecoderModel(Joined);
    EXPECT_EQ(Model.Late, Late) << Model.Text();
    EXPECT_EQ(Model.Overflows, Overflows) << Model.Text();
    EXPECT_EQ(PacketsKept(C.Inputs, Out), "");
    EXPECT_EQ(StartFaults(C.Inputs, Said), "") << Said;
    const TNavigationCheck Nav = CheckNavigation(Joined);
    EXPECT_EQ(Nav.Count, Navigation);
    EXPECT_EQ(Nav.Faults, "");
    if (std::string(C.Disc) == "svcd") {
        EXPECT_EQ(VcdImagerWarnings(Out, "svcd"), "");
    } else if (*C.Disc) {
        EXPECT_EQ(DvdAuthorFaults(Out, C.Disc, C.SoundGap), "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    RealStreams, ProgramStreamJoin,
    ::testing::Values(
        ProgramCase{"PalDvd", {"dvd_pal1.vob", "dvd_pal2.vob", "dvd_pal3.vob"}, 2048, "PAL"},
        // Later files whose packs stay behind their clock past the joint's
        // look ahead. A full channel of fixed rate makes room only by a pause
        // (0.17 s), which the sound has too.
        ProgramCase{"FullRateDvd", {"dvd_full1.vob", "dvd_full2.vob", "dvd_full1.vob"}, 2048, "PAL", 17000},
        ProgramCase{"NtscDvd51", {"dvd_ntsc1.vob", "dvd_ntsc2.vob", "dvd_ntsc1.vob"}, 2048, "NTSC"},
        ProgramCase{
            "AuthoredVobs", {"dvd_authored1.vob", "dvd_authored2.vob", "dvd_authored1.vob"}, 2048, "PAL"},
        ProgramCase{"MplexDvd", {"mplex_dvd1.mpg", "mplex_dvd2.mpg"}, 2048, "PAL", 2160},
        // One picture, then a minute of sound: the file ends with its sound.
        ProgramCase{"StillTitle", {"dvd_still.vob", "dvd_still.vob"}, 2048, "PAL"},
        // NTSC film with 3:2 pulldown: pictures of a frame and a half. Its
        // pictures run up to 27 ms past its sound, which the joint leaves.
        ProgramCase{
            "MplexFilm", {"mplex_film1.mpg", "mplex_film2.mpg", "mplex_film1.mpg"}, 2048, "NTSC", 3003},
        ProgramCase{"DtsVobs", {"vob_dts.vob", "vob_dts.vob"}, 2048, "PAL"},
        // Two sound streams: each sub-stream's buffer holds at the joint,
        // to the tick its bytes arrive in.
        ProgramCase{"TwoSoundStreams", {"dvd_two1.vob", "dvd_two2.vob", "dvd_two1.vob"}, 2048, "PAL"},
        // Each opens with an open group of pictures and the rest of a sound
        // frame it cut: those bytes take room in the buffer at the joint.
        // dvdauthor refuses the cuts themselves (their sound stamps go back).
        ProgramCase{"OpenGopCuts", {"dvd_cut1.vob", "dvd_cut2.vob", "dvd_cut1.vob"}, 2048, "", 0, 1},
        ProgramCase{"LpcmVobs", {"vob_lpcm.vob", "vob_lpcm.vob"}, 2048, ""},
        ProgramCase{"VobsWithMp2", {"vob_mp2_1.vob", "vob_mp2_2.vob", "vob_mp2_1.vob"}, 2048, ""},
        // Five clips of two seconds make ffmpeg guess 24.92 fps from the
        // joints' gaps, and its null muxer then refuses its own re-timed
        // frames; four keep its guess at 25.
        ProgramCase{"Svcd", {"svcd2.mpg", "svcd1.mpg", "svcd2.mpg", "svcd2.mpg"}, 2324, "svcd"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

} // namespace
} // namespace vantrel
