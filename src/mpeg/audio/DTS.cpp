#include "mpeg/audio/DTS.h"

namespace vantrel {

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
