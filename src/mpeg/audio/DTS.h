// DTS core frame headers (ETSI TS 102 114, 5.3): a DVD's other surround sound.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace vantrel {

struct TDTSFrameHeader
{
    std::uint32_t SampleRate = 0; // Hz
    std::uint32_t BitRate = 0;    // bits per second; 0 for the open and free rates
    std::uint8_t Channels = 0;    // full channels
    bool LowFrequency = false;
    std::uint32_t FrameLength = 0; // bytes
    std::uint32_t Samples = 0;     // per channel in the frame
};
// The core frame header at the start of Data (7F FE 80 01, big-endian 16-bit
// words); nothing for another sync word, reserved codes or too few bytes.
std::optional<TDTSFrameHeader> DecodeDTSFrameHeader(std::span<const std::uint8_t> Data);

} // namespace vantrel
