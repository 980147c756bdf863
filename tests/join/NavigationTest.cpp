// A DVD's navigation packs as a later file's move makes them.
#include "join/Navigation.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using namespace test;

// Cell times: BCD hours, minutes, seconds and frames; the frame byte's top
// bits give the rate (01 25 fps, 11 30 fps).
TEST(DvdTime, MovesOnByTicksAtItsOwnRate)
{
    const struct
    {
        std::uint32_t Time;
        std::int64_t Ticks;
        std::uint32_t Moved;
    } Cases[] = {
        {0x00000040, 90000, 0x00000140},   // PAL 0:00:00.00 + 1 s
        {0x00005964, 3600, 0x00010040},    // PAL 0:00:59, frame 24 + a frame: a minute
        {0x00000040, 5400000, 0x00010040}, // + a minute
        {0x005959E9, 3000, 0x010000C0},    // NTSC 0:59:59 frame 29 + a frame (30 fps): an hour
        {0x000000C0, 90090, 0x000001C0},   // NTSC 1.001 s: a second and 0.03 frame
        {0x000000D5, 1500, 0x000000D5},    // NTSC 15 frames + half a frame: still 15
        {0x00000000, 90000, 0x00000000},   // no rate: none of ours to move
        {0x000A0040, 90000, 0x000A0040},   // not BCD
    };
    for (const auto& C : Cases) {
        std::uint8_t Time[4] = {static_cast<std::uint8_t>(C.Time >> 24),
                                static_cast<std::uint8_t>(C.Time >> 16),
                                static_cast<std::uint8_t>(C.Time >> 8), static_cast<std::uint8_t>(C.Time)};
        ShiftDvdTime(Time, C.Ticks);
        const std::uint32_t Got = (std::uint32_t{Time[0]} << 24) | (Time[1] << 16) | (Time[2] << 8) | Time[3];
        EXPECT_EQ(Got, C.Moved) << std::hex << C.Time << " + " << std::dec << C.Ticks;
    }
}

std::uint32_t Field(const TBytes& Packet, std::size_t At)
{
    return (std::uint32_t{Packet[At]} << 24) | (Packet[At + 1] << 16) | (Packet[At + 2] << 8) |
           Packet[At + 3];
}
TBytes Packet(std::uint8_t SubStream, std::initializer_list<std::pair<std::size_t, std::uint32_t>> Fields)
{
    TBytes Bytes = Filled(60, 0);
    Bytes[0] = SubStream;
    for (const auto& [At, V] : Fields)
        for (int I = 0; I < 4; ++I)
            Bytes[At + I] = static_cast<std::uint8_t>(V >> (24 - 8 * I));
    return Bytes;
}

// The pack's own clock and sector follow it into the output where the packet
// gave them (a VOB's first pack: 0 and 0); times left zero stay zero, the
// rest move with the file; addresses relative to the pack stay.
TEST(Navigation, APacksOwnClockAndSectorAreItsPlaceInTheOutput)
{
    // The output's one VOB runs from its first picture to the end of its last.
    const TNavigationMove Move{9000, 90000, 0, 267148, 0, 669, 48600, 3000000};
    TBytes DSI = Packet(1, {{1, 0}, {5, 0}, {9, 183}, {29, 0x40}, {45, 57600}, {49, 140280}});
    MoveNavigation(DSI.data(), DSI.size(), Move);
    EXPECT_EQ(Field(DSI, 1), 267148u);
    EXPECT_EQ(Field(DSI, 5), 669u);
    EXPECT_EQ(Field(DSI, 45), 48600u);
    EXPECT_EQ(Field(DSI, 49), 3000000u);
    EXPECT_EQ(Field(DSI, 9), 183u); // the VOBU's end, counted from the pack
    EXPECT_EQ(Field(DSI, 29), 0x140u);

    TBytes PCI = Packet(0, {{1, 0}, {13, 48600}, {17, 102600}, {21, 0}});
    MoveNavigation(PCI.data(), PCI.size(), Move);
    EXPECT_EQ(Field(PCI, 1), 669u);
    EXPECT_EQ(Field(PCI, 13), 57600u);
    EXPECT_EQ(Field(PCI, 17), 111600u);
    EXPECT_EQ(Field(PCI, 21), 0u);

    // A later pack: its clock moves as its header did; a sector the packet
    // does not give as the pack's own is not ours to set.
    TBytes Later = Packet(1, {{1, 46023}, {5, 34}});
    MoveNavigation(Later.data(), Later.size(), {9000, 90000, 46023, 313171, 34, 703, {}, {}});
    EXPECT_EQ(Field(Later, 1), 313171u);
    EXPECT_EQ(Field(Later, 5), 703u);
    TBytes Stranger = Packet(1, {{1, 100}, {5, 7}});
    MoveNavigation(Stranger.data(), Stranger.size(), {0, 0, 46023, 46123, 34, 703, {}, {}});
    EXPECT_EQ(Field(Stranger, 1), 200u);
    EXPECT_EQ(Field(Stranger, 5), 7u);
}

} // namespace
} // namespace vantrel
