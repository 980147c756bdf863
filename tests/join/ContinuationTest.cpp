// Whether a later file is the rest of the recording the output stops in.
#include "join/Continuation.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using namespace test;

// The output's channel is free at 100000; its video stopped at 96400, its
// sound at 97000 (25 fps: a frame is 3600 ticks).
TEST(ClockContinues, WhenTheClockAndEveryStreamGoOn)
{
    const std::map<std::uint16_t, std::int64_t> Last = {{0xE0, 96400}, {0xC0, 97000}};
    const struct
    {
        std::optional<std::int64_t> SCR;
        std::map<std::uint16_t, std::int64_t> First;
        bool Continues;
        const char* Why;
    } Cases[] = {
        {100000, {{0xE0, 100000}, {0xC0, 99350}}, true, "both go on"},
        {100000 - 3600, {{0xE0, 100000}}, true, "a frame early: rounding"},
        {100000 - 3601, {{0xE0, 100000}}, false, "more than a frame early"},
        {100000 + 90000, {{0xE0, 100000}}, true, "a second later: a muxer that waited"},
        {100000 + 90001, {{0xE0, 100000}}, false, "more than a second later"},
        {100000, {{0xE0, 100000}, {0xC0, 97000}}, false, "the sound repeats its last stamp"},
        {100000, {{0xE0, 100000}, {0xC0, 97000 + 90001}}, false, "the sound jumps"},
        {100000, {{0xE0, 100000}, {0xC1, 99350}}, false, "a stream the recording did not have"},
        {100000, {}, false, "no stamps"},
        {std::nullopt, {{0xE0, 100000}}, false, "no pack"},
    };
    for (const auto& C : Cases)
        EXPECT_EQ(ClockContinues(C.SCR, C.First, Last, 100000, 3600), C.Continues) << C.Why;
}

// A packet cut by the end of a file goes on in the next when that file begins
// with exactly the bytes it lacks, then (zeros and) another packet.
TEST(CutPacketRemainder, IsExactlyWhatThePacketLacks)
{
    const TBytes Video = PESPacket(0xE0, {0x0F}, Filled(100, 0xA1)); // 107 bytes
    const TBytes Program = {0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1, 0x01, 0x89, 0xC3, 0xFA, 0xFF, 0xFF}; // 16
    const TBytes Mpeg1 = PackHeader(1000, 2000);                                                     // 12
    const TBytes NextPack = PackHeader(2000, 2000);
    const auto Cut = [](const TBytes& Packet, std::size_t At, const TBytes& After) {
        return std::pair{
            TBytes(Packet.begin(), Packet.begin() + static_cast<std::ptrdiff_t>(At)),
            Concat({TBytes(Packet.begin() + static_cast<std::ptrdiff_t>(At), Packet.end()), After})};
    };
    const struct
    {
        TBytes Packet;
        std::size_t At;
        TBytes After;
        bool Whole;
        std::optional<std::size_t> Rest;
        const char* Why;
    } Cases[] = {
        {Video, 50, NextPack, false, 57, "a PES packet, then a pack"},
        {Video, 4, NextPack, false, 103, "before its length"},
        {Video, 50, Concat({Filled(20, 0), NextPack}), false, 57, "zeros of a sector, then a pack"},
        {Video, 50, {}, true, 57, "the recording's end"},
        {Video, 50, {}, false, std::nullopt, "a head too short to tell"},
        {Program, 7, NextPack, false, 9, "7 bytes into an MPEG-2 pack header, its stuffing told later"},
        {Mpeg1, 7, Video, false, 5, "7 bytes into an MPEG-1 pack header"},
        {Video, 50, Concat({{0x55}, NextPack}), false, std::nullopt, "a byte too many"},
    };
    for (const auto& C : Cases) {
        const auto [Tail, Head] = Cut(C.Packet, C.At, C.After);
        EXPECT_EQ(CutPacketRemainder(Tail, Head, C.Whole), C.Rest) << C.Why;
    }
    // The piece that follows lost its first 1000 bytes, or is another clip
    // that starts with a pack of its own: nothing it holds completes the packet.
    const TBytes Long = PESPacket(0xE0, {0x0F}, Filled(3000, 0xA1));
    const TBytes Lost = Concat({TBytes(Long.begin() + 1500, Long.end()), NextPack});
    EXPECT_EQ(CutPacketRemainder(TBytes(Long.begin(), Long.begin() + 500), Lost, false), std::nullopt);
    EXPECT_EQ(CutPacketRemainder(TBytes(Video.begin(), Video.begin() + 50), Concat({NextPack, Video}), false),
              std::nullopt);
    // Junk, then a pack where the rest would stand: the pack is the next
    // file's own.
    const TBytes JunkThenPack = Concat({Filled(20, 0xA3), Mpeg1, Filled(25, 0xA4), NextPack});
    EXPECT_EQ(CutPacketRemainder(TBytes(Video.begin(), Video.begin() + 50), JunkThenPack, false),
              std::nullopt);
}

} // namespace
} // namespace vantrel
