#include "mpeg/audio/AAC.h"

#include "mpeg/BitReader.h"

#include <array>

namespace vantrel {

namespace {

// Hz by sampling_frequency_index; 13 and 14 are reserved, 15 escapes to 24 bits.
constexpr std::array<std::uint32_t, 13> SampleRates = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                                       22050, 16000, 12000, 11025, 8000,  7350};

std::uint32_t ObjectType(TBitReader& Reader)
{
    const std::uint32_t Type = Reader.Bits(5);
    return Type == 31 ? 32 + Reader.Bits(6) : Type;
}

// 0 for a reserved index.
std::uint32_t SampleRate(TBitReader& Reader)
{
    const std::uint32_t Index = Reader.Bits(4);
    if (Index == 15)
        return Reader.Bits(24);
    return Index < SampleRates.size() ? SampleRates[Index] : 0;
}

// LATM's variable-length value: 2 bits say how many bytes follow.
std::uint32_t LatmValue(TBitReader& Reader)
{
    return Reader.Bits(8 * (static_cast<int>(Reader.Bits(2)) + 1));
}

// AudioSpecificConfig (14496-3, 1.6.2.1): object type, rate, channels, and
// for explicit SBR or PS the rate a decoder puts out.
std::optional<TAACFormat> AudioSpecificConfig(TBitReader& Reader, std::uint32_t SubFrames)
{
    TAACFormat Format;
    std::uint32_t Type = ObjectType(Reader);
    const std::uint32_t CoreRate = SampleRate(Reader);
    Format.ChannelConfiguration = static_cast<std::uint8_t>(Reader.Bits(4));
    Format.SampleRate = CoreRate;
    Format.Samples = 1024 * SubFrames;
    Format.ObjectType = static_cast<std::uint8_t>(Type);
    if (Type == 5 || Type == 29) {
        Format.SampleRate = SampleRate(Reader);
        Format.Samples *= 2;
        Type = ObjectType(Reader);
    }
    if (!Reader.Ok() || CoreRate == 0 || Format.SampleRate == 0 || Type == 0)
        return std::nullopt;
    return Format;
}

} // namespace

std::uint8_t TAACFormat::Channels() const
{
    static constexpr std::uint8_t Full[] = {0, 1, 2, 3, 4, 5, 5, 7};
    return ChannelConfiguration < 8 ? Full[ChannelConfiguration] : 0;
}

std::optional<TAACFormat> DecodeADTSHeader(std::span<const std::uint8_t> Data)
{
    // FF | F, ID, layer 00, protection_absent | profile 2, rate 4, private,
    // channels (high bit) | channels 2, 4 flags, length 2 | length 8 |
    // length 3, fullness 5 | fullness 6, raw blocks 2.
    constexpr std::size_t HeaderLength = 7;
    if (Data.size() < HeaderLength || Data[0] != 0xFF || (Data[1] & 0xF6) != 0xF0)
        return std::nullopt;
    const std::uint8_t RateIndex = (Data[2] >> 2) & 0x0F;
    if (RateIndex >= SampleRates.size())
        return std::nullopt;
    TAACFormat Format;
    Format.ObjectType = static_cast<std::uint8_t>((Data[2] >> 6) + 1);
    Format.SampleRate = SampleRates[RateIndex];
    Format.ChannelConfiguration = static_cast<std::uint8_t>(((Data[2] & 1) << 2) | (Data[3] >> 6));
    Format.FrameLength = ((Data[3] & 3u) << 11) | (Data[4] << 3) | (Data[5] >> 5);
    Format.Samples = 1024 * ((Data[6] & 3u) + 1);
    const std::uint32_t Header = (Data[1] & 1) ? HeaderLength : HeaderLength + 2;
    if (Format.FrameLength < Header)
        return std::nullopt;
    return Format;
}

std::optional<std::uint32_t> LOASFrameLength(std::span<const std::uint8_t> Data)
{
    // 0x2B7 (11 bits), audioMuxLengthBytes (13).
    if (Data.size() < 3 || Data[0] != 0x56 || (Data[1] & 0xE0) != 0xE0)
        return std::nullopt;
    return 3 + (((Data[1] & 0x1Fu) << 8) | Data[2]);
}

std::optional<TAACFormat> DecodeLATMConfig(std::span<const std::uint8_t> Data)
{
    const std::optional<std::uint32_t> Length = LOASFrameLength(Data);
    if (!Length || *Length > Data.size())
        return std::nullopt;
    TBitReader Reader(Data.subspan(3, *Length - 3));
    // AudioMuxElement: useSameStreamMux; StreamMuxConfig (14496-3, 1.7.3):
    // audioMuxVersion, audioMuxVersionA, taraBufferFullness, then
    // allStreamsSameTimeFraming, numSubFrames, numProgram, numLayer and the
    // first layer's AudioSpecificConfig (its length first in version 1).
    if (Reader.Bits(1) != 0)
        return std::nullopt;
    const std::uint32_t Version = Reader.Bits(1);
    if (Version == 1 && Reader.Bits(1) != 0)
        return std::nullopt; // version A 1: reserved
    if (Version == 1)
        LatmValue(Reader);
    Reader.Skip(1);
    const std::uint32_t SubFrames = Reader.Bits(6) + 1;
    Reader.Skip(4 + 3);
    if (Version == 1)
        LatmValue(Reader);
    std::optional<TAACFormat> Format = AudioSpecificConfig(Reader, SubFrames);
    if (Format)
        Format->FrameLength = *Length;
    return Format;
}

} // namespace vantrel
