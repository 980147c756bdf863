#include "StreamBytes.h"

namespace vantrel::test {

// An MPEG-2 pack header (ISO/IEC 13818-1, 2.5.3.3): '01' where MPEG-1 has '0010'.
bool IsProgramPack(const TBytes& File, std::size_t Pos)
{
    return Pos + 14 <= File.size() && (File[Pos + 4] & 0xC0) == 0x40;
}
// 12 for a pack header (14 and its stuffing in MPEG-2), else 6 + the length
// field; the caller has checked that the six bytes are there.
std::size_t PacketLengthAt(const TBytes& File, std::size_t Pos)
{
    if (File[Pos + 3] == 0xBA)
        return IsProgramPack(File, Pos) ? 14 + (File[Pos + 13] & 7) : 12;
    return 6 + ((File[Pos + 4] << 8) | File[Pos + 5]);
}

std::vector<std::size_t> PacketOffsets(const TBytes& File)
{
    std::vector<std::size_t> Offsets;
    std::size_t Pos = 0;
    while (Pos + 4 <= File.size()) {
        if (!(File[Pos] == 0 && File[Pos + 1] == 0 && File[Pos + 2] == 1 && File[Pos + 3] >= 0xBA)) {
            ++Pos;
            continue;
        }
        if (File[Pos + 3] != 0xBA && Pos + 6 > File.size())
            break;
        const std::size_t Length = PacketLengthAt(File, Pos);
        if (Pos + Length > File.size())
            break;
        Offsets.push_back(Pos);
        Pos += Length;
    }
    return Offsets;
}

std::vector<TBytes> SplitPackets(const TBytes& File)
{
    std::vector<TBytes> Packets;
    for (std::size_t Offset : PacketOffsets(File)) {
        Packets.emplace_back(File.begin() + static_cast<std::ptrdiff_t>(Offset),
                             File.begin() +
                                 static_cast<std::ptrdiff_t>(Offset + PacketLengthAt(File, Offset)));
    }
    return Packets;
}

std::int64_t StampAt(const std::uint8_t* F)
{
    return (std::int64_t((F[0] >> 1) & 7) << 30) | (std::int64_t(((F[1] << 8) | F[2]) >> 1) << 15) |
           (((F[3] << 8) | F[4]) >> 1);
}

// -2^32 .. 2^32: time stamps either side of the 33-bit wrap are close.
std::int64_t StampDistance(std::int64_t From, std::int64_t To)
{
    const std::int64_t Wrap = std::int64_t{1} << 33;
    const std::int64_t D = ((To - From) % Wrap + Wrap) % Wrap;
    return D >= Wrap / 2 ? D - Wrap : D;
}

// The SCR and mux rate of the pack header at Pos, in either layout.
std::int64_t PackSCR(const TBytes& File, std::size_t Pos)
{
    if (!IsProgramPack(File, Pos))
        return StampAt(&File[Pos + 4]);
    const std::uint8_t* F = &File[Pos + 4];
    return (std::int64_t((F[0] >> 3) & 7) << 30) | (std::int64_t(F[0] & 3) << 28) |
           (std::int64_t(F[1]) << 20) | (std::int64_t(F[2] >> 3) << 15) | (std::int64_t(F[2] & 3) << 13) |
           (F[3] << 5) | (F[4] >> 3);
}
std::uint32_t PackMuxRate(const TBytes& File, std::size_t Pos)
{
    if (IsProgramPack(File, Pos))
        return (std::uint32_t(File[Pos + 10]) << 14) | (File[Pos + 11] << 6) | (File[Pos + 12] >> 2);
    return (((File[Pos + 9] & 0x7Fu) << 16) | (File[Pos + 10] << 8) | File[Pos + 11]) >> 1;
}

// An MPEG-2 PES header at Pos (ISO/IEC 13818-1, 2.4.3.7): '10' and flags.
bool IsProgramPES(const TBytes& File, std::size_t Pos)
{
    return Pos + 9 <= File.size() && (File[Pos + 6] & 0xC0) == 0x80;
}
// Where an MPEG-2 PES packet's payload starts, and the P-STD buffer size of
// its extension (0 without one).
std::pair<std::size_t, std::int64_t> ProgramPayload(const TBytes& File, std::size_t Pos)
{
    const std::uint8_t Flags = File[Pos + 7];
    std::size_t P = Pos + 9 + ((Flags & 0x80) ? 5 : 0) + ((Flags & 0x40) ? 5 : 0) + ((Flags & 0x20) ? 6 : 0) +
                    ((Flags & 0x10) ? 3 : 0) + ((Flags & 0x08) ? 1 : 0) + ((Flags & 0x04) ? 1 : 0) +
                    ((Flags & 0x02) ? 2 : 0);
    std::int64_t Size = 0;
    if ((Flags & 0x01) && P < File.size()) {
        const std::uint8_t Ext = File[P++];
        P += ((Ext & 0x80) ? 16 : 0);
        if ((Ext & 0x40) && P < File.size())
            P += 1 + File[P];
        P += (Ext & 0x20) ? 2 : 0;
        if ((Ext & 0x10) && P + 2 <= File.size())
            Size = (((File[P] & 0x1F) << 8) | File[P + 1]) * ((File[P] & 0x20) ? 1024 : 128);
    }
    return {Pos + 9 + File[Pos + 8], Size};
}

// PTS and DTS of the PES packet at Pos (of an audio or video stream), as
// ISO/IEC 11172-1 2.4.3.3 (or 13818-1 2.4.3.7) lays them out.
std::pair<std::optional<std::int64_t>, std::optional<std::int64_t>> PacketStamps(const TBytes& File,
                                                                                 std::size_t Pos)
{
    if (IsProgramPES(File, Pos)) {
        const std::uint8_t Flags = File[Pos + 7];
        if ((Flags & 0xC0) == 0xC0 && Pos + 19 <= File.size())
            return {StampAt(&File[Pos + 9]), StampAt(&File[Pos + 14])};
        if ((Flags & 0x80) && Pos + 14 <= File.size())
            return {StampAt(&File[Pos + 9]), std::nullopt};
        return {};
    }
    std::size_t P = Pos + 6;
    while (P < File.size() && File[P] == 0xFF)
        ++P;
    if (P < File.size() && (File[P] & 0xC0) == 0x40)
        P += 2;
    if (P + 10 <= File.size() && (File[P] >> 4) == 3)
        return {StampAt(&File[P]), StampAt(&File[P + 5])};
    if (P + 5 <= File.size() && (File[P] >> 4) == 2)
        return {StampAt(&File[P]), std::nullopt};
    return {};
}

} // namespace vantrel::test
