// Picture size and frame rate from an MPEG-1 or MPEG-2 video sequence header
// (ISO/IEC 11172-2, 2.4.2.3; 13818-2, 6.2.2) and its MPEG-2 extensions.
#pragma once

#include "mpeg/StartCodes.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>

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

// Where the first 00 00 01 Code at or after From ends: the position just
// after the code byte; nothing when Data holds none.
std::optional<std::size_t> FindStartCode(std::span<const std::uint8_t> Data, std::uint8_t Code,
                                         std::size_t From = 0);

// The fields of a sequence header that decide whether files join, as read:
// 12-bit sizes, 4-bit aspect-ratio and frame-rate codes, unchecked.
struct TSequenceHeader
{
    std::uint16_t Width = 0;
    std::uint16_t Height = 0;
    std::uint8_t AspectRatioCode = 0;
    std::uint16_t FrameRateCode = 0;
    std::size_t End = 0; // just after these four bytes
};
// The first sequence header at or after From; nothing when there is none or
// Data ends within the four bytes after its code.
std::optional<TSequenceHeader> ReadSequenceHeader(std::span<const std::uint8_t> Data, std::size_t From = 0);

// The sequence extension of MPEG-2 video (ISO/IEC 13818-2, 6.2.2.3), as read.
struct TSequenceExtension
{
    std::uint8_t ProfileAndLevel = 0; // escape bit, 3-bit profile, 4-bit level
    bool Progressive = false;
    std::uint8_t ChromaFormat = 0;   // 1 4:2:0, 2 4:2:2, 3 4:4:4
    std::uint8_t WidthExtension = 0; // the size's bits 13-12
    std::uint8_t HeightExtension = 0;
    std::uint8_t FrameRateExtensionN = 0; // the rate is the code's times (n + 1) / (d + 1)
    std::uint8_t FrameRateExtensionD = 0;
};
// Data: what follows a sequence header's first four bytes. The extension
// when the next start code is one (00 00 01 B5, extension id 1 in the top
// four bits of the next byte) and its six bytes are in Data; nothing else.
std::optional<TSequenceExtension> ReadSequenceExtension(std::span<const std::uint8_t> Data);

// How long an MPEG-2 picture shows, in fields (ISO/IEC 13818-2, 6.3.10), by
// its picture coding extension; Extension: the four bytes after its
// extension start code (00 00 01 B5), the first of which names it (id 8).
// Two for a frame, one for a field picture, three for a frame that repeats
// its first field (3:2 pulldown); a progressive sequence repeats whole
// frames: four, or six with the top field first. Nothing for another
// extension.
std::optional<int> PictureFields(const std::uint8_t* Extension, bool ProgressiveSequence);
// The progressive_sequence flag of a sequence extension; Extension as above
// (id 1); nothing for another extension.
std::optional<bool> ProgressiveSequenceOf(const std::uint8_t* Extension);

// Data: what follows a sequence header's first four bytes. True when the next
// start code is a sequence extension (00 00 01 B5, extension id 1 in the top
// four bits of the next byte), which only MPEG-2 video (ISO/IEC 13818-2) has
// there. The rest of an MPEG-1 sequence header (quantiser matrices of
// non-zero values) holds no start code, so the next one found is the one
// that follows it.
bool IsMPEG2Sequence(std::span<const std::uint8_t> Data);

} // namespace vantrel
