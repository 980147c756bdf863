// A DVD's navigation packs moved with their file: the presentation control
// packet (PCI, sub-stream 0 of private stream 2) and the search information
// packet (DSI, sub-stream 1), whose times and addresses speak of the file
// they stand in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace vantrel {

// How the pack that holds the navigation packets moved, and its file.
struct TNavigationMove
{
    std::int64_t StampShift = 0;   // ticks the file's time stamps moved
    std::int64_t ElapsedShift = 0; // ticks the file's cells start later in the output
    // The pack's clock (90 kHz base) in its file and as written.
    std::int64_t InputSCR = 0, OutputSCR = 0;
    // The pack's 2048-byte sector in its file and in the output; -1 where
    // the packs stand off the sector grid.
    std::int64_t InputSector = -1, OutputSector = -1;
    // The output's first picture and where its last picture ends, on the
    // output's clock: the range of the one VOB the output is.
    std::optional<std::int64_t> VobStart, VobEnd;
};

// Moves the fields of the navigation packet Payload (its sub-stream byte
// first) that speak of times and of the pack's own place: PCI's VOBU start,
// end and sequence end times and its cell time; DSI's pack clock, cell
// time and VOB range; both packets' own sector. A time left zero (a muxer that leaves it to
// an authoring tool) says nothing and stays zero; the pack's clock and sector
// are written where they were the pack's own (a first VOBU's are 0).
// Addresses relative to the pack (the VOBU's end, reference pictures, the
// search table) stay as they are.
void MoveNavigation(std::uint8_t* Payload, std::size_t Length, const TNavigationMove& Move);

// A DVD time (BCD hours, minutes, seconds and frames; the frame byte's top
// bits give the rate: 01 25 fps, 11 30 fps) moved on by Ticks of the 90 kHz
// clock. A time of another rate, or not in BCD, stays as it is.
void ShiftDvdTime(std::uint8_t* Time, std::int64_t Ticks);

} // namespace vantrel
