// AAC as broadcasts carry it (ISO/IEC 13818-7, 14496-3): in ADTS frames,
// each behind a 7-byte header, or in LATM inside LOAS's AudioSyncStream,
// whose AudioMuxElements carry the configuration now and then.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace vantrel {

struct TAACFormat
{
    // The audio object type: 1 Main, 2 LC, 3 SSR, 4 LTP, 5 SBR (HE-AAC), 29 PS.
    std::uint8_t ObjectType = 0;
    // What a decoder puts out: with SBR twice the core's rate.
    std::uint32_t SampleRate = 0;
    // 1 to 6: that many channels, 6 being 5.1; 7: 7.1; 0: the channels are
    // given by a program configuration element, not read here.
    std::uint8_t ChannelConfiguration = 0;
    std::uint32_t FrameLength = 0; // bytes, header included
    std::uint32_t Samples = 0;     // per channel in the frame, at SampleRate

    // The full channels (5 for 5.1) and the low-frequency one.
    std::uint8_t Channels() const;
    bool LowFrequency() const { return ChannelConfiguration >= 6; }
};

// The ADTS header at the start of Data: syncword FFF, MPEG version, layer
// 00, the profile, the rate index, the channel configuration, the 13-bit
// frame length and the count of raw data blocks; nothing for a reserved
// rate, a length shorter than the header or too few bytes.
std::optional<TAACFormat> DecodeADTSHeader(std::span<const std::uint8_t> Data);

// A LOAS AudioSyncStream frame (14496-3, 1.7.2) at the start of Data: the
// 11-bit sync 0x2B7 and a 13-bit length; its bytes, the 3 of that header
// included; nothing when Data does not start with one.
std::optional<std::uint32_t> LOASFrameLength(std::span<const std::uint8_t> Data);
// The format of the LOAS frame at the start of Data when its AudioMuxElement
// carries a StreamMuxConfig (useSameStreamMux 0) whose first program gives
// an AudioSpecificConfig; nothing else (the frame then uses the one before).
std::optional<TAACFormat> DecodeLATMConfig(std::span<const std::uint8_t> Data);

} // namespace vantrel
