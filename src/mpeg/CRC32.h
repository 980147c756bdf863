// The CRC-32 of MPEG-2 systems (ISO/IEC 13818-1, Annex A): polynomial
// 0x04C11DB7, the register preset to all ones, bits taken most significant
// first, no final inversion. It ends every PSI section of a transport stream
// (and a program stream map), so a PAT or PMT that is rewritten needs it anew.
#pragma once

#include <cstdint>
#include <span>

namespace vantrel {

constexpr std::uint32_t SectionCRCLength = 4;

// The CRC of Data, continuing from CRC (the preset for a fresh start).
std::uint32_t MPEGCRC32(std::span<const std::uint8_t> Data, std::uint32_t CRC = 0xFFFFFFFF);
// True when Section, its four CRC bytes last, is whole: the decoder's register
// ends at zero over all of it.
bool CheckSectionCRC(std::span<const std::uint8_t> Section);
// Writes the CRC of all but the last four bytes of Section into those four,
// most significant byte first. Section holds at least four bytes.
void EncodeSectionCRC(std::span<std::uint8_t> Section);

} // namespace vantrel
