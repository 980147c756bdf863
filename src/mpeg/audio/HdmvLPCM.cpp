#include "mpeg/audio/HdmvLPCM.h"

namespace vantrel {

std::uint8_t HdmvLPCMChannels(std::uint8_t ChannelAssignment)
{
    static constexpr std::uint8_t Channels[16] = {0, 1, 0, 2, 3, 3, 4, 4, 5, 6, 7, 8, 0, 0, 0, 0};
    return Channels[ChannelAssignment & 0x0F];
}

std::optional<THdmvLPCMHeader> DecodeHdmvLPCMHeader(std::span<const std::uint8_t> Data)
{
    if (Data.size() < 4)
        return std::nullopt;
    // 16 bits audio_data_payload_size, 4 bits channel_assignment, 4 bits
    // sampling_frequency, 2 bits bits_per_sample, 1 bit start_flag, 5 reserved.
    THdmvLPCMHeader Header;
    Header.PayloadSize = static_cast<std::uint16_t>((Data[0] << 8) | Data[1]);
    Header.ChannelAssignment = Data[2] >> 4;
    const std::uint8_t RateCode = Data[2] & 0x0F, BitsCode = Data[3] >> 6;
    Header.Channels = HdmvLPCMChannels(Header.ChannelAssignment);
    Header.LowFrequency = Header.ChannelAssignment == 9 || Header.ChannelAssignment == 11;
    Header.SampleRate = RateCode == 1 ? 48000 : RateCode == 4 ? 96000 : RateCode == 5 ? 192000 : 0;
    static constexpr std::uint8_t Bits[4] = {0, 16, 20, 24};
    Header.Bits = Bits[BitsCode];
    if (Header.Channels == 0 || Header.SampleRate == 0 || Header.Bits == 0)
        return std::nullopt;
    return Header;
}

} // namespace vantrel
