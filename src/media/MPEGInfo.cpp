#include "MPEGInfo.h"

#include "MP3Read.h"
#include "MPEG1SysRead.h"
#include "MPEG1VideoRead.h"
#include "Streams.h"
#include "SysUtils.h"

namespace vantrel {

namespace {

// The probe looks at the start of a stream only: enough payload for the
// sequence header and a few audio frames, from the first 200 packets or so.
constexpr std::int32_t ProbeMaxPackets = 200;
constexpr std::int64_t ProbeMaxBytes = 8192;

void ReadVideoSettings(TStream& Stream, TMediaInfo& Info)
{
    // A code outside 1 to 8 has no frame rate; such a file must not enter a
    // join, where the first file's rate times the re-stamped stream.
    if (!ReadSequenceHeader(Stream, Info.Width, Info.Height, Info.FrameRateCode) ||
        !IsValidFrameRateCode(Info.FrameRateCode))
        throw Exception("Unable to read video settings");
    Info.FrameRate = FrameRateOf(Info.FrameRateCode);
}

// An MPEG-2 program stream starts with 00 00 01 BA too, but its pack header
// begins with the bits '01' where MPEG-1 has '0010', and its PES headers have
// another layout that the MPEG-1 walk would misread.
void RefuseMPEG2(const std::string& FileName)
{
    TFileStream File(FileName, TFileStream::TMode::Read);
    std::uint8_t Head[5];
    if (File.Read(Head, 5) == 5 && (Head[4] & 0xC0) == 0x40)
        throw Exception("MPEG-2 program streams are not supported.");
}

} // namespace

TMediaFileKind GetMediaFileKind(const std::string& FileName)
{
    TFileStream File(FileName, TFileStream::TMode::Read);
    std::uint8_t Head[4];
    if (File.Read(Head, 4) < 4 || Head[0] != 0 || Head[1] != 0 || Head[2] != 1)
        return mfkUnknown;
    switch (Head[3]) {
    case 0xBA: return mfkSystemStream;
    case 0xB3: return mfkVideoStream;
    default: return mfkUnknown;
    }
}

void ProbeMediaFile(const std::string& FileName, TMediaInfo& Info)
{
    Info = TMediaInfo{};
    switch (GetMediaFileKind(FileName)) {
    case mfkSystemStream: ProbeSystemStream(FileName, Info); break;
    case mfkVideoStream: ProbeVideoStream(FileName, Info); break;
    default: throw Exception("Unable to read the file format.");
    }
}

void ProbeSystemStream(const std::string& FileName, TMediaInfo& Info)
{
    Info.IsSystemStream = true;
    RefuseMPEG2(FileName);

    TMPEG1SystemReader Reader;
    TMemoryStream Payload;
    Reader.Open(FileName);
    Reader.ExtractStream(FirstVideoStream, Payload, ProbeMaxPackets, ProbeMaxBytes);
    if (Payload.Size() == 0)
        throw Exception("Unable to find video stream");
    Payload.SetPosition(0);
    ReadVideoSettings(Payload, Info);

    // The audio search goes on from where the video search stopped.
    Payload.SetSize(0);
    Payload.SetPosition(0);
    Reader.ExtractStream(FirstAudioStream, Payload, ProbeMaxPackets, ProbeMaxBytes);
    if (Payload.Size() > 0) {
        Info.HasAudio = true;
        Payload.SetPosition(0);
        TAudioFrameHeader Header;
        if (FindAudioFrameHeader(Payload, Header)) {
            Info.AudioLayer = Header.Layer;
            Info.SampleRate = Header.SampleRate;
            Info.ChannelMode = Header.ChannelMode;
        }
    }
}

void ProbeVideoStream(const std::string& FileName, TMediaInfo& Info)
{
    Info.IsSystemStream = false;
    Info.HasAudio = false;
    TFileStream File(FileName, TFileStream::TMode::Read);
    ReadVideoSettings(File, Info);
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

TJoinCompatibility CheckJoinCompatibility(const std::vector<const TMediaInfo*>& Infos)
{
    TJoinCompatibility Result;
    for (const TMediaInfo* Info : Infos) {
        const TFormatMatch Match = CompareMediaInfo(*Infos.front(), *Info);
        if (Match == fmVideoDiffers)
            Result.Worst = fmVideoDiffers;
        else if (Match == fmAudioDiffers && Result.Worst != fmVideoDiffers)
            Result.Worst = fmAudioDiffers;
        if (!Info->IsSystemStream)
            Result.HasVideoStream = true;
    }
    return Result;
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

} // namespace vantrel
