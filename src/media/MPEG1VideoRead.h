// Picture size and frame rate from an MPEG-1 video sequence header
// (ISO/IEC 11172-2, 2.4.2.3).
#pragma once

#include "Streams.h"

#include <array>
#include <cstdint>

namespace vantrel {

constexpr std::uint8_t SequenceHeaderCode = 0xB3;

// Frames per second by frame-rate code 1 to 8 (index 0 is code 1). The
// decimal values are the ones users know: 23.976, not 24000/1001.
constexpr std::array<double, 8> FrameRates = {23.976, 24, 25, 29.97, 30, 50, 59.94, 60};

constexpr bool IsValidFrameRateCode(std::uint16_t Code)
{
    return Code >= 1 && Code <= FrameRates.size();
}
// The rate for a valid code; the caller checks the code first.
constexpr double FrameRateOf(std::uint16_t Code)
{
    return FrameRates[Code - 1];
}

// Reads the stream a byte at a time up to and including the first
// 00 00 01 Code. True when found, the stream then just after the code byte.
bool FindStartCode(TStream& Stream, std::uint8_t Code);

// Finds the next sequence header and returns its 12-bit sizes and 4-bit
// frame-rate code as read, unchecked. False when there is none or the stream
// ends within the four bytes after its code.
bool ReadSequenceHeader(TStream& Stream, std::uint16_t& Width, std::uint16_t& Height,
                        std::uint16_t& FrameRateCode);

} // namespace vantrel
