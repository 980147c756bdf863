// LPCM as Blu-ray discs and AVCHD camcorders carry it in transport streams
// (stream type 0x80): every PES payload starts with a 4-byte header that
// says how many sample bytes follow and what they are.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace vantrel {

struct THdmvLPCMHeader
{
    std::uint16_t PayloadSize = 0; // bytes of samples after the header
    std::uint8_t ChannelAssignment =
        0; // 1 mono, 3 stereo, 4 3/0, 5 2/1, 6 3/1, 7 2/2, 8 3/2, 9 3/2+LFE, 10 3/4, 11 3/4+LFE
    std::uint32_t SampleRate = 0; // Hz
    std::uint8_t Bits = 0;        // 16, 20 or 24 bits a sample
    std::uint8_t Channels = 0;    // the .1 included
    bool LowFrequency = false;

    // Samples come in pairs of channels: an odd count carries an empty one.
    std::uint8_t CodedChannels() const { return static_cast<std::uint8_t>((Channels + 1) & ~1); }
    // 20-bit samples are stored in 24 bits.
    std::uint8_t CodedBits() const { return Bits == 16 ? 16 : 24; }
    // Bits per second of the samples as carried.
    std::uint32_t BitRate() const { return SampleRate * CodedChannels() * CodedBits(); }
};

// The channels a channel assignment code carries, the .1 included; 0 for a
// reserved code.
std::uint8_t HdmvLPCMChannels(std::uint8_t ChannelAssignment);

// Data: the PES payload. Nothing when it holds fewer than 4 bytes or its
// codes are reserved.
std::optional<THdmvLPCMHeader> DecodeHdmvLPCMHeader(std::span<const std::uint8_t> Data);

} // namespace vantrel
