// The pack layer of MPEG-1 system streams (ISO/IEC 11172-1, 2.4.3) and MPEG-2
// program streams (ISO/IEC 13818-1, 2.5.3): pack headers with their mux rate,
// the system header's bounds, and the stream ids only program streams use.
#pragma once

#include "mpeg/StartCodes.h"
#include "mpeg/TimeStamps.h"
#include <cstddef>
#include <cstdint>

namespace vantrel {

// Pack header: 00 00 01 BA, the SCR as a time stamp field with prefix '0010'
// (bytes 4-8), then marker, 22-bit mux rate in units of 50 bytes/s, marker
// (bytes 9-11).
constexpr std::uint32_t PackHeaderLength = 12;
constexpr std::uint32_t SCRFieldOffset = 4;
constexpr std::uint32_t MuxRateOffset = 9;
// An MPEG-2 program stream's pack header (ISO/IEC 13818-1, 2.5.3.3): 14 bytes
// and up to 7 of stuffing.
constexpr std::uint32_t ProgramPackHeaderLength = 14;
// Program stream packets without a PES header of their own (besides the
// padding and private stream 2 above).
constexpr std::uint8_t ProgramStreamMap = 0xBC;
constexpr std::uint8_t ProgramStreamDirectory = 0xFF;
// The 22-bit mux rate of a program stream's pack header (bytes 10-12).
constexpr std::uint32_t DecodeProgramMuxRate(const std::uint8_t* Header)
{
    return (std::uint32_t{Header[10]} << 14) | (Header[11] << 6) | (Header[12] >> 2);
}
void PatchProgramMuxRate(std::uint8_t* Header, std::uint32_t MuxRate);

// The 22-bit mux rate of a pack header (its bytes 9-11).
constexpr std::uint32_t DecodeMuxRate(const std::uint8_t* Bytes)
{
    return (((Bytes[0] & 0x7Fu) << 16) | (Bytes[1] << 8) | Bytes[2]) >> 1;
}
// Writes MuxRate (22 bits) into the pack header that starts at Header.
void PatchMuxRate(std::uint8_t* Header, std::uint32_t MuxRate);
// Clock ticks that Bytes take to arrive at MuxRate (units of 50 bytes/s),
// rounded up; 0 for a rate of 0, which says nothing.
constexpr std::int64_t ArrivalTicks(std::int64_t Bytes, std::uint32_t MuxRate)
{
    if (MuxRate == 0 || Bytes <= 0)
        return 0;
    const std::int64_t Rate = std::int64_t{MuxRate} * 50;
    return (Bytes * ClockRate + Rate - 1) / Rate;
}
// When a pack starts: at its own clock, unless the channel is still busy
// with the packs before it until Free. A pack within a tick of Free keeps its
// clock: the 90 kHz clock cannot tell more exactly where the bytes before it
// end, and muxers round down there (a DVD's 2048 bytes at 10.08 Mbit/s take
// 146.3 ticks, and packs come 146 ticks apart).
constexpr std::int64_t PackStart(std::int64_t Own, std::int64_t Free)
{
    return Own + 1 >= Free ? Own : Free;
}

// The system header (11172-1, 2.4.3.2): bytes 6-8 marker, 22-bit rate bound,
// marker; byte 9 audio bound (6 bits), fixed and CSPS flags; byte 10 audio and
// video lock flags, marker, video bound (5 bits); byte 11 reserved; then 3 bytes
// a stream: stream id, '11', STD buffer bound scale, 13-bit buffer size bound
// (units of 128 bytes for scale 0, 1024 for scale 1).
//
// Raises the bounds of the system header Kept (a whole packet) to cover what
// Other promises and a mux rate of MuxRate: the rate bound, the audio and video
// bounds and the buffer bound of every stream that both list. Nothing moves:
// the header keeps its length. True when a byte changed.
bool RaiseSystemHeaderBounds(std::uint8_t* Kept, std::size_t KeptLength, const std::uint8_t* Other,
                             std::size_t OtherLength, std::uint32_t MuxRate);
// The buffer size bound in bytes that the system header H (a whole packet)
// gives StreamId, by its own entry or that for all audio (0xB8) or all video
// (0xB9) streams; 0 when it gives none.
std::uint32_t SystemHeaderBufferBound(const std::uint8_t* H, std::size_t Length, std::uint8_t StreamId);

} // namespace vantrel
