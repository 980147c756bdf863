#include "join/Navigation.h"

#include "mpeg/TimeStamps.h"

#include <initializer_list>

namespace vantrel {

namespace {

// The fields of a navigation packet are big-endian.
std::uint32_t Word32(const std::uint8_t* At)
{
    return (std::uint32_t{At[0]} << 24) | (At[1] << 16) | (At[2] << 8) | At[3];
}
void PutWord32(std::uint8_t* At, std::uint32_t Value)
{
    At[0] = static_cast<std::uint8_t>(Value >> 24);
    At[1] = static_cast<std::uint8_t>(Value >> 16);
    At[2] = static_cast<std::uint8_t>(Value >> 8);
    At[3] = static_cast<std::uint8_t>(Value);
}

// PCI_GI: NV_PCK_LBN 1, VOBU_CAT 5, VOBU_UOP_CTL 9, VOBU_S_PTM 13,
// VOBU_E_PTM 17, VOBU_SE_E_PTM 21, C_ELTM 25 (from the sub-stream byte).
constexpr std::size_t PCISector = 1, PCIStartTime = 13, PCIEndTime = 17, PCISequenceEndTime = 21,
                      PCIElapsed = 25;
// DSI_GI: NV_PCK_SCR 1, NV_PCK_LBN 5, VOBU_EA 9, the reference picture ends
// 13-24, VOBU_VOB_IDN 25, VOBU_C_IDN 28, C_ELTM 29.
constexpr std::size_t DSIClock = 1, DSISector = 5, DSIElapsed = 29;
// SML_PBI, after DSI_GI's 32 bytes: category 33, ILVU end and next 35-44,
// VOB_V_S_PTM 45, VOB_V_E_PTM 49.
constexpr std::size_t DSIVobStart = 45, DSIVobEnd = 49;

} // namespace

void ShiftDvdTime(std::uint8_t* Time, std::int64_t Ticks)
{
    const int Rate = (Time[3] >> 6) == 1 ? 25 : (Time[3] >> 6) == 3 ? 30 : 0;
    const auto Bcd = [](std::uint8_t B) { return (B >> 4) * 10 + (B & 0x0F); };
    const auto IsBcd = [](std::uint8_t B) { return (B >> 4) < 10 && (B & 0x0F) < 10; };
    if (Rate == 0 || !IsBcd(Time[0]) || !IsBcd(Time[1]) || !IsBcd(Time[2]) || !IsBcd(Time[3] & 0x3F))
        return;
    const std::int64_t Seconds = (Bcd(Time[0]) * 60 + Bcd(Time[1])) * 60 + Bcd(Time[2]);
    const std::int64_t At = Seconds * ClockRate + Bcd(Time[3] & 0x3F) * ClockRate / Rate + Ticks;
    if (At < 0)
        return;
    const std::int64_t NewSeconds = At / ClockRate, Frames = At % ClockRate * Rate / ClockRate;
    const auto ToBcd = [](std::int64_t V) { return static_cast<std::uint8_t>((V / 10 % 10) << 4 | V % 10); };
    Time[0] = ToBcd(NewSeconds / 3600 % 100);
    Time[1] = ToBcd(NewSeconds / 60 % 60);
    Time[2] = ToBcd(NewSeconds % 60);
    Time[3] = static_cast<std::uint8_t>((Time[3] & 0xC0) | ToBcd(Frames));
}

void MoveNavigation(std::uint8_t* Payload, std::size_t Length, const TNavigationMove& Move)
{
    const auto Shift = [&](std::size_t At, std::int64_t Ticks) {
        if (const std::uint32_t Raw = Word32(Payload + At))
            PutWord32(Payload + At, static_cast<std::uint32_t>((Raw + Ticks) & 0xFFFFFFFF));
    };
    const auto Elapsed = [&](std::size_t At) {
        if (Move.ElapsedShift && Word32(Payload + At))
            ShiftDvdTime(Payload + At, Move.ElapsedShift);
    };
    // The pack's own sector, where the packet said it.
    const auto Sector = [&](std::size_t At) {
        if (Move.InputSector >= 0 && Move.OutputSector >= 0 && Word32(Payload + At) == Move.InputSector)
            PutWord32(Payload + At, static_cast<std::uint32_t>(Move.OutputSector));
    };
    if (Length > PCIElapsed + 4 && Payload[0] == 0) {
        Sector(PCISector);
        for (const std::size_t At : {PCIStartTime, PCIEndTime, PCISequenceEndTime})
            Shift(At, Move.StampShift);
        Elapsed(PCIElapsed);
    } else if (Length > DSIVobEnd + 4 && Payload[0] == 1) {
        // The pack's clock where it was the pack's own (0 in a VOB's first
        // pack), else moved as the pack's header was.
        const std::uint32_t Clock = Word32(Payload + DSIClock);
        if (Clock == static_cast<std::uint32_t>(Move.InputSCR))
            PutWord32(Payload + DSIClock, static_cast<std::uint32_t>(ClockValue(Move.OutputSCR)));
        else
            Shift(DSIClock, Move.OutputSCR - Move.InputSCR);
        Sector(DSISector);
        Elapsed(DSIElapsed);
        // The output is one VOB: its range is the output's, where the
        // packet gave one.
        const auto Range = [&](std::size_t At, std::optional<std::int64_t> Time) {
            if (Time && Word32(Payload + At))
                PutWord32(Payload + At, static_cast<std::uint32_t>(ClockValue(*Time) & 0xFFFFFFFF));
        };
        Range(DSIVobStart, Move.VobStart);
        Range(DSIVobEnd, Move.VobEnd);
    }
}

} // namespace vantrel
