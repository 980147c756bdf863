#include "probe/MPEGInfo.h"

#include "io/FileBufs.h"
#include "io/InputFile.h"
#include "io/SysUtils.h"
#include "mpeg/StartCodes.h"
#include "mpeg/StreamEnd.h"
#include "mpeg/TimeStamps.h"
#include "mpeg/audio/AC3.h"
#include "mpeg/audio/DTS.h"
#include "mpeg/audio/MPEGAudio.h"
#include "mpeg/ps/PackSyntax.h"
#include "mpeg/ps/ProgramStreamReader.h"
#include "mpeg/ps/SubStreams.h"
#include "mpeg/ts/TransportStreamReader.h"
#include "mpeg/video/SequenceHeader.h"
#include "probe/TransportInfo.h"

#include <algorithm>
#include <bit>
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
// Those walks read through a window of this size: a DVD's probe reads all of
// its 16 MiB, in an eighth of the reads the smallest window takes.
constexpr std::uint32_t ProbeWindowSize = 64 << 10;
// An elementary stream's head is read in pieces of this size.
constexpr std::uint32_t HeadChunk = 64 * 1024;

// What may follow a sequence header's first fields before the next start
// code says MPEG-1 or MPEG-2: the rest of the header with both quantiser
// matrices, and the sequence extension.
constexpr std::size_t SequenceHeaderRest = 150;

// A walk of the probe: junk is scanned no further than the head either.
void OpenHead(TProgramStreamReader& Reader, TByteSource& Source, bool ProgramStream)
{
    Reader.Open(Source);
    Reader.SetProgramStream(ProgramStream);
    Reader.ScanProgress = [](std::int64_t Position) { return Position > ProbeHeadBytes; };
}

} // namespace

bool ReadVideoSettings(std::span<const std::uint8_t> Data, TMediaInfo& Info, std::size_t From, bool Complete)
{
    const std::optional<TSequenceHeader> Header = ReadSequenceHeader(Data, From);
    if (!Header || (!Complete && Data.size() - Header->End < SequenceHeaderRest))
        return false;
    // A code without a frame rate must not enter a join, where the first
    // file's rate times the re-stamped stream.
    if (!IsValidFrameRateCode(Header->FrameRateCode))
        throw Exception("Unable to read video settings");
    Info.Width = Header->Width;
    Info.Height = Header->Height;
    Info.AspectRatioCode = Header->AspectRatioCode;
    Info.FrameRateCode = Header->FrameRateCode;
    Info.FrameRate = FrameRateOf(Header->FrameRateCode);
    Info.MPEGVersion = 1;
    if (IsMPEG2Sequence(Data.subspan(Header->End))) {
        const std::optional<TSequenceExtension> Extension = ReadSequenceExtension(Data.subspan(Header->End));
        // MPEG-2 knows only the eight standard rates.
        if (!Extension || Header->FrameRateCode > 8 || Extension->ChromaFormat == 0)
            throw Exception("Unable to read video settings");
        Info.MPEGVersion = 2;
        Info.Width = static_cast<std::uint16_t>(Info.Width | Extension->WidthExtension << 12);
        Info.Height = static_cast<std::uint16_t>(Info.Height | Extension->HeightExtension << 12);
        Info.ChromaFormat = Extension->ChromaFormat;
        Info.ProfileAndLevel = Extension->ProfileAndLevel;
        Info.Progressive = Extension->Progressive;
        Info.FrameRate =
            Info.FrameRate * (Extension->FrameRateExtensionN + 1) / (Extension->FrameRateExtensionD + 1);
    }
    return true;
}

namespace {

// An MPEG-2 program stream starts with 00 00 01 BA too, but its pack header
// begins with the bits '01' where MPEG-1 has '0010', and its PES headers have
// another layout that the MPEG-1 walk would misread. The first pack tells:
// a file split inside a pack has a packet or two before it.
bool IsProgramStream(TByteSource& Source)
{
    TProgramStreamReader Reader;
    Reader.Open(Source);
    std::uint8_t Byte;
    for (int Packets = 0; Packets < 16 && Reader.NextPacket(); ++Packets)
        if (Reader.PacketKind() == pkPackHeader)
            return Source.Read(&Byte, 1, Reader.PacketPosition() + SCRFieldOffset) == 1 &&
                   (Byte & 0xC0) == 0x40;
    return false;
}

// Gathers video payload until a sequence header can be read from it, and
// reads it. The search in memory goes on from just before where the last one
// stopped, so a header split between two gatherings is found.
void ProbeVideoPayload(TByteSource& Source, TMediaInfo& Info)
{
    TProgramStreamReader Reader;
    OpenHead(Reader, Source, Info.ProgramStream);
    std::vector<std::uint8_t> Payload;
    bool More =
        Reader.ExtractStream(FirstVideoStream, Payload, ProbeMaxPackets, ProbeMaxBytes, ProbeHeadBytes);
    if (Payload.empty())
        throw Exception("Unable to find video stream");
    for (std::size_t Searched = 0;;) {
        if (ReadVideoSettings(Payload, Info, Searched, !More))
            return;
        // A header near the end is read again when what follows it is in.
        Searched = Payload.size() - std::min(Payload.size(), SequenceHeaderRest + 12);
        if (!More || static_cast<std::int64_t>(Payload.size()) >= SequenceHeaderSearchLimit)
            throw Exception("Unable to read video settings");
        More = Reader.ExtractStream(FirstVideoStream, Payload, 0, static_cast<std::int64_t>(Payload.size()),
                                    ProbeHeadBytes);
    }
}

void ReadAudioFormat(std::span<const std::uint8_t> Sound, const std::vector<std::uint8_t>& FirstPacket,
                     TMediaInfo& Info)
{
    if (Info.AudioStreamId != PrivateStream1) {
        TAudioFrameHeader Header;
        if (FindAudioFrameHeader(Sound, Header)) {
            Info.AudioLayer = Header.Layer;
            Info.SampleRate = Header.SampleRate;
            Info.ChannelMode = Header.ChannelMode;
            Info.AudioChannels = Header.ChannelMode == 3 ? 1 : 2;
            Info.AudioBitRate = Header.BitRate;
        }
        return;
    }
    switch (SubStreamKind(Info.AudioSubStream)) {
    case sskAC3:
        Info.AudioCodec = acAC3;
        if (const auto Header = DecodeAC3FrameHeader(Sound)) {
            Info.SampleRate = static_cast<std::int32_t>(Header->SampleRate);
            Info.AudioBitRate = static_cast<std::int32_t>(Header->BitRate);
            Info.ChannelMode = Header->CodingMode;
            Info.AudioChannels = Header->Channels();
            Info.LowFrequency = Header->LowFrequency;
        }
        break;
    case sskDTS:
        Info.AudioCodec = acDTS;
        if (const auto Header = DecodeDTSFrameHeader(Sound)) {
            Info.SampleRate = static_cast<std::int32_t>(Header->SampleRate);
            Info.AudioBitRate = static_cast<std::int32_t>(Header->BitRate);
            Info.AudioChannels = Header->Channels;
            Info.LowFrequency = Header->LowFrequency;
        }
        break;
    default:
        Info.AudioCodec = acLPCM;
        if (const auto Format = DecodeLPCMFormat(FirstPacket.data(), FirstPacket.size())) {
            Info.SampleRate = Format->SampleRate;
            Info.AudioBits = Format->Bits;
            Info.AudioChannels = Format->Channels;
            Info.AudioBitRate = LPCMBitRate(FirstPacket.data(), FirstPacket.size());
        }
    }
}

void ProbeAudio(TByteSource& Source, TMediaInfo& Info)
{
    // From the start of the stream: a search that began in its middle would
    // take a bit pattern inside a frame for a header.
    TProgramStreamReader Reader;
    OpenHead(Reader, Source, Info.ProgramStream);
    std::vector<std::uint8_t> Sound, Payload, FirstPacket;
    if (!Info.ProgramStream) {
        Reader.ExtractStream(FirstAudioStream, Sound, ProbeMaxPackets, ProbeMaxBytes, ProbeHeadBytes);
        Info.HasAudio = !Sound.empty();
        if (Info.HasAudio)
            ReadAudioFormat(Sound, FirstPacket, Info);
        return;
    }
    // A program stream's sound may be in any of its audio streams or in a
    // sub-stream of private stream 1, whose header is left out.
    // Subpicture streams may begin anywhere (subtitles that start minutes
    // in): once the sound is gathered, the rest of the head is walked for
    // them alone, a byte a packet.
    std::uint32_t Subpictures = 0; // a bit per sub-stream 0x20-0x3F
    for (std::int32_t Packets = 0; Reader.NextPacket() && Reader.PacketPosition() < ProbeHeadBytes;
         ++Packets) {
        const TPESInfo& PES = Reader.PES();
        if (Reader.PacketKind() != pkPES || !Reader.PESHeaderFits() || PES.PayloadLength == 0 ||
            !(IsAudioStream(PES.StreamId) || PES.StreamId == PrivateStream1))
            continue;
        if (Packets >= ProbeMaxPackets && static_cast<std::int64_t>(Sound.size()) >= ProbeMaxBytes) {
            std::uint8_t Sub = 0;
            if (PES.StreamId == PrivateStream1 && Source.Read(&Sub, 1, PES.PayloadPosition) == 1 &&
                SubStreamKind(Sub) == sskSubpicture)
                Subpictures |= 1u << (Sub - 0x20);
            continue;
        }
        Payload.resize(PES.PayloadLength);
        Reader.ReadPayload(Payload.data());
        const std::uint8_t Sub = PES.StreamId == PrivateStream1 ? Payload[0] : 0;
        if (SubStreamKind(Sub) == sskSubpicture)
            Subpictures |= 1u << (Sub - 0x20);
        if (PES.StreamId == PrivateStream1 && !IsSubStreamAudio(Sub))
            continue;
        if (!Info.HasAudio) {
            Info.HasAudio = true;
            Info.AudioStreamId = PES.StreamId;
            Info.AudioSubStream = Sub;
            FirstPacket = Payload;
        }
        if (PES.StreamId != Info.AudioStreamId || Sub != Info.AudioSubStream ||
            static_cast<std::int64_t>(Sound.size()) >= ProbeMaxBytes)
            continue;
        std::size_t From = 0;
        if (Sub != 0) {
            const std::optional<std::size_t> First = SubStreamFirstFrame(Payload.data(), Payload.size());
            From = Sound.empty() ? First.value_or(Payload.size()) : SubStreamHeaderLength(Sub);
        }
        Sound.insert(Sound.end(),
                     Payload.begin() + static_cast<std::ptrdiff_t>(std::min(From, Payload.size())),
                     Payload.end());
    }
    Info.Subpictures = static_cast<std::uint8_t>(std::popcount(Subpictures));
    if (Info.HasAudio)
        ReadAudioFormat(Sound, FirstPacket, Info);
}

// The longer of the video and the first audio stream: each from its smallest
// PTS near the start to where its last picture or frame ends, found in the
// file's last megabyte. A clip whose sound runs on after the pictures plays
// that long. The stamps are read off the wrapping clock relative to the first.
void ProbeSystemDuration(TByteSource& Source, TMediaInfo& Info)
{
    TProgramStreamReader Reader;
    Reader.Open(Source);
    Reader.SetProgramStream(Info.ProgramStream);
    const std::optional<std::int64_t> VideoFirst =
        SmallestFirstPTS(Reader, FirstVideoStream, FirstVideoStream);
    std::optional<std::int64_t> AudioFirst;
    if (Info.HasAudio)
        AudioFirst = SmallestFirstPTS(Reader, Info.AudioStreamId, Info.AudioStreamId);
    if (!VideoFirst && !AudioFirst)
        return;
    const std::int64_t Origin = VideoFirst ? *VideoFirst : AudioFirst.value_or(0);

    Reader.Seek(std::max<std::int64_t>(Source.Size() - TailBytes, 0));
    TVideoEnd Video;
    TAudioEnd Audio;
    std::vector<std::uint8_t> Payload;
    auto Continuous = [&](std::int64_t Stamp) { return Origin + ClockDistance(Origin, Stamp); };
    auto Stamp = [&](bool Has, std::int64_t Value) {
        return Has ? std::optional(Continuous(Value)) : std::nullopt;
    };
    while (Reader.NextPacket()) {
        const TPESInfo& PES = Reader.PES();
        const bool IsVideo = PES.StreamId == FirstVideoStream, IsAudio = PES.StreamId == Info.AudioStreamId;
        if (Reader.PacketKind() != pkPES || !(IsVideo || IsAudio) || !Reader.PESHeaderFits())
            continue;
        Payload.resize(PES.PayloadLength);
        Reader.ReadPayload(Payload.data());
        if (IsVideo)
            Video.Add(Stamp(PES.HasPTS, PES.PTS), Stamp(PES.HasDTS, PES.DTS), Payload.data(), Payload.size());
        else if (PES.StreamId != PrivateStream1)
            Audio.Add(Stamp(PES.HasPTS, PES.PTS), Payload.data(), Payload.size());
        else if (!Payload.empty() && Payload[0] == Info.AudioSubStream)
            Audio.AddPrivate(Stamp(PES.HasPTS, PES.PTS), Payload.data(), Payload.size());
    }
    std::int64_t Longest = 0;
    if (const auto Last = Video.End(static_cast<std::int64_t>(TicksPerFrame(Info.FrameRate)));
        VideoFirst && Last)
        Longest = *Last - Origin;
    if (const auto Last = Audio.End(); AudioFirst && Last)
        Longest = std::max(Longest, *Last - Continuous(AudioFirst.value_or(0)));
    Info.Duration = static_cast<double>(Longest) / ClockRate;
}

// An elementary stream's pictures, counted by their start codes: a frame
// each, or as long as MPEG-2's picture coding extension says (field
// pictures, 3:2 pulldown).
void ProbeVideoDuration(TByteSource& Source, TMediaInfo& Info)
{
    std::vector<std::uint8_t> Chunk(1 << 20);
    TStartCodeScan Scan;
    std::int64_t Fields = 0;
    bool Progressive = false;
    for (std::int64_t At = 0; At < Source.Size();) {
        const std::uint32_t N = Source.Read(Chunk.data(), static_cast<std::uint32_t>(Chunk.size()), At);
        if (N == 0)
            break;
        ForEachStartCode(Chunk.data(), N, Scan, [&](std::size_t I) {
            if (Chunk[I] == PictureStartCode)
                Fields += 2;
            else if (Chunk[I] == ExtensionStartCode && I + 4 < N) {
                if (const std::optional<int> Shown = PictureFields(&Chunk[I + 1], Progressive))
                    Fields += *Shown - 2;
                else
                    Progressive = ProgressiveSequenceOf(&Chunk[I + 1]).value_or(Progressive);
            }
            return false;
        });
        At += N;
    }
    Info.Duration = static_cast<double>(Fields) / 2 / Info.FrameRate;
}

} // namespace

TMediaFileKind GetMediaFileKind(const std::string& FileName)
{
    TInputFile File(FileName, ProbeWindowSize);
    return GetMediaFileKind(File.Source());
}

namespace {

// A pack header at H (16 bytes, 22 for MPEG-2's) with every marker bit
// where it belongs and a start code right after it: what a stream cut in the
// middle of a pack is taken up again at.
bool IsPackHeaderAt(const std::uint8_t* H)
{
    if (H[0] != 0 || H[1] != 0 || H[2] != 1 || H[3] != PackStartCode)
        return false;
    const auto StartCodeAt = [](const std::uint8_t* C) {
        return C[0] == 0 && C[1] == 0 && C[2] == 1 && C[3] >= SystemHeaderCode;
    };
    if ((H[4] & 0xC4) == 0x44)
        return (H[6] & 4) && (H[8] & 4) && (H[9] & 1) && (H[12] & 3) == 3 &&
               StartCodeAt(H + ProgramPackHeaderLength + (H[13] & 7));
    return (H[4] & 0xF1) == 0x21 && (H[6] & 1) && (H[8] & 1) && (H[9] & 0x80) && (H[11] & 1) &&
           StartCodeAt(H + PackHeaderLength);
}
// The bytes IsPackHeaderAt looks at.
constexpr std::size_t PackCheckLength = ProgramPackHeaderLength + 7 + 4;

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
    // Anything else: a transport stream, whose sync bytes stand in a row
    // from its first packet on (after the rest of a packet where a
    // recording was cut), or a system stream split in the middle of a pack,
    // which starts with the rest of it: its first whole pack header makes
    // it one.
    if (FindPacketLayout(Source, 0, At + ResyncLimit))
        return mfkTransportStream;
    if (Head.size() < static_cast<std::size_t>(At) + ResyncLimit + PackCheckLength) {
        const std::size_t Had = Head.size();
        Head.resize(static_cast<std::size_t>(At) + ResyncLimit + PackCheckLength);
        Head.resize(Had + Source.Read(Head.data() + Had, static_cast<std::uint32_t>(Head.size() - Had),
                                      static_cast<std::int64_t>(Had)));
    }
    for (std::size_t I = static_cast<std::size_t>(std::max<std::int64_t>(At - 2, 0));
         I + PackCheckLength <= Head.size(); ++I)
        if (IsPackHeaderAt(&Head[I]))
            return mfkSystemStream;
    return mfkUnknown;
}

void ProbeMediaFile(const std::string& FileName, TMediaInfo& Info, bool WithDuration)
{
    TInputFile File(FileName, ProbeWindowSize);
    ProbeMediaFile(File.Source(), Info, WithDuration);
}

void ProbeMediaFile(TByteSource& Source, TMediaInfo& Info, bool WithDuration)
{
    Info = TMediaInfo{};
    switch (GetMediaFileKind(Source)) {
    case mfkSystemStream: ProbeSystemStream(Source, Info, WithDuration); break;
    case mfkVideoStream: ProbeVideoStream(Source, Info, WithDuration); break;
    case mfkTransportStream: ProbeTransportStream(Source, Info, WithDuration); break;
    default: throw Exception("Unable to read the file format.");
    }
}

TInputRecord ProbeInput(const std::string& FileName, bool WithDuration)
{
    TInputFile File(FileName, ProbeWindowSize);
    return ProbeInput(File, WithDuration);
}

TInputRecord ProbeInput(TInputFile& File, bool WithDuration)
{
    TInputRecord Record{File.FileName(), File.Identity(), File.Source().Size(), mfkUnknown, {}};
    ProbeMediaFile(File.Source(), Record.Info, WithDuration);
    Record.Kind = Record.Info.TransportStream  ? mfkTransportStream
                  : Record.Info.IsSystemStream ? mfkSystemStream
                                               : mfkVideoStream;
    return Record;
}

void ProbeSystemStream(TByteSource& Source, TMediaInfo& Info, bool WithDuration)
{
    Info.IsSystemStream = true;
    Info.ProgramStream = IsProgramStream(Source);
    ProbeVideoPayload(Source, Info);
    ProbeAudio(Source, Info);
    if (WithDuration)
        ProbeSystemDuration(Source, Info);
}

void DescribeProgram(TMediaInfo& Info, std::size_t Index)
{
    Info.Program = static_cast<std::uint8_t>(Index);
    const TProgramInfo& Program = Info.Programs.at(Index);
    const auto Find = [&](TStreamKind Kind) {
        return std::find_if(Program.Streams.begin(), Program.Streams.end(),
                            [Kind](const TStreamInfo& Stream) { return Stream.Kind == Kind; });
    };
    if (const auto Video = Find(skVideo); Video != Program.Streams.end())
        CopyVideoFields(*Video, Info);
    const auto Sound = Find(skSound);
    Info.HasAudio = Sound != Program.Streams.end();
    CopySoundFields(Info.HasAudio ? *Sound : TStreamInfo{}, Info);
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
} // namespace vantrel
