#include "MPEG1VideoRead.h"

#include <algorithm>

namespace vantrel {

bool FindStartCode(TStream& Stream, std::uint8_t Code)
{
    int Zeros = 0;
    std::uint8_t Byte;
    while (Stream.Read(&Byte, 1) == 1) {
        // A prefix is the last two zeros of any run, then 01; the byte after a
        // prefix that does not match is examined again as a possible zero.
        while (Byte == 1 && Zeros >= 2) {
            if (Stream.Read(&Byte, 1) != 1)
                return false;
            if (Byte == Code)
                return true;
            Zeros = 0;
        }
        Zeros = Byte == 0 ? std::min(Zeros + 1, 2) : 0; // two zeros make a prefix, however many stand
    }
    return false;
}

bool ReadSequenceHeader(TStream& Stream, std::uint16_t& Width, std::uint16_t& Height,
                        std::uint16_t& FrameRateCode)
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
    return true;
}

} // namespace vantrel
