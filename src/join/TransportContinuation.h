// Where a piece of a transport stream recording goes on from the piece
// before it, however the recorder cut it: the packet the cut left
// incomplete is completed by the next piece's first bytes, and a piece that
// begins by repeating the last packets of the one before (recorders that
// repeat the last tens of KiB of a piece) has its repeat left out, so that
// the pieces join back to the recording they were.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vantrel {

// The last whole packets of a file as it was read, up to KeptBytes of them.
class TPacketTail
{
public:
    explicit TPacketTail(std::size_t KeptBytes = 2 << 20) : m_Kept(KeptBytes) {}
    void Reset(std::uint16_t PacketSize);
    void Add(const std::uint8_t* Packet);
    // The packets in the order they came.
    std::vector<std::uint8_t> Bytes() const;
    std::uint16_t PacketSize() const { return m_Size; }

private:
    std::size_t m_Kept;
    std::uint16_t m_Size = 188;
    std::vector<std::uint8_t> m_Ring; // a whole number of packets
    std::size_t m_Next = 0, m_Count = 0;
};

// The bytes a next file's start (Head, from its first byte) gives the packet
// of Size bytes that Cut (what the file before ended with after its last
// whole packet) began: when the next file's first whole packet (First,
// where its sync bytes run from) stands exactly where the cut packet ends,
// and Cut starts as a packet does. Nothing else completes it.
bool CompletesCutPacket(std::span<const std::uint8_t> Cut, std::int64_t First, std::uint16_t Size);

// How many of Head's packets (the next file's whole packets, from its first
// one) repeat the last packets of Tail (whole packets of the file before),
// those Cut began as well: the longest run that ends Tail and starts Head,
// of at least MinimumRepeat packets that are not null packets (stuffing
// alike from file to file), and the packet after it completing Cut when
// there is one. 0 when there is none.
std::size_t RepeatedPackets(std::span<const std::uint8_t> Tail, std::span<const std::uint8_t> Cut,
                            std::span<const std::uint8_t> Head, std::uint16_t Size);
constexpr std::size_t MinimumRepeat = 2;

} // namespace vantrel
