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

std::string Cli(const std::string& Arguments, int* Status = nullptr)
{
    std::string Output;
    const int Code =
        RunCommand("timeout 120 " + std::string(VANTREL_CLI) + " " + Arguments + " </dev/null", &Output);
    if (Status)
        *Status = Code;
    return Output;
}

std::string Files(const std::vector<std::string>& Names)
{
    std::string Result;
    for (const std::string& Name : Names)
        Result += " " + Quote(Name.front() == '/' ? Name : Stream(Name));
    return Result;
}

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

// Every stream's DTS must strictly increase and no PTS may repeat.
std::string TimeLineFaults(const std::string& File)
{
    std::istringstream Lines(Ffprobe("-show_entries packet=stream_index,pts,dts -of csv=p=0", File));
    std::map<int, long long> LastDTS;
    std::map<int, std::set<long long>> SeenPTS;
    std::string Faults, Line;
    while (std::getline(Lines, Line)) {
        std::istringstream Fields(Line);
        std::string Index, PTS, DTS;
        std::getline(Fields, Index, ',');
        std::getline(Fields, PTS, ',');
        std::getline(Fields, DTS, ',');
        const int Stream = std::stoi(Index);
        if (DTS != "N/A" && !DTS.empty()) {
            const long long Value = std::stoll(DTS);
            if (LastDTS.count(Stream) && Value <= LastDTS[Stream])
                Faults +=
                    "stream " + Index + " DTS " + DTS + " after " + std::to_string(LastDTS[Stream]) + "\n";
            LastDTS[Stream] = Value;
        }
        if (PTS != "N/A" && !PTS.empty() && !SeenPTS[Stream].insert(std::stoll(PTS)).second)
            Faults += "stream " + Index + " PTS " + PTS + " repeats\n";
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

TEST(CliInfo, ShowsWhatTheFileListShows)
{
    TTempDir Dir;
    WriteFile(Dir.File("empty.mpg"), {});
    TBytes Cut = ReadFile(Stream("ff_pal.m1v"));
    Cut.resize(6);
    WriteFile(Dir.File("cut.m1v"), Cut);
    int Status;
    const std::string Said =
        Cli("info" + Files({"ff_pal.mpg", "ff_vcd.mpg", "ff_pal_mono48.mpg", "ff_pal.m1v", "vcd_track.dat"}) +
                " " + Quote(Dir.File("empty.mpg")) + " " + Quote(Dir.File("cut.m1v")) + " " +
                Quote(Dir.File("missing")) + " " + Quote(Dir.Path()),
            &Status);
    EXPECT_EQ(Status, 1);
    const std::string Expected[] = {
        Stream("ff_pal.mpg") + "\n  352 x 288  25.00 fps  OK  system stream  0:00:02.01  audio: Layer II "
                               "44.1 kHz stereo 192 kbit/s\n",
        Stream("ff_vcd.mpg") + "\n  352 x 240  29.97 fps  Video Differ",
        "  Video differs from the first file: 352 x 240 at 29.97 fps vs 352 x 288 at 25.00 fps\n",
        Stream("ff_pal_mono48.mpg") +
            "\n  352 x 288  25.00 fps  Audio Differ  system stream  0:00:02.02  audio: "
            "Layer II 48 kHz mono 128 kbit/s\n",
        Stream("ff_pal.m1v") +
            "\n  352 x 288  25.00 fps  Audio Differ  video stream  0:00:02.00  audio: none\n",
        Stream("vcd_track.dat") + "\n  352 x 288  25.00 fps  OK  system stream  0:00:02.01  audio: "
                                  "Layer II 44.1 kHz stereo 224 kbit/s\n",
        Dir.File("empty.mpg") + "\n  Unable to read the file format.\n",
        Dir.File("cut.m1v") + "\n  Unable to read video settings\n",
        Dir.File("missing") + "\n  Cannot open file " + Dir.File("missing") + "\nNo such file or directory\n",
        Dir.Path() + "\n  " + Dir.Path() + " is not a regular file.\n",
    };
    for (const std::string& Line : Expected)
        EXPECT_NE(Said.find(Line), std::string::npos) << Line << "\nin\n" << Said;
}

// The JSON document says what the text says, for scripts; a file name that
// is not UTF-8 still gives valid JSON.
TEST(CliInfo, JsonAgreesWithTheText)
{
    TTempDir Dir;
    const std::string Odd = Dir.File("odd\xff\"name.mpg");
    WriteFile(Odd, ReadFile(Stream("ff_pal_mono48.mpg")));
    // Not UTF-8: a surrogate, an overlong form, a byte that never starts one.
    const std::string Gone[] = {Dir.File("gone"), Dir.File("s\xED\xA0\x80"), Dir.File("o\xE0\x80\xAF"),
                                Dir.File("f\xF5\x80\x80\x80")};
    std::string Args = Files({"ff_pal.mpg", "ff_pal.m1v"}) + " " + Quote(Odd);
    for (const std::string& Name : Gone)
        Args += " " + Quote(Name);
    int Status;
    const std::string Json = Cli("info --json" + Args + " 2>/dev/null", &Status);
    EXPECT_EQ(Status, 1);
    WriteFile(Dir.File("info.json"), TBytes(Json.begin(), Json.end()));
    // python3 reads it as JSON; the fields come back as lines to compare.
    std::string Fields;
    ASSERT_EQ(
        RunCommand("python3 -c 'import json,sys\n"
                   "for f in json.load(open(sys.argv[1]))[\"files\"]:\n"
                   "  a=f.get(\"audio\") or {}\n"
                   "  print(f.get(\"kind\"),f.get(\"width\"),f.get(\"height\"),f.get(\"frame_rate\"),"
                   "f.get(\"duration\"),a.get(\"sample_rate\"),a.get(\"channel_mode\"),a.get(\"bit_rate\"),"
                   "f.get(\"status\"),\"error\" in f)\n"
                   "  if \"file_bytes\" in f: print(f[\"file_bytes\"])' " +
                       Quote(Dir.File("info.json")),
                   &Fields),
        0)
        << Json;
    // A name that is not UTF-8 comes with its exact bytes.
    auto Hex = [](const std::string& Name) {
        std::string Out;
        for (std::size_t I = 0; I < Name.size(); ++I) {
            static const char Digits[] = "0123456789abcdef";
            Out += Digits[static_cast<unsigned char>(Name[I]) >> 4];
            Out += Digits[static_cast<unsigned char>(Name[I]) & 15];
        }
        return Out + "\n";
    };
    const std::string Missing = "None None None None None None None None None True\n";
    EXPECT_EQ(Fields, "system stream 352 288 25.0 2.01 44100 stereo 192000 OK False\n"
                      "video stream 352 288 25.0 2.0 None None None Audio Differ False\n"
                      "system stream 352 288 25.0 2.02 48000 mono 128000 Audio Differ False\n" +
                          Hex(Odd) + Missing + Missing + Hex(Gone[1]) + Missing + Hex(Gone[2]) + Missing +
                          Hex(Gone[3]));
}

// A transport stream: its programs and streams after the usual line, the
// same in JSON for scripts.
TEST(CliInfo, TransportStreamsShowTheirPrograms)
{
    int Status;
    const std::string Said = Cli("info" + Files({"ts_ac3.ts", "ts_pids.ts", "hd_720p50_2.ts"}), &Status);
    EXPECT_EQ(Status, 0);
    const std::string Expected[] = {
        Stream("ts_ac3.ts") +
            "\n  720 x 576  25.00 fps  16:9 MPEG-2  OK  transport stream  0:00:02.02  audio: "
            "Layer II 48 kHz stereo 192 kbit/s deu, AC-3 48 kHz 5.1 384 kbit/s eng\n"
            "  Main profile at Main level, 4:2:0, progressive\n"
            "  program 1 \"Vantrel Eins\" (PMT PID 4096, PCR PID 256), 188-byte packets\n"
            "    PID 256: MPEG-2 video 720 x 576 25.00 fps 16:9\n"
            "    PID 257: Layer II 48 kHz stereo 192 kbit/s, deu\n"
            "    PID 258: AC-3 48 kHz 5.1 384 kbit/s, eng\n",
        "  program 28106 \"Vantrel Eins\" (PMT PID 4352, PCR PID 1008), 188-byte packets\n",
        Stream("hd_720p50_2.ts") +
            "\n  1280 x 720  50.00 fps  H.264  Video Differ  transport stream  0:00:01.02",
        "    PID 256: H.264 1280 x 720p 50.00 fps\n",
        "  Video differs from the first file: 1280 x 720 at 50.00 fps H.264 4:2:0 vs 720 x 576 at 25.00 fps "
        "MPEG-2 4:2:0\n"};
    for (const std::string& Line : Expected)
        EXPECT_NE(Said.find(Line), std::string::npos) << Line << "\nin\n" << Said;

    TTempDir Dir;
    const std::string Json = Cli("info --json" + Files({"ts_pids.ts"}), &Status);
    EXPECT_EQ(Status, 0);
    WriteFile(Dir.File("info.json"), TBytes(Json.begin(), Json.end()));
    std::string Fields;
    ASSERT_EQ(RunCommand(
                  "python3 -c 'import json,sys\n"
                  "f=json.load(open(sys.argv[1]))[\"files\"][0]\n"
                  "print(f[\"kind\"],f[\"packet_size\"],f[\"program\"],f[\"audio\"][\"pid\"])\n"
                  "for p in f[\"programs\"]:\n"
                  "  print(p[\"number\"],p[\"name\"],p[\"pmt_pid\"],p[\"pcr_pid\"])\n"
                  "  for s in p[\"streams\"]: print(s[\"pid\"],s[\"kind\"],s[\"codec\"],s[\"languages\"])' " +
                      Quote(Dir.File("info.json")),
                  &Fields),
              0)
        << Json;
    EXPECT_EQ(Fields, "transport stream 188 28106 513\n"
                      "28106 Vantrel Eins 4352 1008\n"
                      "1008 video MPEG-2 video []\n"
                      "513 audio MPEG [\'deu\']\n"
                      "1010 audio AC-3 [\'eng\']\n");
}

TEST(CliInfo, VersionHelpAndFileNamesAfterTwoDashes)
{
    int Status;
    EXPECT_EQ(Cli("--version", &Status), "Vantrel " VANTREL_VERSION "\n");
    EXPECT_EQ(Status, 0);
    EXPECT_NE(Cli("--help", &Status).find("Usage: vantrel-cli info"), std::string::npos);
    EXPECT_EQ(Status, 0);
    for (const char* Command : {"info", "join"}) {
        const std::string Said = Cli(std::string(Command) + " --help", &Status);
        EXPECT_EQ(Status, 0);
        EXPECT_EQ(Said.rfind(std::string("Usage: vantrel-cli ") + Command, 0), 0u) << Said;
    }
    // A file may be called "--help" or start with a dash after "--".
    TTempDir Dir;
    WriteFile(Dir.File("-x.mpg"), ReadFile(Stream("ff_pal.mpg")));
    const std::string Said = Cli("info -- " + Quote(Dir.File("-x.mpg")) + " --help", &Status);
    EXPECT_EQ(Status, 1);
    EXPECT_NE(Said.find("352 x 288"), std::string::npos) << Said;
    EXPECT_NE(Said.find("--help\n  Cannot open file --help"), std::string::npos) << Said;
}

} // namespace
} // namespace vantrel
