// A system stream's packets and fields read straight from its bytes, as the
// standards lay them out, for the suite's own checks.
#pragma once

#include "TestSupport.h"

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace vantrel::test {

// The packets of a system stream held in memory, found without the reader:
// each start code with a code of 0xBA or more, its length taken from the
// standard (12 for a pack header, else 6 + the length field). Bytes between
// packets are left out; a packet cut by the end of the file ends the list.
std::vector<TBytes> SplitPackets(const TBytes& File);
// Where each of those packets starts in the file.
std::vector<std::size_t> PacketOffsets(const TBytes& File);

// An MPEG-2 pack header at Pos (ISO/IEC 13818-1, 2.5.3.3): '01' where MPEG-1 has '0010'.
bool IsProgramPack(const TBytes& File, std::size_t Pos);
// 12 for a pack header (14 and its stuffing in MPEG-2), else 6 + the length
// field; the caller has checked that the six bytes are there.
std::size_t PacketLengthAt(const TBytes& File, std::size_t Pos);
// The 33-bit time stamp of the five bytes at F.
std::int64_t StampAt(const std::uint8_t* F);
// -2^32 .. 2^32: time stamps either side of the 33-bit wrap are close.
std::int64_t StampDistance(std::int64_t From, std::int64_t To);
// The SCR and mux rate of the pack header at Pos, in either layout.
std::int64_t PackSCR(const TBytes& File, std::size_t Pos);
std::uint32_t PackMuxRate(const TBytes& File, std::size_t Pos);
// An MPEG-2 PES header at Pos (ISO/IEC 13818-1, 2.4.3.7): '10' and flags.
bool IsProgramPES(const TBytes& File, std::size_t Pos);
// Where an MPEG-2 PES packet's payload starts, and the P-STD buffer size of
// its extension (0 without one).
std::pair<std::size_t, std::int64_t> ProgramPayload(const TBytes& File, std::size_t Pos);
// PTS and DTS of the PES packet at Pos (of an audio or video stream), as
// ISO/IEC 11172-1 2.4.3.3 (or 13818-1 2.4.3.7) lays them out.
std::pair<std::optional<std::int64_t>, std::optional<std::int64_t>> PacketStamps(const TBytes& File,
                                                                                 std::size_t Pos);

} // namespace vantrel::test
