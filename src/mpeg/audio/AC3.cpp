#include "mpeg/audio/AC3.h"

#include <array>

namespace vantrel {

std::optional<TAC3FrameHeader> DecodeAC3FrameHeader(std::span<const std::uint8_t> Data)
{
    constexpr std::size_t Needed = 8; // sync word, CRC, codes, and the bits up to lfeon
    if (Data.size() < Needed || Data[0] != 0x0B || Data[1] != 0x77)
        return std::nullopt;
    // kbit/s by frame-size code / 2.
    static constexpr std::array<std::uint32_t, 19> Rates = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                                            192, 224, 256, 320, 384, 448, 512, 576, 640};
    const std::uint8_t SampleRateCode = Data[4] >> 6, SizeCode = Data[4] & 0x3F;
    const std::uint8_t StreamId = Data[5] >> 3; // bsid: 8 and below are A/52's own
    if (SampleRateCode == 3 || SizeCode / 2 >= Rates.size() || StreamId > 10)
        return std::nullopt;
    TAC3FrameHeader Header;
    static constexpr std::array<std::uint32_t, 3> SampleRates = {48000, 44100, 32000};
    Header.SampleRate = SampleRates[SampleRateCode];
    const std::uint32_t Kbits = Rates[SizeCode / 2];
    Header.BitRate = Kbits * 1000;
    // 1536 samples a frame, in 16-bit words; 44.1 kHz rounds down, and an
    // odd code there adds one word.
    const std::uint32_t Words = SampleRateCode == 0   ? 2 * Kbits
                                : SampleRateCode == 2 ? 3 * Kbits
                                                      : Kbits * 96000 / 44100 + (SizeCode & 1);
    Header.FrameLength = 2 * Words;
    // acmod, then the mix levels and surround mode its value brings, then lfeon.
    Header.CodingMode = Data[6] >> 5;
    int Bit = 3;
    if ((Header.CodingMode & 1) != 0 && Header.CodingMode != 1)
        Bit += 2;
    if ((Header.CodingMode & 4) != 0)
        Bit += 2;
    if (Header.CodingMode == 2)
        Bit += 2;
    Header.LowFrequency = (Data[6 + Bit / 8] >> (7 - Bit % 8)) & 1;
    return Header;
}

std::optional<TAC3FrameHeader> DecodeEAC3FrameHeader(std::span<const std::uint8_t> Data)
{
    // 0B 77 | strmtyp 2, substreamid 3, frmsiz 3 | frmsiz 8 | fscod 2,
    // numblkscod (or fscod2) 2, acmod 3, lfeon 1 | bsid 5, dialnorm 3.
    constexpr std::size_t Needed = 6;
    if (Data.size() < Needed || Data[0] != 0x0B || Data[1] != 0x77)
        return std::nullopt;
    const std::uint8_t StreamId = Data[5] >> 3;
    const std::uint8_t RateCode = Data[4] >> 6, BlockCode = (Data[4] >> 4) & 3;
    if (StreamId <= 10 || StreamId > 16 || (RateCode == 3 && BlockCode == 3) || (Data[2] >> 6) == 3)
        return std::nullopt;
    static constexpr std::array<std::uint32_t, 3> SampleRates = {48000, 44100, 32000};
    static constexpr std::array<std::uint32_t, 3> HalfRates = {24000, 22050, 16000};
    static constexpr std::array<std::uint32_t, 4> Blocks = {1, 2, 3, 6};
    TAC3FrameHeader Header;
    Header.Enhanced = true;
    Header.StreamType = Data[2] >> 6;
    Header.SubstreamId = (Data[2] >> 3) & 7;
    Header.FrameLength = 2 * ((((Data[2] & 7u) << 8) | Data[3]) + 1);
    Header.SampleRate = RateCode == 3 ? HalfRates[BlockCode] : SampleRates[RateCode];
    Header.Samples = 256 * (RateCode == 3 ? 6 : Blocks[BlockCode]);
    Header.CodingMode = (Data[4] >> 1) & 7;
    Header.LowFrequency = Data[4] & 1;
    Header.BitRate = static_cast<std::uint32_t>(std::uint64_t{Header.FrameLength} * 8 * Header.SampleRate /
                                                Header.Samples);
    return Header;
}

std::string AC3ChannelsText(const TAC3FrameHeader& Header)
{
    if (!Header.LowFrequency && Header.CodingMode == 1)
        return "mono";
    if (!Header.LowFrequency && Header.CodingMode == 2)
        return "stereo";
    return std::to_string(Header.Channels()) + "." + (Header.LowFrequency ? "1" : "0");
}

} // namespace vantrel
