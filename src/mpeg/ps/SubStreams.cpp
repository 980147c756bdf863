#include "mpeg/ps/SubStreams.h"

namespace vantrel {

std::optional<std::size_t> SubStreamFirstFrame(const std::uint8_t* Payload, std::size_t Length)
{
    if (Length < 4 || !IsSubStreamAudio(Payload[0]))
        return std::nullopt;
    const std::size_t Pointer = (Payload[2] << 8) | Payload[3];
    // LPCM's pointer counts the rest of its header too.
    const std::size_t At = 3 + Pointer;
    if (Pointer == 0 || At >= Length)
        return std::nullopt;
    return At;
}

std::optional<TLPCMFormat> DecodeLPCMFormat(const std::uint8_t* Payload, std::size_t Length)
{
    if (Length < 7 || SubStreamKind(Payload[0]) != sskLPCM)
        return std::nullopt;
    const std::uint8_t Quantisation = Payload[5] >> 6, Rate = (Payload[5] >> 4) & 3;
    if (Quantisation == 3 || Rate > 1)
        return std::nullopt;
    return TLPCMFormat{Rate ? 96000 : 48000, static_cast<std::uint8_t>(16 + 4 * Quantisation),
                       static_cast<std::uint8_t>((Payload[5] & 7) + 1)};
}

std::int32_t LPCMBitRate(const std::uint8_t* Payload, std::size_t Length)
{
    const std::optional<TLPCMFormat> Format = DecodeLPCMFormat(Payload, Length);
    return Format ? Format->SampleRate * Format->Bits * Format->Channels : 0;
}

} // namespace vantrel
