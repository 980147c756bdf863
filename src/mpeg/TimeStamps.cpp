#include "mpeg/TimeStamps.h"

namespace vantrel {

std::int64_t DecodeTimeStamp(const std::uint8_t* Field)
{
    const std::int64_t High = (Field[0] & 0x0F) >> 1;
    const std::int64_t Middle = ((Field[1] << 8) | Field[2]) >> 1;
    const std::int64_t Low = ((Field[3] << 8) | Field[4]) >> 1;
    return (High << 30) | (Middle << 15) | Low;
}

void EncodeTimeStamp(std::uint8_t* Field, std::uint8_t Prefix, std::int64_t Value)
{
    Field[0] = static_cast<std::uint8_t>(Prefix << 4 | 1);
    Field[2] = Field[4] = 1;
    PatchTimeStamp(Field, Value);
}

void PatchTimeStamp(std::uint8_t* Field, std::int64_t Value)
{
    // pppp vvv1, 8 bits, 7 bits + 1, 8 bits, 7 bits + 1: value bits 32..0.
    Field[0] = static_cast<std::uint8_t>((Field[0] & 0xF1) | (((Value >> 30) & 7) << 1));
    Field[1] = static_cast<std::uint8_t>(Value >> 22);
    Field[2] = static_cast<std::uint8_t>((Field[2] & 1) | ((Value >> 14) & 0xFE));
    Field[3] = static_cast<std::uint8_t>(Value >> 7);
    Field[4] = static_cast<std::uint8_t>((Field[4] & 1) | ((Value << 1) & 0xFE));
}

std::int64_t DecodeProgramSCR(const std::uint8_t* Field)
{
    const std::int64_t High = (Field[0] >> 3) & 0x07;
    const std::int64_t Middle = ((Field[0] & 0x03) << 13) | (Field[1] << 5) | (Field[2] >> 3);
    const std::int64_t Low = ((Field[2] & 0x03) << 13) | (Field[3] << 5) | (Field[4] >> 3);
    return (High << 30) | (Middle << 15) | Low;
}

void PatchProgramSCR(std::uint8_t* Field, std::int64_t Value)
{
    const auto Bits = [](std::int64_t V, int Shift, int Mask) {
        return static_cast<int>((V >> Shift) & Mask);
    };
    Field[0] = static_cast<std::uint8_t>((Field[0] & 0xC4) | (Bits(Value, 30, 7) << 3) | Bits(Value, 28, 3));
    Field[1] = static_cast<std::uint8_t>(Value >> 20);
    Field[2] =
        static_cast<std::uint8_t>((Field[2] & 0x04) | (Bits(Value, 15, 0x1F) << 3) | Bits(Value, 13, 3));
    Field[3] = static_cast<std::uint8_t>(Value >> 5);
    Field[4] = static_cast<std::uint8_t>((Field[4] & 0x07) | (Bits(Value, 0, 0x1F) << 3));
}

} // namespace vantrel
