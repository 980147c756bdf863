// Picture size and frame rate from an MPEG-1 video sequence header
// (ISO/IEC 11172-2, 2.4.2.3).
#pragma once

#include "MPEG1Syntax.h"
#include "Streams.h"

#include <array>
#include <cstdint>

namespace vantrel {

// Frames per second by frame-rate code 1 to 13 (index 0 is code 1). Codes 1 to
// 8 are the standard's, in the decimal values users know (23.976, not
// 24000/1001); 9 to 13 are written by early encoders: 9 = 15 (one well-known
// encoder's), 10 = 5, 11 = 10, 12 = 12, 13 = 15.
constexpr std::array<double, 13> FrameRates = {23.976, 24, 25, 29.97, 30, 50, 59.94, 60, 15, 5, 10, 12, 15};

constexpr bool IsValidFrameRateCode(std::uint16_t Code)
{
    return Code >= 1 && Code <= FrameRates.size();
}
// The rate for a valid code; the caller checks the code first.
constexpr double FrameRateOf(std::uint16_t Code)
{
    return FrameRates[Code - 1];
}

// One frame at FrameRate in ticks of the 90 kHz clock, rounded half to even;
// not a finite number for a rate of 0.
double TicksPerFrame(double FrameRate);

// Reads the stream a byte at a time up to and including the first
// 00 00 01 Code. True when found, the stream then just after the code byte.
bool FindStartCode(TStream& Stream, std::uint8_t Code);

// Finds the next sequence header and returns its 12-bit sizes and 4-bit
// frame-rate code (and, asked for, its 4-bit aspect-ratio code) as read,
// unchecked. False when there is none or the stream ends within the four
// bytes after its code.
bool ReadSequenceHeader(TStream& Stream, std::uint16_t& Width, std::uint16_t& Height,
                        std::uint16_t& FrameRateCode, std::uint8_t* AspectRatioCode = nullptr);

// Called just after a sequence header was read: true when the next start code
// is a sequence extension (00 00 01 B5, extension id 1 in the top four bits of
// the next byte), which only MPEG-2 video (ISO/IEC 13818-2) has there. The
// rest of an MPEG-1 sequence header (quantiser matrices of non-zero values)
// holds no start code, so the next one found is the one that follows it.
bool IsMPEG2Sequence(TStream& Stream);

} // namespace vantrel
