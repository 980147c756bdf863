#include "mpeg/CRC32.h"

#include <array>

namespace vantrel {

namespace {

// The register's change for each value of its top byte.
constexpr std::array<std::uint32_t, 256> MakeTable()
{
    std::array<std::uint32_t, 256> Table{};
    for (std::uint32_t Byte = 0; Byte < 256; ++Byte) {
        std::uint32_t Value = Byte << 24;
        for (int Bit = 0; Bit < 8; ++Bit)
            Value = (Value & 0x80000000u) ? (Value << 1) ^ 0x04C11DB7u : Value << 1;
        Table[Byte] = Value;
    }
    return Table;
}
constexpr std::array<std::uint32_t, 256> Table = MakeTable();

} // namespace

std::uint32_t MPEGCRC32(std::span<const std::uint8_t> Data, std::uint32_t CRC)
{
    for (const std::uint8_t Byte : Data)
        CRC = (CRC << 8) ^ Table[(CRC >> 24) ^ Byte];
    return CRC;
}

bool CheckSectionCRC(std::span<const std::uint8_t> Section)
{
    return Section.size() >= SectionCRCLength && MPEGCRC32(Section) == 0;
}

void EncodeSectionCRC(std::span<std::uint8_t> Section)
{
    const std::size_t At = Section.size() - SectionCRCLength;
    const std::uint32_t CRC = MPEGCRC32(Section.first(At));
    for (std::size_t I = 0; I < SectionCRCLength; ++I)
        Section[At + I] = static_cast<std::uint8_t>(CRC >> (24 - 8 * I));
}

} // namespace vantrel
