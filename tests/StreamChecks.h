// Checks of a system stream made from its bytes and the standards alone,
// without the reader or the joiner under test: its packets, its clock, the
// decoder's buffers and a DVD's navigation packs.
#pragma once

#include "DecoderModelCheck.h"
#include "StreamBytes.h"
#include "TestSupport.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace vantrel::test {

// How a stream's system clock treats its packets, worked out here from the
// bytes and the standard, not with the reader: a packet's last byte arrives
// at its pack's SCR + (bytes from the pack's start to the packet's end) x
// 90000 / (mux rate x 50), and must not arrive after its DTS (its PTS when it
// has no DTS). Every pack's SCR must lie after the one before.
struct TClockCheck
{
    int Stamped = 0;      // audio and video packets with a time stamp
    int Late = 0;         // of those, arriving after their decode time
    double WorstLate = 0; // seconds
    int SCRNotIncreasing = 0;
    std::vector<std::size_t> PackSizes; // bytes from each pack header to the next
    std::set<std::uint32_t> MuxRates;
};
TClockCheck CheckClock(const TBytes& File);

// What a DVD's navigation packs say of their times that the stream does not
// bear out: a presentation control packet's VOBU start time that is not
// the earliest video PTS of its VOBU (the packs up to the next navigation
// pack), an end time not after it; a search information packet's SCR that
// is not its pack's, or, once authored, a sector that is not its own; a
// cell elapsed time that goes back. Times left zero
// (a muxer that leaves them to an authoring tool) are passed over. Count:
// the navigation packs with times.
struct TNavigationCheck
{
    int Count = 0;
    std::string Faults;
};
TNavigationCheck CheckNavigation(const TBytes& File);

// The time stamps a packet of a stream id carries, in file order, 33-bit.
std::vector<std::int64_t> StampsOf(const TBytes& File, std::uint8_t StreamId, bool Decode);

// Whether Output holds every packet of Inputs (joined in that order), each
// once and in order, changed only where a join may change it: a pack
// header's clock and rate; a PES header's stamps (its length and layout
// stay); a DVD navigation packet's times and addresses; a later file's
// system header, kept with raised bounds or turned into a padding packet of
// its length; in the video, a group's broken link flag and sequence end
// codes blanked to zeros; and every stamp (PTS, DTS) of a file moves by the
// one offset of its file. A pack may be left out whole only when it holds
// nothing but padding and system headers. Packets cut by a file's end are
// not counted. Faults: the first place where the output differs, empty
// when it holds.
struct TPacketsKept
{
    int Packets = 0;      // of the inputs, counted as kept
    int DroppedPacks = 0; // packs of padding left out
    std::string Faults;
};
TPacketsKept CheckPacketsKept(const std::vector<TBytes>& Inputs, const TBytes& Output);

} // namespace vantrel::test
