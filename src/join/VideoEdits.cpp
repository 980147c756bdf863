#include "join/VideoEdits.h"

#include "mpeg/StartCodes.h"

#include <algorithm>
#include <iterator>
#include <vector>

namespace vantrel {

namespace {

bool CodeAt(const std::uint8_t* Data, std::uint8_t Code)
{
    return Data[0] == 0 && Data[1] == 0 && Data[2] == 1 && Data[3] == Code;
}

// What the three-byte patterns of 00 00 0x starting from From to To read
// as: none, a start code's prefix (00 00 00 to 00 00 02) by its last byte,
// or 00 00 03 as an emulation prevention byte (a byte of 00 to 03 after it)
// or not.
std::vector<int> Patterns(const std::uint8_t* Data, std::size_t Size, std::size_t From, std::size_t To)
{
    std::vector<int> Read;
    for (std::size_t J = From; J < To && J + 3 <= Size; ++J) {
        const bool Prefix = Data[J] == 0 && Data[J + 1] == 0 && Data[J + 2] <= 3;
        const bool Escape = Prefix && Data[J + 2] == 3 && J + 3 < Size && Data[J + 3] <= 3;
        Read.push_back(!Prefix ? -1 : Data[J + 2] < 3 ? Data[J + 2] : Escape ? 3 : 4);
    }
    return Read;
}

} // namespace

void BlankEndCodes(std::uint8_t* Data, std::size_t Size)
{
    // The bytes must not take part in a start code with their neighbours: no
    // zero (it could begin a prefix with a following 01), no 01, and first a
    // byte below 0xBA, the code an earlier 00 00 01 would read.
    static constexpr std::uint8_t Blank[] = {0x80, 0xFF, 0xFF, 0xFF};
    for (std::size_t I = 0; I + 4 <= Size; ++I)
        if (CodeAt(Data + I, EndCode))
            std::copy(std::begin(Blank), std::end(Blank), Data + I);
}

std::size_t BlankSequenceEnds(std::uint8_t* Data, std::size_t Size, std::size_t Available)
{
    std::size_t Beyond = 0;
    for (std::size_t I = 0; I < Size && I + 4 <= Available; ++I)
        if (CodeAt(Data + I, SequenceEndCode)) {
            std::fill_n(Data + I, std::min<std::size_t>(4, Size - I), 0);
            Beyond = I + 4 > Size ? I + 4 - Size : 0;
        }
    return Beyond;
}

bool MarkBrokenLink(std::uint8_t* Data, std::size_t Size)
{
    constexpr std::uint8_t ClosedGop = 0x40, BrokenLink = 0x20;
    for (std::size_t I = 0; I + 8 <= Size; ++I)
        if (CodeAt(Data + I, GroupStartCode)) {
            // 25 bits of time code, then the two flags.
            if (!(Data[I + 7] & ClosedGop))
                Data[I + 7] |= BrokenLink;
            return true;
        }
    return false;
}

TBrokenLinkEdit MarkH264BrokenLink(std::uint8_t* Data, std::size_t Size, std::int64_t Offset,
                                   const TFlagPosition& Flag)
{
    if (Flag.Byte < Offset || Flag.Byte - Offset >= static_cast<std::int64_t>(Size))
        return blNotHere;
    if (!Flag.Settable)
        return blRefused;
    const auto At = static_cast<std::size_t>(Flag.Byte - Offset);
    // The patterns the byte takes part in start up to three bytes before it.
    const std::size_t From = At >= 3 ? At - 3 : 0, To = At + 1;
    const std::vector<int> Before = Patterns(Data, Size, From, To);
    const std::uint8_t Old = Data[At];
    Data[At] = static_cast<std::uint8_t>(Old | Flag.Mask);
    if (Patterns(Data, Size, From, To) != Before) {
        Data[At] = Old;
        return blRefused;
    }
    return blSet;
}

} // namespace vantrel
