#include "probe/SoundFrames.h"

#include "mpeg/TimeStamps.h"
#include "mpeg/audio/AAC.h"
#include "mpeg/audio/AC3.h"
#include "mpeg/audio/DTS.h"
#include "mpeg/audio/MPEGAudio.h"

namespace vantrel {

namespace {

std::optional<TAC3FrameHeader> DolbyHeader(std::span<const std::uint8_t> Data)
{
    std::optional<TAC3FrameHeader> Header = DecodeAC3FrameHeader(Data);
    return Header ? Header : DecodeEAC3FrameHeader(Data);
}

// The first frame of Data whose successor, where its length puts it, is a
// frame too; else the first whose successor would lie past Data's end.
template <typename TLength>
std::optional<std::size_t> FindConfirmedFrame(std::span<const std::uint8_t> Data, TLength Length)
{
    std::optional<std::size_t> Lone;
    for (std::size_t At = 0; At < Data.size(); ++At) {
        const std::optional<std::uint32_t> N = Length(Data.subspan(At));
        if (!N || *N == 0)
            continue;
        if (At + *N >= Data.size()) {
            Lone = Lone.value_or(At);
            continue;
        }
        if (Length(Data.subspan(At + *N)))
            return At;
    }
    return Lone;
}

// The frames of Data from At on, one after the other, as long as they last.
template <typename TFormat, typename TDecode>
std::vector<TFormat> FramesFrom(std::span<const std::uint8_t> Data, std::size_t At, TDecode Decode)
{
    std::vector<TFormat> Frames;
    while (At < Data.size()) {
        const std::optional<TFormat> Frame = Decode(Data.subspan(At));
        if (!Frame || Frame->FrameLength == 0 || At + Frame->FrameLength > Data.size())
            break;
        Frames.push_back(*Frame);
        At += Frame->FrameLength;
    }
    return Frames;
}

void SetAAC(const TAACFormat& Format, std::int64_t Bytes, std::int64_t Samples, TStreamInfo& Stream)
{
    Stream.SampleRate = static_cast<std::int32_t>(Format.SampleRate);
    Stream.AudioChannels = Format.Channels();
    Stream.LowFrequency = Format.LowFrequency();
    Stream.AudioBitRate =
        Samples > 0 ? static_cast<std::int32_t>(Bytes * 8 * Format.SampleRate / Samples) : 0;
}

bool ReadAAC(std::span<const std::uint8_t> Data, TStreamInfo& Stream)
{
    const auto Length = [](std::span<const std::uint8_t> D) -> std::optional<std::uint32_t> {
        const std::optional<TAACFormat> Header = DecodeADTSHeader(D);
        return Header ? std::optional(Header->FrameLength) : std::nullopt;
    };
    const std::optional<std::size_t> First = FindConfirmedFrame(Data, Length);
    if (!First)
        return false;
    std::int64_t Bytes = 0, Samples = 0;
    const auto Frames = FramesFrom<TAACFormat>(Data, *First, DecodeADTSHeader);
    for (const TAACFormat& Frame : Frames)
        Bytes += Frame.FrameLength, Samples += Frame.Samples;
    SetAAC(Frames.empty() ? *DecodeADTSHeader(Data.subspan(*First)) : Frames.front(), Bytes, Samples, Stream);
    return true;
}

bool ReadLATM(std::span<const std::uint8_t> Data, TStreamInfo& Stream)
{
    const std::optional<std::size_t> First = FindConfirmedFrame(Data, LOASFrameLength);
    if (!First)
        return false;
    std::optional<TAACFormat> Config;
    std::int64_t Bytes = 0, Frames = 0;
    for (std::size_t At = *First; At < Data.size();) {
        const std::optional<std::uint32_t> Length = LOASFrameLength(Data.subspan(At));
        if (!Length || At + *Length > Data.size())
            break;
        if (!Config)
            Config = DecodeLATMConfig(Data.subspan(At));
        Bytes += *Length;
        ++Frames;
        At += *Length;
    }
    if (!Config)
        return false;
    SetAAC(*Config, Bytes, Frames * Config->Samples, Stream);
    return true;
}

} // namespace

TAudioCodec SoundCodecOf(TStreamCoding Coding)
{
    switch (Coding) {
    case scMPEGAudio: return acMPEG;
    case scAC3: return acAC3;
    case scEnhancedAC3: return acEAC3;
    case scAAC: return acAAC;
    case scLATM: return acLATM;
    case scDTS: return acDTS;
    case scLPCM: return acLPCM;
    default: return acUnknown;
    }
}

bool ReadSoundFormat(TStreamCoding Coding, std::span<const std::uint8_t> Data, TStreamInfo& Stream)
{
    Stream.AudioCodec = SoundCodecOf(Coding);
    switch (Coding) {
    case scMPEGAudio: {
        TAudioFrameHeader Header;
        if (!FindAudioFrameHeader(Data, Header))
            return false;
        Stream.AudioLayer = Header.Layer;
        Stream.SampleRate = Header.SampleRate;
        Stream.ChannelMode = Header.ChannelMode;
        Stream.AudioChannels = Header.ChannelMode == 3 ? 1 : 2;
        Stream.AudioBitRate = Header.BitRate;
        return true;
    }
    case scAC3:
    case scEnhancedAC3: {
        const auto Length = [](std::span<const std::uint8_t> D) -> std::optional<std::uint32_t> {
            const std::optional<TAC3FrameHeader> Header = DolbyHeader(D);
            return Header ? std::optional(Header->FrameLength) : std::nullopt;
        };
        const std::optional<std::size_t> First = FindConfirmedFrame(Data, Length);
        if (!First)
            return false;
        const TAC3FrameHeader Header = *DolbyHeader(Data.subspan(*First));
        Stream.AudioCodec = Header.Enhanced ? acEAC3 : acAC3;
        Stream.SampleRate = static_cast<std::int32_t>(Header.SampleRate);
        Stream.AudioBitRate = static_cast<std::int32_t>(Header.BitRate);
        Stream.ChannelMode = Header.CodingMode;
        Stream.AudioChannels = Header.Channels();
        Stream.LowFrequency = Header.LowFrequency;
        return true;
    }
    case scAAC: return ReadAAC(Data, Stream);
    case scLATM: return ReadLATM(Data, Stream);
    case scDTS: {
        const auto Length = [](std::span<const std::uint8_t> D) -> std::optional<std::uint32_t> {
            const std::optional<TDTSFrameHeader> Header = DecodeDTSFrameHeader(D);
            return Header ? std::optional(Header->FrameLength) : std::nullopt;
        };
        const std::optional<std::size_t> First = FindConfirmedFrame(Data, Length);
        if (!First)
            return false;
        const TDTSFrameHeader Header = *DecodeDTSFrameHeader(Data.subspan(*First));
        Stream.SampleRate = static_cast<std::int32_t>(Header.SampleRate);
        Stream.AudioBitRate = static_cast<std::int32_t>(Header.BitRate);
        Stream.AudioChannels = Header.Channels;
        Stream.LowFrequency = Header.LowFrequency;
        return true;
    }
    default: return false;
    }
}

std::optional<TSoundFrame> SoundFrameAt(TStreamCoding Coding, std::span<const std::uint8_t> Data,
                                        double& LATMTicks)
{
    const auto Ticks = [](double Samples, double Rate) { return Rate > 0 ? Samples * ClockRate / Rate : 0; };
    switch (Coding) {
    case scMPEGAudio: {
        TAudioFrameHeader Header;
        if (Data.size() < 4 ||
            !DecodeAudioFrameHeader(
                Data[0] | (Data[1] << 8) | (Data[2] << 16) | (std::uint32_t{Data[3]} << 24), Header))
            return std::nullopt;
        return TSoundFrame{static_cast<std::uint32_t>(Header.FrameLength), Header.FrameDuration * ClockRate};
    }
    case scAC3:
    case scEnhancedAC3:
        if (const std::optional<TAC3FrameHeader> Header = DolbyHeader(Data))
            // A dependent substream plays with the frame before it.
            return TSoundFrame{Header->FrameLength,
                               Header->StreamType == 1 ? 0 : Ticks(Header->Samples, Header->SampleRate)};
        return std::nullopt;
    case scAAC:
        if (const std::optional<TAACFormat> Header = DecodeADTSHeader(Data))
            return TSoundFrame{Header->FrameLength, Ticks(Header->Samples, Header->SampleRate)};
        return std::nullopt;
    case scLATM:
        if (const std::optional<std::uint32_t> Length = LOASFrameLength(Data)) {
            if (const std::optional<TAACFormat> Config = DecodeLATMConfig(Data))
                LATMTicks = Ticks(Config->Samples, Config->SampleRate);
            return TSoundFrame{*Length, LATMTicks};
        }
        return std::nullopt;
    case scDTS:
        if (const std::optional<TDTSFrameHeader> Header = DecodeDTSFrameHeader(Data))
            return TSoundFrame{Header->FrameLength, Ticks(Header->Samples, Header->SampleRate)};
        return std::nullopt;
    default: return std::nullopt;
    }
}

void TSoundEnd::Add(std::optional<std::int64_t> PTS, std::span<const std::uint8_t> Payload)
{
    if (PTS) {
        m_LastPTS = PTS;
        m_Ticks = 0;
    }
    // A packet may start with the rest of a frame: its stamp belongs to the
    // first frame that starts in it.
    std::size_t At = 0;
    while (At < Payload.size()) {
        const std::optional<TSoundFrame> Frame = SoundFrameAt(m_Coding, Payload.subspan(At), m_LATMTicks);
        if (!Frame || Frame->Length == 0) {
            ++At;
            continue;
        }
        m_Ticks += Frame->Ticks;
        At += Frame->Length;
    }
}

std::optional<std::int64_t> TSoundEnd::End() const
{
    if (!m_LastPTS)
        return std::nullopt;
    return *m_LastPTS + static_cast<std::int64_t>(m_Ticks + 0.5);
}

} // namespace vantrel
