#include "join/VideoEdits.h"

#include "mpeg/StartCodes.h"

#include <algorithm>
#include <iterator>

namespace vantrel {

namespace {

bool CodeAt(const std::uint8_t* Data, std::uint8_t Code)
{
    return Data[0] == 0 && Data[1] == 0 && Data[2] == 1 && Data[3] == Code;
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

} // namespace vantrel
