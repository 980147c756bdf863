#include "MPEG1VideoRead.h"

#include <cmath>

namespace vantrel {

double TicksPerFrame(double FrameRate)
{
    return std::nearbyint(1.0 / FrameRate * ClockRate);
}

bool FindStartCode(TStream& Stream, std::uint8_t Code)
{
    TStartCodeScan Scan;
    std::uint8_t Byte;
    while (Stream.Read(&Byte, 1) == 1)
        if (Scan.Feed(Byte) && Byte == Code)
            return true;
    return false;
}

bool ReadSequenceHeader(TStream& Stream, std::uint16_t& Width, std::uint16_t& Height,
                        std::uint16_t& FrameRateCode, std::uint8_t* AspectRatioCode)
{
    if (!FindStartCode(Stream, SequenceHeaderCode))
        return false;
    std::uint8_t B[4];
    for (auto& Byte : B)
        if (Stream.Read(&Byte, 1) != 1)
            return false;
    // 12 bits width, 12 bits height, 4 bits aspect ratio, 4 bits frame rate.
    Width = static_cast<std::uint16_t>((B[0] << 4) | (B[1] >> 4));
    Height = static_cast<std::uint16_t>(((B[1] & 0x0F) << 8) | B[2]);
    FrameRateCode = B[3] & 0x0F;
    if (AspectRatioCode)
        *AspectRatioCode = B[3] >> 4;
    return true;
}

bool IsMPEG2Sequence(TStream& Stream)
{
    TStartCodeScan Scan;
    std::uint8_t Byte;
    while (Stream.Read(&Byte, 1) == 1) {
        if (!Scan.Feed(Byte))
            continue;
        constexpr std::uint8_t SequenceExtensionId = 1;
        return Byte == ExtensionStartCode && Stream.Read(&Byte, 1) == 1 && (Byte >> 4) == SequenceExtensionId;
    }
    return false;
}

} // namespace vantrel
