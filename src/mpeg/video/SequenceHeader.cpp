#include "mpeg/video/SequenceHeader.h"
#include "mpeg/StartCodes.h"
#include "mpeg/TimeStamps.h"

#include <cmath>

namespace vantrel {

double TicksPerFrame(double FrameRate)
{
    return std::nearbyint(1.0 / FrameRate * ClockRate);
}

std::optional<std::size_t> FindStartCode(std::span<const std::uint8_t> Data, std::uint8_t Code,
                                         std::size_t From)
{
    TStartCodeScan Scan;
    for (std::size_t I = From; I < Data.size(); ++I)
        if (Scan.Feed(Data[I]) && Data[I] == Code)
            return I + 1;
    return std::nullopt;
}

std::optional<TSequenceHeader> ReadSequenceHeader(std::span<const std::uint8_t> Data, std::size_t From)
{
    const std::optional<std::size_t> At = FindStartCode(Data, SequenceHeaderCode, From);
    if (!At || Data.size() - *At < 4)
        return std::nullopt;
    const std::uint8_t* B = Data.data() + *At;
    // 12 bits width, 12 bits height, 4 bits aspect ratio, 4 bits frame rate.
    TSequenceHeader Header;
    Header.Width = static_cast<std::uint16_t>((B[0] << 4) | (B[1] >> 4));
    Header.Height = static_cast<std::uint16_t>(((B[1] & 0x0F) << 8) | B[2]);
    Header.AspectRatioCode = B[3] >> 4;
    Header.FrameRateCode = B[3] & 0x0F;
    Header.End = *At + 4;
    return Header;
}

std::optional<TSequenceExtension> ReadSequenceExtension(std::span<const std::uint8_t> Data)
{
    TStartCodeScan Scan;
    std::size_t I = 0;
    while (I < Data.size() && !Scan.Feed(Data[I]))
        ++I;
    constexpr std::uint8_t SequenceExtensionId = 1;
    if (I + 7 > Data.size() || Data[I] != ExtensionStartCode || (Data[I + 1] >> 4) != SequenceExtensionId)
        return std::nullopt;
    const std::uint8_t* B = Data.data() + I + 1;
    TSequenceExtension Extension;
    Extension.ProfileAndLevel = static_cast<std::uint8_t>(((B[0] & 0x0F) << 4) | (B[1] >> 4));
    Extension.Progressive = (B[1] & 0x08) != 0;
    Extension.ChromaFormat = (B[1] >> 1) & 0x03;
    Extension.WidthExtension = static_cast<std::uint8_t>(((B[1] & 0x01) << 1) | (B[2] >> 7));
    Extension.HeightExtension = (B[2] >> 5) & 0x03;
    Extension.FrameRateExtensionN = (B[5] >> 5) & 0x03;
    Extension.FrameRateExtensionD = B[5] & 0x1F;
    return Extension;
}

std::optional<int> PictureFields(const std::uint8_t* Extension, bool ProgressiveSequence)
{
    constexpr std::uint8_t PictureCodingExtensionId = 8;
    if ((Extension[0] >> 4) != PictureCodingExtensionId)
        return std::nullopt;
    const int Structure = Extension[2] & 0x03; // 1 top field, 2 bottom field, 3 frame
    const bool TopFirst = (Extension[3] & 0x80) != 0, Repeat = (Extension[3] & 0x02) != 0;
    if (Structure != 3)
        return 1;
    if (!Repeat)
        return 2;
    return ProgressiveSequence ? (TopFirst ? 6 : 4) : 3;
}

std::optional<bool> ProgressiveSequenceOf(const std::uint8_t* Extension)
{
    constexpr std::uint8_t SequenceExtensionId = 1;
    if ((Extension[0] >> 4) != SequenceExtensionId)
        return std::nullopt;
    return (Extension[1] & 0x08) != 0;
}

bool IsMPEG2Sequence(std::span<const std::uint8_t> Data)
{
    TStartCodeScan Scan;
    for (std::size_t I = 0; I < Data.size(); ++I) {
        if (!Scan.Feed(Data[I]))
            continue;
        constexpr std::uint8_t SequenceExtensionId = 1;
        return Data[I] == ExtensionStartCode && I + 1 < Data.size() &&
               (Data[I + 1] >> 4) == SequenceExtensionId;
    }
    return false;
}

} // namespace vantrel
