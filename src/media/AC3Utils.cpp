#include "AC3Utils.h"

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

std::string AC3ChannelsText(const TAC3FrameHeader& Header)
{
    if (!Header.LowFrequency && Header.CodingMode == 1)
        return "mono";
    if (!Header.LowFrequency && Header.CodingMode == 2)
        return "stereo";
    return std::to_string(Header.Channels()) + "." + (Header.LowFrequency ? "1" : "0");
}

std::optional<TDTSFrameHeader> DecodeDTSFrameHeader(std::span<const std::uint8_t> Data)
{
    constexpr std::size_t Needed = 11; // sync word and the fields up to LFF
    if (Data.size() < Needed || Data[0] != 0x7F || Data[1] != 0xFE || Data[2] != 0x80 || Data[3] != 0x01)
        return std::nullopt;
    // Bits from the sync word's end: FTYPE 1, SHORT 5, CPF 1, NBLKS 7, FSIZE
    // 14, AMODE 6, SFREQ 4, RATE 5, then 10 bits of flags and LFF 2.
    const auto Bits = [&](int At, int Count) {
        std::uint32_t Value = 0;
        for (int I = At; I < At + Count; ++I)
            Value = (Value << 1) | ((Data[4 + I / 8] >> (7 - I % 8)) & 1);
        return Value;
    };
    static constexpr std::array<std::uint32_t, 16> SampleRates = {
        0, 8000, 16000, 32000, 0, 0, 11025, 22050, 44100, 0, 0, 12000, 24000, 48000, 0, 0};
    static constexpr std::array<std::uint32_t, 29> Rates = {
        32,  56,  64,   96,   112,  128,  192,  224,  256,  320,  384,  448,  512,  576, 640,
        768, 960, 1024, 1152, 1280, 1344, 1408, 1411, 1472, 1536, 1920, 2048, 3072, 3840};
    static constexpr std::array<std::uint8_t, 16> Channels = {1, 2, 2, 2, 2, 3, 3, 4, 4, 5, 6, 6, 6, 7, 8, 8};
    const std::uint32_t Blocks = Bits(7, 7), Size = Bits(14, 14), Mode = Bits(28, 6), Rate = Bits(38, 5);
    TDTSFrameHeader Header;
    Header.SampleRate = SampleRates[Bits(34, 4)];
    if (Header.SampleRate == 0 || Blocks < 5 || Size < 95 || Mode >= Channels.size())
        return std::nullopt;
    Header.BitRate = Rate < Rates.size() ? (Rate == 22 ? 1411200 : Rates[Rate] * 1000) : 0;
    Header.Channels = Channels[Mode];
    Header.LowFrequency = Bits(53, 2) != 0;
    Header.FrameLength = Size + 1;
    Header.Samples = (Blocks + 1) * 32;
    return Header;
}

} // namespace vantrel
