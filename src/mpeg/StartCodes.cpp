#include "mpeg/StartCodes.h"

namespace vantrel {

std::size_t CountStartCodes(const std::uint8_t* Data, std::size_t Size, std::uint8_t Code,
                            TStartCodeScan& Scan)
{
    std::size_t Count = 0;
    ForEachStartCode(Data, Size, Scan, [&](std::size_t I) {
        Count += Data[I] == Code;
        return false;
    });
    return Count;
}

} // namespace vantrel
