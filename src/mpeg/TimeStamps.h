// Time stamps of MPEG systems (SCR, PTS, DTS; ISO/IEC 11172-1 and 13818-1):
// a 90 kHz clock modulo 2^33, its field layouts, and the arithmetic on the
// wrapping clock.
#pragma once

#include <cstdint>

namespace vantrel {

// Time stamps (SCR, PTS, DTS) count ticks of a 90 kHz clock modulo 2^33.
constexpr std::int64_t ClockRate = 90000;
constexpr std::int64_t ClockWrap = std::int64_t{1} << 33;
constexpr std::uint32_t TimeStampLength = 5;
// The 4-bit prefixes of a time stamp field.
constexpr std::uint8_t PTSPrefix = 0x2, PTSBeforeDTSPrefix = 0x3, DTSPrefix = 0x1;

// A 5-byte time stamp field: pppp vvv1 | vvvvvvvv | vvvvvvv1 | vvvvvvvv |
// vvvvvvv1, the 33 value bits (32..0) above the marker bits. Prefix and
// markers are not checked on reading.
std::int64_t DecodeTimeStamp(const std::uint8_t* Field);
// Writes the low 33 bits of Value with Prefix and all marker bits set.
void EncodeTimeStamp(std::uint8_t* Field, std::uint8_t Prefix, std::int64_t Value);
// Replaces the 33 value bits of a field and keeps its prefix and marker bits
// as they stand, so that a patched stream differs only in its time stamps.
void PatchTimeStamp(std::uint8_t* Field, std::int64_t Value);

// Value reduced to the clock's range [0, 2^33).
constexpr std::int64_t ClockValue(std::int64_t Value)
{
    return ((Value % ClockWrap) + ClockWrap) % ClockWrap;
}
// The signed distance from From to To on the wrapping clock, in
// [-2^32, 2^32): time stamps either side of a wrap are close, not 26 hours apart.
constexpr std::int64_t ClockDistance(std::int64_t From, std::int64_t To)
{
    const std::int64_t D = ClockValue(To - From);
    return D >= ClockWrap / 2 ? D - ClockWrap : D;
}

// The SCR of a program stream's pack header (bytes 4-9) and an ESCR: two
// bits, then the 33-bit base and a 9-bit extension (27 MHz) between marker
// bits: 01vv v1vv | 8 | vvvvv1vv | 8 | vvvvv1ee | eeeeeee1.
constexpr std::uint32_t ProgramSCRLength = 6;
// The base, in ticks of the 90 kHz clock.
std::int64_t DecodeProgramSCR(const std::uint8_t* Field);
// Replaces the base and keeps every other bit, the extension included.
void PatchProgramSCR(std::uint8_t* Field, std::int64_t Value);

} // namespace vantrel
