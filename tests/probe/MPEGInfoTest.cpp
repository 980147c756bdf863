#include "probe/MPEGInfo.h"
#include "io/SysUtils.h"
#include "probe/JoinRules.h"
#include "probe/MediaText.h"

#include "TestSupport.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>

namespace vantrel {
namespace {

using namespace test;

std::string ProbeError(const std::string& Name)
{
    TMediaInfo Info;
    try {
        ProbeMediaFile(Name, Info);
    } catch (const Exception& E) {
        return E.what();
    }
    return "";
}

const TBytes PalSequence = {0, 0, 1, 0xB3, 0x16, 0x01, 0x20, 0x13, 0xFF, 0xFF, 0xE0, 0x18};
// Enough video payload (8192 bytes) for the video search to stop before the
// packets that follow it.
const TBytes PalVideo = Concat({PalSequence, Filled(8192 - PalSequence.size(), 0x55)});

TEST(ProbeMediaFile, VideoElementaryStream)
{
    TTempDir Dir;
    WriteFile(Dir.File("v.m1v"), {0, 0, 1, 0xB3, 0x16, 0x00, 0xF0, 0x14, 0, 0, 1, 0xB8});
    TMediaInfo Info;
    Info.HasAudio = true; // the probe zeroes the record first
    ProbeMediaFile(Dir.File("v.m1v"), Info);
    EXPECT_FALSE(Info.IsSystemStream);
    EXPECT_EQ(Info.Width, 352);
    EXPECT_EQ(Info.Height, 240);
    EXPECT_EQ(Info.FrameRateCode, 4);
    EXPECT_DOUBLE_EQ(Info.FrameRate, 29.97);
    EXPECT_FALSE(Info.HasAudio);
    EXPECT_EQ(Info.AudioLayer, 0);
    EXPECT_EQ(Info.SampleRate, 0);
    EXPECT_EQ(Info.ChannelMode, 0);
}

TEST(ProbeMediaFile, SystemStreamWithAudio)
{
    TTempDir Dir;
    WriteFile(Dir.File("s.mpg"), Concat({PackHeader(0, 1000), PESPacket(0xE0, {0x0F}, PalVideo),
                                         PESPacket(0xC0, {0x0F}, {0x00, 0xFF, 0xFD, 0xA0, 0x04, 0x55})}));
    TMediaInfo Info;
    ProbeMediaFile(Dir.File("s.mpg"), Info);
    EXPECT_TRUE(Info.IsSystemStream);
    EXPECT_EQ(Info.Width, 352);
    EXPECT_EQ(Info.Height, 288);
    EXPECT_DOUBLE_EQ(Info.FrameRate, 25);
    EXPECT_TRUE(Info.HasAudio);
    EXPECT_EQ(Info.AudioLayer, 2);
    EXPECT_EQ(Info.SampleRate, 44100);
    EXPECT_EQ(Info.ChannelMode, 0);
}

TEST(ProbeMediaFile, AudioWithoutAValidHeaderStillCountsAsAudio)
{
    TTempDir Dir;
    WriteFile(Dir.File("s.mpg"), Concat({PackHeader(0, 1000), PESPacket(0xE0, {0x0F}, PalVideo),
                                         PESPacket(0xC0, {0x0F}, {1, 2, 3, 4, 5})}));
    TMediaInfo Info;
    ProbeMediaFile(Dir.File("s.mpg"), Info);
    EXPECT_TRUE(Info.HasAudio);
    EXPECT_EQ(Info.AudioLayer, 0);
    EXPECT_EQ(Info.SampleRate, 0);
}

TEST(ProbeMediaFile, AudioIsSearchedFromTheStartOfItsStream)
{
    // The video search runs to the end of this short file; the audio before
    // it is still found, and from its first byte.
    TBytes Bytes = Concat({PackHeader(0, 1000), PESPacket(0xC0, {0x0F}, {0xFF, 0xFD, 0xA0, 0x04}),
                           PESPacket(0xE0, {0x0F}, PalSequence)});
    TMemorySource Source(Bytes);
    TMediaInfo Info;
    ProbeMediaFile(Source, Info);
    EXPECT_TRUE(Info.HasAudio);
    EXPECT_EQ(Info.AudioLayer, 2);
    EXPECT_EQ(Info.AudioBitRate, 192000);
}

TEST(ProbeMediaFile, RefusalMessages)
{
    TTempDir Dir;
    const struct
    {
        const char* Name;
        TBytes Bytes;
        const char* Message;
    } Cases[] = {
        {"OnlyStreamE1", Concat({PackHeader(0, 1), PESPacket(0xE1, {0x0F}, PalSequence)}),
         "Unable to find video stream"},
        {"CutSequence", {0, 0, 1, 0xB3, 0x16, 0x01}, "Unable to read video settings"},
        {"NoSequenceInVideo", Concat({PackHeader(0, 1), PESPacket(0xE0, {0x0F}, {0, 0, 1, 0xB8, 1})}),
         "Unable to read video settings"},
        {"FrameRateCode0", {0, 0, 1, 0xB3, 0x16, 0x01, 0x20, 0x10}, "Unable to read video settings"},
        {"FrameRateCode14", {0, 0, 1, 0xB3, 0x16, 0x01, 0x20, 0x1E}, "Unable to read video settings"},
        // An MPEG-2 sequence extension cut short, and one with a reserved chroma format.
        {"Mpeg2CutExtension", Concat({PalSequence, {0, 0, 1, 0xB5, 0x14, 0x8A, 0, 1}}),
         "Unable to read video settings"},
        {"Mpeg2Chroma0", Concat({PalSequence, {0, 0, 1, 0xB5, 0x14, 0x88, 0, 1, 0, 0, 0, 0}}),
         "Unable to read video settings"},
        {"OtherStartCode", {0, 0, 1, 0xE0, 0, 0, 0, 0}, "Unable to read the file format."},
        {"Empty", {}, "Unable to read the file format."},
        {"ThreeBytes", {0, 0, 1}, "Unable to read the file format."},
        // MPEG-2 pack header: '01' where MPEG-1 has '0010'.
        {"Mpeg2Pack",
         {0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1, 1, 0x89, 0xC3, 0xF8},
         "Unable to find video stream"},
    };
    for (const auto& C : Cases) {
        WriteFile(Dir.File(C.Name), C.Bytes);
        EXPECT_EQ(ProbeError(Dir.File(C.Name)), C.Message) << C.Name;
    }
    EXPECT_EQ(ProbeError(Dir.File("missing")),
              "Cannot open file " + Dir.File("missing") + "\r\nNo such file or directory");
}

struct RealCase
{
    const char* File;
    bool IsSystemStream;
    std::uint16_t Width, Height;
    double FrameRate;
    bool HasAudio;
    std::uint8_t Layer;
    std::int32_t SampleRate;
    std::uint8_t ChannelMode;
    std::int32_t BitRate;
    // Seconds: the longer of the decoded pictures at the frame rate and the
    // decoded sound, as ffmpeg decodes them.
    double Duration;
};
void PrintTo(const RealCase& Case, std::ostream* Out)
{
    *Out << Case.File;
}
class ProbeRealStream : public ::testing::TestWithParam<RealCase>
{
};

// Sizes, rates, layers (mp2 = II, mp3 = III) and sampling rates as ffprobe
// reports them; channel modes as the encoders were asked to write them.
TEST_P(ProbeRealStream, AgreesWithFfprobe)
{
    const RealCase& C = GetParam();
    TMediaInfo Info;
    ProbeMediaFile(Stream(C.File), Info);
    EXPECT_EQ(Info.IsSystemStream, C.IsSystemStream);
    EXPECT_EQ(Info.Width, C.Width);
    EXPECT_EQ(Info.Height, C.Height);
    EXPECT_DOUBLE_EQ(Info.FrameRate, C.FrameRate);
    EXPECT_EQ(Info.HasAudio, C.HasAudio);
    EXPECT_EQ(Info.AudioLayer, C.Layer);
    EXPECT_EQ(Info.SampleRate, C.SampleRate);
    EXPECT_EQ(Info.ChannelMode, C.ChannelMode);
    EXPECT_EQ(Info.AudioBitRate, C.BitRate);
    EXPECT_NEAR(Info.Duration, C.Duration, 0.5 / C.FrameRate);
}

INSTANTIATE_TEST_SUITE_P(
    TestStreams, ProbeRealStream,
    ::testing::Values(RealCase{"ff_pal.mpg", true, 352, 288, 25, true, 2, 44100, 0, 192000, 2},
                      RealCase{"ff_pal_b.mpg", true, 352, 288, 25, true, 2, 44100, 0, 192000, 3},
                      RealCase{"ff_pal_mono48.mpg", true, 352, 288, 25, true, 2, 48000, 3, 128000, 2},
                      RealCase{"ff_pal_dual.mpg", true, 352, 288, 25, true, 2, 44100, 2, 192000, 2},
                      RealCase{"ff_pal_mp3.mpg", true, 352, 288, 25, true, 3, 44100, 1, 128000, 2.03},
                      RealCase{"ff_pal_noaudio.mpg", true, 352, 288, 25, false, 0, 0, 0, 0, 2},
                      RealCase{"ff_vcd.mpg", true, 352, 240, 29.97, true, 2, 44100, 0, 224000, 60 / 29.97},
                      RealCase{"ff_small.mpg", true, 320, 240, 25, true, 2, 44100, 0, 192000, 2},
                      RealCase{"ff_pal.m1v", false, 352, 288, 25, false, 0, 0, 0, 0, 2},
                      RealCase{"mplex_vcd.mpg", true, 352, 288, 25, true, 2, 44100, 0, 224000, 2},
                      RealCase{"mplex_vcd_b.mpg", true, 352, 288, 25, true, 2, 44100, 0, 224000, 3},
                      RealCase{"mplex_generic.mpg", true, 352, 288, 25, true, 2, 44100, 0, 224000, 2},
                      // Frames whose bits decode as other headers when read alone.
                      RealCase{"ff_mono384.mpg", true, 352, 288, 25, true, 2, 44100, 3, 384000, 4.02},
                      RealCase{"ff_mono256.mpg", true, 352, 288, 25, true, 2, 44100, 3, 256000, 4.02},
                      RealCase{"ff_pal_2324.mpg", true, 352, 288, 25, true, 2, 44100, 0, 192000, 2},
                      RealCase{"ff_pal_wrap.mpg", true, 352, 288, 25, true, 2, 44100, 0, 192000, 2},
                      // VCD tracks: off a disc, after empty sectors, and cut inside a group of
                      // pictures (35 of its 45 pictures decode; its sound runs 1.91 s).
                      RealCase{"ff_pal_vcd.mpg", true, 352, 288, 25, true, 2, 44100, 0, 224000, 2},
                      RealCase{"vcd_track.dat", true, 352, 288, 25, true, 2, 44100, 0, 224000, 2},
                      RealCase{"vcd_track_empty.dat", true, 352, 288, 25, true, 2, 44100, 0, 224000, 2},
                      RealCase{"disc_pregap.bin", true, 352, 288, 25, true, 2, 44100, 0, 224000, 2},
                      RealCase{"vcd_cut.mpg", true, 352, 288, 25, true, 2, 44100, 0, 224000, 1.91}),
    [](const auto& Info) {
        std::string Name = Info.param.File;
        for (char& C : Name)
            if (!isalnum(static_cast<unsigned char>(C)))
                C = '_';
        return Name;
    });

// How long ffprobe shows a stream's pictures, repeated fields counted.
double ShownSeconds(const std::string& File)
{
    std::istringstream Lines(
        Ffprobe("-select_streams v -show_frames -show_entries frame=pkt_duration_time -of csv=p=0", File));
    double Seconds = 0;
    for (std::string Line; std::getline(Lines, Line);)
        if (!Line.empty() && std::isdigit(static_cast<unsigned char>(Line[0])))
            Seconds += std::stod(Line);
    return Seconds;
}

// MPEG-2 as DVD, SVCD and recorder files hold it, read as ffprobe reads it.
TEST(ProbeRealStream, Mpeg2ProgramStreams)
{
    const struct
    {
        const char* File;
        const char* Video; // VideoText
        const char* Audio;
        bool ProgramStream;
    } Cases[] = {
        {"dvd_pal1.vob", "720 x 576 25.00 fps 16:9 MPEG-2", "AC-3 48 kHz stereo 448 kbit/s", true},
        {"dvd_ntsc1.vob", "720 x 480 29.97 fps 4:3 MPEG-2", "AC-3 48 kHz 5.1 448 kbit/s", true},
        // A cut whose first AC-3 pointer names a frame it left out.
        {"dvd_cut1.vob", "720 x 576 25.00 fps 4:3 MPEG-2", "AC-3 48 kHz stereo 192 kbit/s", true},
        {"svcd1.mpg", "480 x 576 25.00 fps 4:3 MPEG-2", "Layer II 44.1 kHz stereo 224 kbit/s", true},
        {"vob_lpcm.vob", "720 x 576 25.00 fps 4:3 MPEG-2", "LPCM 48 kHz stereo 16 bit", true},
        {"vob_dts.vob", "720 x 576 25.00 fps 4:3 MPEG-2", "DTS 48 kHz stereo 1411 kbit/s", true},
        {"mplex_dvd1.mpg", "720 x 576 25.00 fps 4:3 MPEG-2", "Layer II 48 kHz stereo 224 kbit/s", true},
        {"ff_mpeg2.m2v", "352 x 288 25.00 fps 1:1 MPEG-2", "none", false},
        // 48 pictures of film, every other one repeating a field: 2 s, not 1.6.
        {"mplex_film1.m2v", "720 x 480 29.97 fps 4:3 MPEG-2", "none", false},
        {"ff_mpeg2_in_mpeg1.mpg", "352 x 288 25.00 fps 1:1 MPEG-2", "none", false},
    };
    for (const auto& C : Cases) {
        TMediaInfo Info;
        ASSERT_EQ(ProbeError(Stream(C.File)), "") << C.File;
        ProbeMediaFile(Stream(C.File), Info);
        EXPECT_EQ(VideoText(Info), C.Video) << C.File;
        EXPECT_EQ(AudioText(Info), C.Audio) << C.File;
        EXPECT_EQ(Info.ProgramStream, C.ProgramStream) << C.File;
        EXPECT_EQ(Info.ChromaFormat, 1) << C.File;
        // ffprobe gives an elementary stream no duration: its pictures and
        // their repeated fields do.
        const double Seconds = C.ProgramStream ? Duration(Stream(C.File)) : ShownSeconds(Stream(C.File));
        EXPECT_NEAR(Info.Duration, Seconds, 0.05) << C.File;
    }
}

// An early encoder's code 9 (15 fps) on a 160 x 120 clip, as ffprobe reads it.
TEST(ProbeRealStream, EarlyEncodersFrameRateCodes)
{
    TTempDir Dir;
    TBytes Clip = ReadFile(Stream("ff_qsif.m1v"));
    for (std::size_t I = 0; I + 8 <= Clip.size(); ++I)
        if (Clip[I] == 0 && Clip[I + 1] == 0 && Clip[I + 2] == 1 && Clip[I + 3] == 0xB3)
            Clip[I + 7] = static_cast<std::uint8_t>((Clip[I + 7] & 0xF0) | 9);
    WriteFile(Dir.File("q.m1v"), Clip);
    TMediaInfo Info;
    ProbeMediaFile(Dir.File("q.m1v"), Info);
    EXPECT_EQ(Info.FrameRateCode, 9);
    EXPECT_DOUBLE_EQ(Info.FrameRate, 15);
    EXPECT_EQ(Ffprobe("-show_entries stream=r_frame_rate -of csv=p=0", Dir.File("q.m1v")), "15/1\n");
    EXPECT_NEAR(Info.Duration, 50 / 15.0, 0.001); // 50 pictures
}

TMediaInfo Probed(const char* File)
{
    TMediaInfo Info;
    ProbeMediaFile(Stream(File), Info);
    return Info;
}

TEST(CompareMediaInfo, RealStreamsAgainstThePalReference)
{
    const TMediaInfo Reference = Probed("ff_pal.mpg");
    const struct
    {
        const char* File;
        TFormatMatch Match;
    } Cases[] = {
        {"ff_pal.mpg", fmSame},
        {"ff_pal_b.mpg", fmSame},
        {"mplex_vcd.mpg", fmSame},
        {"ff_vcd.mpg", fmVideoDiffers},
        {"ff_small.mpg", fmVideoDiffers},
        {"ff_pal_mono48.mpg", fmAudioDiffers},
        {"ff_pal_dual.mpg", fmAudioDiffers},
        {"ff_pal_mp3.mpg", fmAudioDiffers},
        {"ff_pal_noaudio.mpg", fmAudioDiffers},
        {"ff_pal.m1v", fmAudioDiffers},
    };
    for (const auto& C : Cases)
        EXPECT_EQ(CompareMediaInfo(Reference, Probed(C.File)), C.Match) << C.File;
    EXPECT_EQ(CompareMediaInfo(Probed("ff_pal_noaudio.mpg"), Probed("ff_pal.m1v")), fmSame);
}

TEST(CompareMediaInfo, FieldByField)
{
    TMediaInfo A;
    A.Width = 352, A.Height = 288, A.FrameRateCode = 3, A.HasAudio = true, A.AudioLayer = 2,
    A.SampleRate = 44100;
    const struct
    {
        const char* What;
        void (*Change)(TMediaInfo&);
        TFormatMatch Match;
    } Cases[] = {
        {"nothing", [](TMediaInfo&) {}, fmSame},
        {"frame rate value only", [](TMediaInfo& B) { B.FrameRate = 99; }, fmSame},
        {"system stream flag only", [](TMediaInfo& B) { B.IsSystemStream = !B.IsSystemStream; }, fmSame},
        {"width", [](TMediaInfo& B) { B.Width = 320; }, fmVideoDiffers},
        {"height", [](TMediaInfo& B) { B.Height = 240; }, fmVideoDiffers},
        {"frame rate code", [](TMediaInfo& B) { B.FrameRateCode = 4; }, fmVideoDiffers},
        {"code and audio", [](TMediaInfo& B) { B.FrameRateCode = 4, B.SampleRate = 1; }, fmVideoDiffers},
        {"has audio", [](TMediaInfo& B) { B.HasAudio = false; }, fmAudioDiffers},
        {"layer", [](TMediaInfo& B) { B.AudioLayer = 3; }, fmAudioDiffers},
        {"sample rate", [](TMediaInfo& B) { B.SampleRate = 48000; }, fmAudioDiffers},
        {"channel mode", [](TMediaInfo& B) { B.ChannelMode = 1; }, fmAudioDiffers},
        // MPEG-1 and MPEG-2 never join; nor do program and MPEG-1 system streams.
        {"MPEG version", [](TMediaInfo& B) { B.MPEGVersion = 2; }, fmVideoDiffers},
        {"chroma format", [](TMediaInfo& B) { B.ChromaFormat = 2; }, fmVideoDiffers},
        {"program stream", [](TMediaInfo& B) { B.IsSystemStream = true, B.ProgramStream = true; }, fmSame},
        {"codec", [](TMediaInfo& B) { B.AudioCodec = acAC3; }, fmAudioDiffers},
        {"channels", [](TMediaInfo& B) { B.AudioChannels = 5; }, fmAudioDiffers},
        {"low-frequency channel", [](TMediaInfo& B) { B.LowFrequency = true; }, fmAudioDiffers},
        {"bit rate only", [](TMediaInfo& B) { B.AudioBitRate = 448000; }, fmSame},
    };
    for (const auto& C : Cases) {
        TMediaInfo B = A;
        C.Change(B);
        EXPECT_EQ(CompareMediaInfo(A, B), C.Match) << C.What;
    }
    // Between two system streams the pack layout counts, and MPEG-2's rate
    // extension does.
    TMediaInfo System = A, Program = A;
    System.IsSystemStream = Program.IsSystemStream = Program.ProgramStream = true;
    EXPECT_EQ(CompareMediaInfo(System, Program), fmVideoDiffers);
    EXPECT_EQ(DifferenceText(System, Program),
              "Video differs from the first file: program stream vs system stream");
    TMediaInfo Slow = Program;
    Program.MPEGVersion = Slow.MPEGVersion = 2;
    Slow.FrameRate = 12.5;
    EXPECT_EQ(CompareMediaInfo(Program, Slow), fmVideoDiffers);
}

// A DVD's private stream 1 holds subpictures and sound: the sound that comes
// first is the file's, and the subpicture streams are counted.
TEST(ProbeMediaFile, PrivateStream1SubStreams)
{
    const TBytes Pack = {0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1, 1, 0x89, 0xC3, 0xF8};
    const auto PES = [](std::uint8_t Id, const TBytes& Payload) {
        TBytes Packet = Concat({{0, 0, 1, Id, 0, 0, 0x81, 0x80, 5}, TimeStampField(2, 90000), Payload});
        Packet[4] = static_cast<std::uint8_t>((Packet.size() - 6) >> 8);
        Packet[5] = static_cast<std::uint8_t>(Packet.size() - 6);
        return Packet;
    };
    const TBytes Mpeg2Sequence =
        Concat({PalSequence, {0, 0, 1, 0xB5, 0x14, 0x8A, 0, 1, 0, 0}, Filled(200, 0x11)});
    const TBytes AC3 = {0x0B, 0x77, 0, 0, 0x1E, 0x40, 0xE1, 0}; // 48 kHz, 448 kbit/s, 3/2 with LFE
    const TBytes File =
        Concat({Pack, PES(0xE0, Mpeg2Sequence), PES(0xBD, {0x21, 0, 0}), PES(0xBD, {0x20, 0, 0}),
                PES(0xBD, Concat({{0x81, 1, 0, 1}, AC3, Filled(100, 0)})),
                PES(0xBD, {0x80, 1, 0, 1, 0x0B, 0x77, 0, 0, 0x06, 0x40, 0x40, 0}), PES(0xBD, {0x21, 0, 0})});
    TMemorySource Source(File);
    TMediaInfo Info;
    ProbeMediaFile(Source, Info, false);
    EXPECT_TRUE(Info.ProgramStream);
    EXPECT_EQ(Info.MPEGVersion, 2);
    EXPECT_EQ(Info.AudioStreamId, 0xBD);
    EXPECT_EQ(Info.AudioSubStream, 0x81);
    EXPECT_EQ(AudioText(Info), "AC-3 48 kHz 5.1 448 kbit/s");
    EXPECT_EQ(Info.Subpictures, 2);

    // A third that starts 650 KB in, long after the sound was read.
    TBytes Long = File;
    const TBytes Sound = Concat({Pack, PES(0xBD, Concat({{0x81, 1, 0, 1}, AC3, Filled(2000, 0)}))});
    for (int I = 0; I < 320; ++I)
        Long.insert(Long.end(), Sound.begin(), Sound.end());
    Long = Concat({Long, Pack, PES(0xBD, {0x22, 0, 0})});
    TMemorySource LongSource(Long);
    ProbeMediaFile(LongSource, Info, false);
    EXPECT_EQ(Info.Subpictures, 3);
}

TEST(ProbeTexts, DurationAudioAndDifference)
{
    EXPECT_EQ(DurationText(0), "");
    EXPECT_EQ(DurationText(2.004), "0:00:02.00");
    EXPECT_EQ(DurationText(3725.5), "1:02:05.50");
    const TMediaInfo Pal = Probed("ff_pal.mpg"), Mono = Probed("ff_pal_mono48.mpg");
    EXPECT_EQ(AudioText(Pal), "Layer II 44.1 kHz stereo 192 kbit/s");
    EXPECT_EQ(AudioText(Probed("ff_pal.m1v")), "none");
    EXPECT_EQ(DifferenceText(Pal, Pal), "");
    EXPECT_EQ(DifferenceText(Pal, Mono), "Audio differs from the first file: 48 kHz mono vs 44.1 kHz stereo");
    EXPECT_EQ(DifferenceText(Pal, Probed("ff_pal.m1v")),
              "Audio differs from the first file: no audio vs Layer II 44.1 kHz stereo");
    EXPECT_EQ(DifferenceText(Pal, Probed("ff_vcd.mpg")),
              "Video differs from the first file: 352 x 240 at 29.97 fps vs 352 x 288 at 25.00 fps");
}

// A clip of another shape joins, with a warning; its code comes from every
// sequence header, as an encoder set to 16:9 writes it.
TEST(ProbeTexts, AspectRatioDiffersIsAWarning)
{
    TTempDir Dir;
    TBytes Wide = ReadFile(Stream("ff_pal.mpg"));
    for (std::size_t I = 0; I + 8 <= Wide.size(); ++I)
        if (Wide[I] == 0 && Wide[I + 1] == 0 && Wide[I + 2] == 1 && Wide[I + 3] == 0xB3)
            Wide[I + 7] = static_cast<std::uint8_t>(0x30 | (Wide[I + 7] & 0x0F));
    WriteFile(Dir.File("wide.mpg"), Wide);
    TMediaInfo Wider;
    ProbeMediaFile(Dir.File("wide.mpg"), Wider);
    const TMediaInfo Pal = Probed("ff_pal.mpg");
    EXPECT_EQ(Pal.AspectRatioCode, 1);
    EXPECT_EQ(CompareMediaInfo(Pal, Wider), fmSame);
    EXPECT_TRUE(AspectRatioDiffers(Pal, Wider));
    EXPECT_FALSE(AspectRatioDiffers(Pal, Probed("mplex_vcd.mpg")));
    EXPECT_EQ(DifferenceText(Pal, Wider), "Aspect ratio differs from the first file: 16:9 (625 lines) vs "
                                          "square pixels; its pictures may look stretched");
}

} // namespace
} // namespace vantrel
