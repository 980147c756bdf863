#include "MPEGInfo.h"

#include "FileBufs.h"
#include "MP3Read.h"
#include "MPEG1SysRead.h"
#include "MPEG1VideoRead.h"
#include "StreamEnd.h"
#include "SysUtils.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <vector>

namespace vantrel {

namespace {

// The probe looks at the start of a stream: enough payload for the sequence
// header and a few audio frames, from the first 200 packets or so. A stream
// cut in the middle (a VCD track cut at any pack) may hold its first sequence
// header tens of KB in: the search goes on, up to a cap that keeps a file
// without one answering at once.
constexpr std::int32_t ProbeMaxPackets = 200;
constexpr std::int64_t ProbeMaxBytes = 8192;
constexpr std::int64_t SequenceHeaderSearchLimit = 4 << 20;
// The last video time stamps of a file are looked for in this much of its end.
constexpr std::int64_t TailBytes = 1 << 20;
// The walks of the probe end this far into a file: a stream shows its
// formats in its first packets, and neither junk nor a stream without sound
// may be read to the end of a file of many gigabytes.
constexpr std::int64_t ProbeHeadBytes = 16 << 20;
// An elementary stream's head is read in pieces of this size.
constexpr std::uint32_t HeadChunk = 64 * 1024;

// A walk of the probe: junk is scanned no further than the head either.
void OpenHead(TMPEG1SystemReader& Reader, TByteSource& Source)
{
    Reader.Open(Source);
    Reader.ScanProgress = [](std::int64_t Position) { return Position > ProbeHeadBytes; };
}

// True when Data holds a sequence header at or after From, whose fields
// then fill Info; raises when they cannot be joined.
bool ReadVideoSettings(std::span<const std::uint8_t> Data, TMediaInfo& Info, std::size_t From = 0)
{
    const std::optional<TSequenceHeader> Header = ReadSequenceHeader(Data, From);
    if (!Header)
        return false;
    // A code without a frame rate must not enter a join, where the first
    // file's rate times the re-stamped stream.
    if (!IsValidFrameRateCode(Header->FrameRateCode))
        throw Exception("Unable to read video settings");
    if (IsMPEG2Sequence(Data.subspan(Header->End)))
        throw Exception("MPEG-2 video is not supported.");
    Info.Width = Header->Width;
    Info.Height = Header->Height;
    Info.AspectRatioCode = Header->AspectRatioCode;
    Info.FrameRateCode = Header->FrameRateCode;
    Info.FrameRate = FrameRateOf(Header->FrameRateCode);
    return true;
}

// An MPEG-2 program stream starts with 00 00 01 BA too, but its pack header
// begins with the bits '01' where MPEG-1 has '0010', and its PES headers have
// another layout that the MPEG-1 walk would misread.
void RefuseProgramStream(TByteSource& Source)
{
    TMPEG1SystemReader Reader;
    Reader.Open(Source);
    std::uint8_t Byte;
    if (Reader.NextPacket() && Reader.PacketKind() == pkPackHeader &&
        Source.Read(&Byte, 1, Reader.PacketPosition() + SCRFieldOffset) == 1 && (Byte & 0xC0) == 0x40)
        throw Exception("MPEG-2 program streams are not supported.");
}

// Gathers video payload until a sequence header can be read from it, and
// reads it. The search in memory goes on from just before where the last one
// stopped, so a header split between two gatherings is found.
void ProbeVideoPayload(TByteSource& Source, TMediaInfo& Info)
{
    TMPEG1SystemReader Reader;
    OpenHead(Reader, Source);
    std::vector<std::uint8_t> Payload;
    bool More =
        Reader.ExtractStream(FirstVideoStream, Payload, ProbeMaxPackets, ProbeMaxBytes, ProbeHeadBytes);
    if (Payload.empty())
        throw Exception("Unable to find video stream");
    for (std::size_t Searched = 0;;) {
        if (ReadVideoSettings(Payload, Info, Searched - std::min<std::size_t>(Searched, 3)))
            return;
        Searched = Payload.size();
        if (!More || static_cast<std::int64_t>(Searched) >= SequenceHeaderSearchLimit)
            throw Exception("Unable to read video settings");
        More = Reader.ExtractStream(FirstVideoStream, Payload, 0, static_cast<std::int64_t>(Searched),
                                    ProbeHeadBytes);
    }
}

void ProbeAudio(TByteSource& Source, TMediaInfo& Info)
{
    // From the start of the stream: a search that began in its middle would
    // take a bit pattern inside a frame for a header.
    TMPEG1SystemReader Reader;
    OpenHead(Reader, Source);
    std::vector<std::uint8_t> Payload;
    Reader.ExtractStream(FirstAudioStream, Payload, ProbeMaxPackets, ProbeMaxBytes, ProbeHeadBytes);
    if (Payload.empty())
        return;
    Info.HasAudio = true;
    TAudioFrameHeader Header;
    if (FindAudioFrameHeader(Payload, Header)) {
        Info.AudioLayer = Header.Layer;
        Info.SampleRate = Header.SampleRate;
        Info.ChannelMode = Header.ChannelMode;
        Info.AudioBitRate = Header.BitRate;
    }
}

// The longer of the video and the first audio stream: each from its smallest
// PTS near the start to where its last picture or frame ends, found in the
// file's last megabyte. A clip whose sound runs on after the pictures plays
// that long. The stamps are read off the wrapping clock relative to the first.
void ProbeSystemDuration(TByteSource& Source, TMediaInfo& Info)
{
    TMPEG1SystemReader Reader;
    Reader.Open(Source);
    const std::optional<std::int64_t> VideoFirst =
        SmallestFirstPTS(Reader, FirstVideoStream, FirstVideoStream);
    std::optional<std::int64_t> AudioFirst;
    if (Info.HasAudio)
        AudioFirst = SmallestFirstPTS(Reader, FirstAudioStream, FirstAudioStream);
    if (!VideoFirst && !AudioFirst)
        return;
    const std::int64_t Origin = VideoFirst ? *VideoFirst : AudioFirst.value_or(0);

    Reader.Restore({pkPackHeader, 0, std::max<std::int64_t>(Source.Size() - TailBytes, 0), 0, 0, 0, {}});
    TVideoEnd Video;
    TAudioEnd Audio;
    std::vector<std::uint8_t> Payload;
    auto Continuous = [&](std::int64_t Stamp) { return Origin + ClockDistance(Origin, Stamp); };
    auto Stamp = [&](bool Has, std::int64_t Value) {
        return Has ? std::optional(Continuous(Value)) : std::nullopt;
    };
    while (Reader.NextPacket()) {
        const TPESInfo& PES = Reader.PES();
        const bool IsVideo = PES.StreamId == FirstVideoStream, IsAudio = PES.StreamId == FirstAudioStream;
        if (Reader.PacketKind() != pkPES || !(IsVideo || IsAudio) || !Reader.PESHeaderFits())
            continue;
        Payload.resize(PES.PayloadLength);
        Reader.ReadPayload(Payload.data());
        if (IsVideo)
            Video.Add(Stamp(PES.HasPTS, PES.PTS), Stamp(PES.HasDTS, PES.DTS), Payload.data(), Payload.size());
        else
            Audio.Add(Stamp(PES.HasPTS, PES.PTS), Payload.data(), Payload.size());
    }
    std::int64_t Longest = 0;
    if (const auto Last = Video.End(static_cast<std::int64_t>(TicksPerFrame(Info.FrameRate)));
        VideoFirst && Last)
        Longest = *Last - Origin;
    if (const auto Last = Audio.End(); AudioFirst && Last)
        Longest = std::max(Longest, *Last - Continuous(AudioFirst.value_or(0)));
    Info.Duration = static_cast<double>(Longest) / ClockRate;
}

// An elementary stream's pictures, counted by their start codes.
void ProbeVideoDuration(TByteSource& Source, TMediaInfo& Info)
{
    std::vector<std::uint8_t> Chunk(1 << 20);
    TStartCodeScan Scan;
    std::int64_t Pictures = 0;
    for (std::int64_t At = 0; At < Source.Size();) {
        const std::uint32_t N = Source.Read(Chunk.data(), static_cast<std::uint32_t>(Chunk.size()), At);
        if (N == 0)
            break;
        Pictures += static_cast<std::int64_t>(CountStartCodes(Chunk.data(), N, PictureStartCode, Scan));
        At += N;
    }
    Info.Duration = static_cast<double>(Pictures) / Info.FrameRate;
}

} // namespace

TMediaFileKind GetMediaFileKind(const std::string& FileName)
{
    TInputFile File(FileName);
    return GetMediaFileKind(File.Source());
}

namespace {

// An MPEG-1 pack header at H, with every marker bit where it belongs and a
// start code right after it: what a stream cut in the middle of a pack is
// taken up again at.
bool IsPackHeaderAt(const std::uint8_t* H)
{
    return H[0] == 0 && H[1] == 0 && H[2] == 1 && H[3] == PackStartCode && (H[4] & 0xF1) == 0x21 &&
           (H[6] & 1) && (H[8] & 1) && (H[9] & 0x80) && (H[11] & 1) && H[12] == 0 && H[13] == 0 &&
           H[14] == 1 && H[15] >= SystemHeaderCode;
}

} // namespace

TMediaFileKind GetMediaFileKind(TByteSource& Source)
{
    // The zeros are read a chunk at a time: most files have none.
    constexpr std::uint32_t ChunkSize = 64 * 1024;
    std::vector<std::uint8_t> Head;
    std::int64_t At = 0;
    for (bool More = true; More && At == static_cast<std::int64_t>(Head.size()) && At <= LeadingZeroLimit;) {
        const std::size_t Had = Head.size();
        Head.resize(Had + ChunkSize);
        const std::uint32_t N = Source.Read(Head.data() + Had, ChunkSize, static_cast<std::int64_t>(Had));
        Head.resize(Had + N);
        More = N == ChunkSize;
        At = std::find_if(Head.begin() + static_cast<std::ptrdiff_t>(At), Head.end(),
                          [](std::uint8_t B) { return B != 0; }) -
             Head.begin();
    }
    if (At > LeadingZeroLimit + 2 || At == static_cast<std::int64_t>(Head.size()))
        return mfkUnknown;
    // Zeros, the 01 of the prefix, the code: the prefix's two zeros are part
    // of the run.
    if (At >= 2 && Head[At] == 1 && At + 1 < static_cast<std::int64_t>(Head.size())) {
        if (Head[At + 1] == PackStartCode)
            return mfkSystemStream;
        if (Head[At + 1] == SequenceHeaderCode)
            return mfkVideoStream;
    }
    // Anything else: a system stream split in the middle of a pack starts
    // with the rest of it. Its first whole pack header makes it one.
    if (Head.size() < static_cast<std::size_t>(At) + ResyncLimit + 16) {
        const std::size_t Had = Head.size();
        Head.resize(static_cast<std::size_t>(At) + ResyncLimit + 16);
        Head.resize(Had + Source.Read(Head.data() + Had, static_cast<std::uint32_t>(Head.size() - Had),
                                      static_cast<std::int64_t>(Had)));
    }
    for (std::size_t I = static_cast<std::size_t>(std::max<std::int64_t>(At - 2, 0)); I + 16 <= Head.size();
         ++I)
        if (IsPackHeaderAt(&Head[I]))
            return mfkSystemStream;
    return mfkUnknown;
}

void ProbeMediaFile(const std::string& FileName, TMediaInfo& Info, bool WithDuration)
{
    TInputFile File(FileName);
    ProbeMediaFile(File.Source(), Info, WithDuration);
}

void ProbeMediaFile(TByteSource& Source, TMediaInfo& Info, bool WithDuration)
{
    Info = TMediaInfo{};
    switch (GetMediaFileKind(Source)) {
    case mfkSystemStream: ProbeSystemStream(Source, Info, WithDuration); break;
    case mfkVideoStream: ProbeVideoStream(Source, Info, WithDuration); break;
    default: throw Exception("Unable to read the file format.");
    }
}

TInputRecord ProbeInput(const std::string& FileName, bool WithDuration)
{
    TInputFile File(FileName);
    return ProbeInput(File, WithDuration);
}

TInputRecord ProbeInput(TInputFile& File, bool WithDuration)
{
    TInputRecord Record{File.FileName(), File.Identity(), File.Source().Size(), mfkUnknown, {}};
    ProbeMediaFile(File.Source(), Record.Info, WithDuration);
    Record.Kind = Record.Info.IsSystemStream ? mfkSystemStream : mfkVideoStream;
    return Record;
}

void ProbeSystemStream(TByteSource& Source, TMediaInfo& Info, bool WithDuration)
{
    Info.IsSystemStream = true;
    RefuseProgramStream(Source);
    ProbeVideoPayload(Source, Info);
    ProbeAudio(Source, Info);
    if (WithDuration)
        ProbeSystemDuration(Source, Info);
}

void ProbeVideoStream(TByteSource& Source, TMediaInfo& Info, bool WithDuration)
{
    Info.IsSystemStream = false;
    Info.HasAudio = false;
    // The file starts with its sequence header, after at most the zeros that
    // GetMediaFileKind lets pass; what follows it tells MPEG-2 from MPEG-1.
    std::vector<std::uint8_t> Head;
    for (std::int64_t At = 0; At < Source.Size() && At < LeadingZeroLimit + HeadChunk;) {
        Head.resize(static_cast<std::size_t>(At) + HeadChunk);
        At += Source.Read(Head.data() + At, HeadChunk, At);
        Head.resize(static_cast<std::size_t>(At));
        const std::optional<TSequenceHeader> Header = ReadSequenceHeader(Head);
        if (Header && (Head.size() - Header->End >= HeadChunk / 2 || At == Source.Size()))
            break;
    }
    if (!ReadVideoSettings(Head, Info))
        throw Exception("Unable to read video settings");
    if (WithDuration)
        ProbeVideoDuration(Source, Info);
}

TFormatMatch CompareMediaInfo(const TMediaInfo& A, const TMediaInfo& B)
{
    if (A.Width != B.Width || A.Height != B.Height || A.FrameRateCode != B.FrameRateCode)
        return fmVideoDiffers;
    if (A.AudioLayer == B.AudioLayer && A.SampleRate == B.SampleRate && A.ChannelMode == B.ChannelMode &&
        A.HasAudio == B.HasAudio)
        return fmSame;
    return fmAudioDiffers;
}

bool SameFormat(const TMediaInfo& A, const TMediaInfo& B)
{
    return A.IsSystemStream == B.IsSystemStream && CompareMediaInfo(A, B) == fmSame;
}

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

// The audio fields in which A and B differ, described for A.
std::string AudioFieldsText(const TMediaInfo& A, const TMediaInfo& B)
{
    if (!A.HasAudio)
        return "no audio";
    if (A.AudioLayer == 0)
        return "audio of unknown format";
    std::string Text;
    auto Add = [&Text](const std::string& Part) { Text += (Text.empty() ? "" : " ") + Part; };
    const bool All = !B.HasAudio || B.AudioLayer == 0;
    if (All || A.AudioLayer != B.AudioLayer)
        Add(Format("Layer %s", LayerName(A.AudioLayer)));
    if (All || A.SampleRate != B.SampleRate)
        Add(RateText(A.SampleRate));
    if (All || A.ChannelMode != B.ChannelMode)
        Add(ChannelModeName(A.ChannelMode));
    return Text;
}

// The pixel aspect ratios of MPEG-1 video (ISO/IEC 11172-2, 2.4.3.2), with
// the picture shape of the four that broadcast-sized pictures use.
std::string AspectRatioText(std::uint8_t Code)
{
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

std::string VideoText(const TMediaInfo& Info)
{
    return Format("%u x %u at %.2f fps", Info.Width, Info.Height, Info.FrameRate);
}

} // namespace

std::string AudioText(const TMediaInfo& Info)
{
    if (!Info.HasAudio)
        return "none";
    if (Info.AudioLayer == 0)
        return "unknown format";
    return Format("Layer %s %s %s %d kbit/s", LayerName(Info.AudioLayer), RateText(Info.SampleRate).c_str(),
                  ChannelModeName(Info.ChannelMode), Info.AudioBitRate / 1000);
}

std::string DifferenceText(const TMediaInfo& Reference, const TMediaInfo& Info)
{
    std::string Aspect;
    if (AspectRatioDiffers(Reference, Info))
        Aspect = "Aspect ratio differs from the first file: " + AspectRatioText(Info.AspectRatioCode) +
                 " vs " + AspectRatioText(Reference.AspectRatioCode) + "; its pictures may look stretched";
    switch (CompareMediaInfo(Reference, Info)) {
    case fmVideoDiffers:
        return "Video differs from the first file: " + VideoText(Info) + " vs " + VideoText(Reference);
    case fmAudioDiffers:
        return "Audio differs from the first file: " + AudioFieldsText(Info, Reference) + " vs " +
               AudioFieldsText(Reference, Info) + (Aspect.empty() ? "" : "\n" + Aspect);
    default: return Aspect;
    }
}

bool AspectRatioDiffers(const TMediaInfo& Reference, const TMediaInfo& Info)
{
    // Code 0 is forbidden: a stream that carries it tells nothing of its shape.
    return CompareMediaInfo(Reference, Info) != fmVideoDiffers && Reference.AspectRatioCode != 0 &&
           Info.AspectRatioCode != 0 && Reference.AspectRatioCode != Info.AspectRatioCode;
}

} // namespace vantrel
