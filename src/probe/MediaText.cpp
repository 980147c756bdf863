#include "probe/MediaText.h"

#include "io/SysUtils.h"
#include "mpeg/audio/AC3.h"
#include "mpeg/audio/MPEGAudio.h"
#include "mpeg/ts/ProgramTables.h"
#include "mpeg/video/H264.h"
#include "probe/JoinRules.h"

#include <cmath>
#include <iterator>
#include <optional>
#include <vector>

namespace vantrel {

const char* FormatMatchText(TFormatMatch Match)
{
    switch (Match) {
    case fmVideoDiffers: return "Video Differ";
    case fmAudioDiffers: return "Audio Differ";
    default: return "OK";
    }
}

const char* ChannelModeName(std::uint8_t ChannelMode)
{
    static constexpr const char* Names[] = {"stereo", "joint stereo", "dual channel", "mono"};
    return ChannelMode < 4 ? Names[ChannelMode] : "unknown";
}

std::string DurationText(double Seconds)
{
    if (!(Seconds > 0))
        return {};
    const auto Centis = static_cast<long long>(std::llround(Seconds * 100));
    return Format("%lld:%02lld:%02lld.%02lld", Centis / 360000, Centis / 6000 % 60, Centis / 100 % 60,
                  Centis % 100);
}

namespace {

const char* LayerName(std::uint8_t Layer)
{
    static constexpr const char* Names[] = {"", "I", "II", "III"};
    return Layer < 4 ? Names[Layer] : "";
}

std::string RateText(std::int32_t SampleRate)
{
    return Format("%g kHz", SampleRate / 1000.0);
}

bool AudioKnown(const TMediaInfo& Info)
{
    return Info.AudioCodec == acMPEG ? Info.AudioLayer != 0 : Info.SampleRate != 0;
}

std::string CodecText(const TMediaInfo& Info)
{
    switch (Info.AudioCodec) {
    case acAC3: return "AC-3";
    case acDTS: return "DTS";
    case acLPCM: return "LPCM";
    case acEAC3: return "E-AC-3";
    case acAAC: return "AAC";
    case acLATM: return "AAC (LATM)";
    case acUnknown: return "unknown";
    default: return Format("Layer %s", LayerName(Info.AudioLayer));
    }
}

std::string ChannelsText(const TMediaInfo& Info)
{
    if (Info.AudioCodec == acMPEG)
        return ChannelModeName(Info.ChannelMode);
    if (Info.LowFrequency)
        return Format("%u.1", Info.AudioChannels);
    if ((Info.AudioCodec == acAC3 || Info.AudioCodec == acEAC3) && Info.ChannelMode == 0)
        return "dual mono";
    return Info.AudioChannels == 1   ? "mono"
           : Info.AudioChannels == 2 ? "stereo"
                                     : Format("%u.0", Info.AudioChannels);
}

// The audio fields in which A and B differ, described for A.
std::string AudioFieldsText(const TMediaInfo& A, const TMediaInfo& B)
{
    if (!A.HasAudio)
        return "no audio";
    if (!AudioKnown(A))
        return "audio of unknown format";
    std::string Text;
    auto Add = [&Text](const std::string& Part) { Text += (Text.empty() ? "" : " ") + Part; };
    const bool All = !B.HasAudio || !AudioKnown(B) || A.AudioCodec != B.AudioCodec;
    if (All || A.AudioLayer != B.AudioLayer)
        Add(CodecText(A));
    if (All || A.SampleRate != B.SampleRate)
        Add(RateText(A.SampleRate));
    if (All || A.ChannelMode != B.ChannelMode || A.AudioChannels != B.AudioChannels ||
        A.LowFrequency != B.LowFrequency)
        Add(ChannelsText(A));
    return Text;
}

// The pixel aspect ratios of MPEG-1 video (ISO/IEC 11172-2, 2.4.3.2), with
// the picture shape of the four that broadcast-sized pictures use; MPEG-2
// gives the shape itself (ISO/IEC 13818-2, 6.3.3).
std::string AspectRatioText(std::uint8_t Code, std::uint8_t MPEGVersion)
{
    static constexpr const char* Shapes[] = {"", "square pixels", "4:3", "16:9", "2.21:1"};
    if (MPEGVersion == 2)
        return Code > 0 && Code < std::size(Shapes) ? Shapes[Code] : Format("aspect ratio code %u", Code);
    static constexpr const char* Ratios[] = {"",       "1.0000", "0.6735", "0.7031", "0.7615",
                                             "0.8055", "0.8437", "0.8935", "0.9157", "0.9815",
                                             "1.0255", "1.0695", "1.0950", "1.1575", "1.2015"};
    switch (Code) {
    case 1: return "square pixels";
    case 3: return "16:9 (625 lines)";
    case 6: return "16:9 (525 lines)";
    case 8: return "4:3 (625 lines)";
    case 12: return "4:3 (525 lines)";
    default:
        return Code < std::size(Ratios) && Code > 0 ? Format("pixel aspect ratio %s", Ratios[Code])
                                                    : Format("aspect ratio code %u", Code);
    }
}

const char* ChromaText(std::uint8_t ChromaFormat)
{
    static constexpr const char* Names[] = {"", "4:2:0", "4:2:2", "4:4:4"};
    return ChromaFormat < 4 ? Names[ChromaFormat] : "";
}

// The video of a difference: what tells the two apart is in it.
std::string VideoDifferenceText(const TMediaInfo& Info, const TMediaInfo& Other)
{
    std::string Text = Format("%u x %u at %.2f fps", Info.Width, Info.Height, Info.FrameRate);
    // H.264 (MPEGVersion 4) by its name, and its fields or frames.
    const std::string Coding =
        Info.MPEGVersion == 4 ? std::string("H.264") : Format("MPEG-%u", Info.MPEGVersion);
    if (Info.MPEGVersion != Other.MPEGVersion || Info.ChromaFormat != Other.ChromaFormat)
        Text += Format(" %s %s", Coding.c_str(), ChromaText(Info.ChromaFormat));
    if (Info.MPEGVersion == 4 && Other.MPEGVersion == 4 && Info.Progressive != Other.Progressive)
        Text += Info.Progressive ? " progressive" : " interlaced";
    return Text;
}

// A transport stream's sound streams of its program, each as a file of its
// own would have it.
std::vector<TMediaInfo> SoundStreams(const TMediaInfo& Info)
{
    std::vector<TMediaInfo> Sound;
    if (Info.Program < Info.Programs.size())
        for (const TStreamInfo& Stream : Info.Programs[Info.Program].Streams)
            if (Stream.Kind == skSound) {
                TMediaInfo One;
                One.HasAudio = true;
                CopySoundFields(Stream, One);
                Sound.push_back(One);
            }
    return Sound;
}

std::string Languages(const std::vector<std::string>& Codes)
{
    std::string Text;
    for (const std::string& Code : Codes)
        Text += (Text.empty() ? "" : " ") + Code;
    return Text;
}

// The codecs of a transport stream's sound: "Layer II + AC-3", "no audio".
std::string SoundCodecsText(const TMediaInfo& Info)
{
    std::string Text;
    for (const TMediaInfo& Sound : SoundStreams(Info))
        Text += (Text.empty() ? "" : " + ") + CodecText(Sound);
    return Text.empty() ? "no audio" : Text;
}

} // namespace

std::string AudioText(const TMediaInfo& Info)
{
    if (Info.TransportStream && Info.HasAudio) {
        std::string Text;
        const TProgramInfo& Program = Info.Programs[Info.Program];
        for (const TStreamInfo& Stream : Program.Streams)
            if (Stream.Kind == skSound) {
                TMediaInfo One;
                One.HasAudio = true;
                CopySoundFields(Stream, One);
                const std::string Language = Languages(Stream.Languages);
                Text +=
                    (Text.empty() ? "" : ", ") + AudioText(One) + (Language.empty() ? "" : " " + Language);
            }
        return Text;
    }
    if (!Info.HasAudio)
        return "none";
    if (!AudioKnown(Info))
        return "unknown format";
    if (Info.AudioCodec == acLPCM)
        return Format("LPCM %s %s %u bit", RateText(Info.SampleRate).c_str(), ChannelsText(Info).c_str(),
                      Info.AudioBits);
    std::string Text = CodecText(Info) + " " + RateText(Info.SampleRate) + " " + ChannelsText(Info);
    return Info.AudioBitRate > 0 ? Text + Format(" %d kbit/s", Info.AudioBitRate / 1000) : Text;
}

std::string VideoText(const TMediaInfo& Info)
{
    // H.264 (MPEGVersion 4): fields or frames after the height.
    if (Info.MPEGVersion == 4)
        return Format("%u x %u%s %.2f fps H.264", Info.Width, Info.Height, Info.Progressive ? "p" : "i",
                      Info.FrameRate);
    std::string Text = Format("%u x %u %.2f fps", Info.Width, Info.Height, Info.FrameRate);
    // Square pixels in short: the list shows this in a column.
    if (Info.MPEGVersion == 2)
        Text +=
            " " + (Info.AspectRatioCode == 1 ? "1:1" : AspectRatioText(Info.AspectRatioCode, 2)) + " MPEG-2";
    return Text;
}

std::string VideoDetailText(const TMediaInfo& Info)
{
    // H.264: its profile and level as their names go ("High@4.0").
    if (Info.MPEGVersion == 4 && Info.H264Profile != 0) {
        TSequenceParameterSet Sps;
        Sps.ProfileIdc = Info.H264Profile;
        Sps.Constraints = Info.H264Constraints;
        Sps.LevelIdc = Info.ProfileAndLevel;
        return H264ProfileName(Sps) + "@" + H264LevelName(Sps);
    }
    if (Info.MPEGVersion != 2)
        return {};
    // ISO/IEC 13818-2, 8.2: profile and level codes, when not escaped.
    static constexpr const char* Profiles[] = {"",     "High",  "Spatially scalable", "SNR scalable",
                                               "Main", "Simple"};
    const unsigned Profile = (Info.ProfileAndLevel >> 4) & 7, Level = Info.ProfileAndLevel & 0x0F;
    const char* LevelName = Level == 4    ? "High"
                            : Level == 6  ? "High 1440"
                            : Level == 8  ? "Main"
                            : Level == 10 ? "Low"
                                          : "";
    std::string Text;
    if (!(Info.ProfileAndLevel & 0x80) && Profile >= 1 && Profile <= 5 && *LevelName)
        Text = Format("%s profile at %s level, ", Profiles[Profile], LevelName);
    else if (Info.ProfileAndLevel == 0x85 || Info.ProfileAndLevel == 0x82)
        Text =
            Info.ProfileAndLevel == 0x85 ? "4:2:2 profile at Main level, " : "4:2:2 profile at High level, ";
    return Text + ChromaText(Info.ChromaFormat) + (Info.Progressive ? ", progressive" : ", interlaced");
}

std::string KindText(const TMediaInfo& Info)
{
    return !Info.IsSystemStream   ? "video stream"
           : Info.TransportStream ? "transport stream"
           : Info.ProgramStream   ? "program stream"
                                  : "system stream";
}

std::string ProgramText(const TProgramInfo& Program)
{
    return Format("program %u", Program.Number) + (Program.Name.empty() ? "" : " \"" + Program.Name + "\"");
}

std::string StreamText(const TStreamInfo& Stream)
{
    std::string Text = Format("PID %u: ", Stream.PID);
    const auto Coding = static_cast<TStreamCoding>(Stream.Coding);
    if (Stream.Kind == skVideo) {
        Text += StreamCodingName(Coding);
        if (Stream.Width != 0) {
            TMediaInfo Video;
            CopyVideoFields(Stream, Video);
            // The coding's name says the version already.
            const std::string Shape = VideoText(Video);
            Text += " " + Shape.substr(0, Shape.rfind(Stream.MPEGVersion == 2   ? " MPEG-2"
                                                      : Stream.MPEGVersion == 4 ? " H.264"
                                                                                : ""));
        }
    } else if (Stream.Kind == skSound) {
        TMediaInfo Sound;
        Sound.HasAudio = true;
        CopySoundFields(Stream, Sound);
        Text += AudioKnown(Sound) ? AudioText(Sound) : CodecText(Sound) + " (unknown format)";
    } else {
        Text +=
            Coding == scOther ? Format("stream type 0x%02X", Stream.StreamType) : StreamCodingName(Coding);
    }
    const std::string Language = Languages(Stream.Languages);
    return Language.empty() ? Text : Text + ", " + Language;
}

std::string TransportText(const TMediaInfo& Info)
{
    std::string Text;
    for (const TProgramInfo& Program : Info.Programs) {
        Text += Format("%s (PMT PID %u, PCR PID %u), %u-byte packets\n", ProgramText(Program).c_str(),
                       Program.PMTPID, Program.PCRPID, Info.PacketSize);
        for (const TStreamInfo& Stream : Program.Streams)
            Text += "  " + StreamText(Stream) + "\n";
    }
    if (!Text.empty())
        Text.pop_back();
    return Text;
}

namespace {

// How two multiplexes differ: by their programs, or by the first program
// whose video or sound differs.
std::string MultiplexDifferenceText(const TMediaInfo& Reference, const TMediaInfo& Info)
{
    const auto Numbers = [](const TMediaInfo& I) {
        std::string Text;
        for (const TProgramInfo& Program : I.Programs)
            Text += Format("%s%u", Text.empty() ? "" : ", ", Program.Number);
        return Text;
    };
    if (Info.Programs.size() == Reference.Programs.size())
        for (const TProgramInfo& Program : Reference.Programs) {
            const std::optional<TMediaInfo> Mine = SelectProgram(Info, Program.Number);
            if (!Mine)
                break;
            const TMediaInfo Theirs = *SelectProgram(Reference, Program.Number);
            if (CompareMediaInfo(Theirs, *Mine) == fmSame)
                continue;
            return ProgramText(Program) + ": " + DifferenceText(Theirs, *Mine);
        }
    return "Programs differ from the first file: " + Numbers(Info) + " vs " + Numbers(Reference);
}

} // namespace

std::string DifferenceDetail(const TMediaInfo& Reference, const TMediaInfo& Info)
{
    switch (CompareMediaInfo(Reference, Info)) {
    case fmVideoDiffers:
        if (Info.IsSystemStream && Reference.IsSystemStream &&
            ((Info.MPEGVersion == Reference.MPEGVersion && Info.ProgramStream != Reference.ProgramStream) ||
             Info.TransportStream != Reference.TransportStream))
            return KindText(Info) + " vs " + KindText(Reference);
        if (Info.TransportStream && Info.PacketSize != Reference.PacketSize)
            return Format("%u-byte packets vs %u-byte packets", Info.PacketSize, Reference.PacketSize);
        return VideoDifferenceText(Info, Reference) + " vs " + VideoDifferenceText(Reference, Info);
    case fmAudioDiffers:
        if (Info.TransportStream)
            return SoundCodecsText(Info) + " vs " + SoundCodecsText(Reference);
        return AudioFieldsText(Info, Reference) + " vs " + AudioFieldsText(Reference, Info);
    default: return {};
    }
}

std::string DifferenceText(const TMediaInfo& Reference, const TMediaInfo& Info)
{
    std::string Aspect;
    if (AspectRatioDiffers(Reference, Info))
        Aspect = "Aspect ratio differs from the first file: " +
                 AspectRatioText(Info.AspectRatioCode, Info.MPEGVersion) + " vs " +
                 AspectRatioText(Reference.AspectRatioCode, Reference.MPEGVersion) +
                 "; its pictures may look stretched";
    switch (CompareMediaInfo(Reference, Info)) {
    case fmVideoDiffers:
        // Two multiplexes of one kind: which program differs.
        if (Info.TransportStream && Reference.TransportStream && Info.PacketSize == Reference.PacketSize &&
            (Info.Programs.size() > 1 || Reference.Programs.size() > 1))
            return MultiplexDifferenceText(Reference, Info);
        return "Video differs from the first file: " + DifferenceDetail(Reference, Info);
    case fmAudioDiffers:
        if (Info.TransportStream && Info.Programs.size() > 1)
            return MultiplexDifferenceText(Reference, Info) + (Aspect.empty() ? "" : "\n" + Aspect);
        return "Audio differs from the first file: " + DifferenceDetail(Reference, Info) +
               (Aspect.empty() ? "" : "\n" + Aspect);
    default: return Aspect;
    }
}

} // namespace vantrel
