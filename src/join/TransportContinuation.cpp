#include "join/TransportContinuation.h"

#include "mpeg/ts/TransportPacket.h"

#include <algorithm>
#include <cstring>

namespace vantrel {

void TPacketTail::Reset(std::uint16_t PacketSize)
{
    m_Size = PacketSize;
    m_Ring.assign(std::max<std::size_t>(m_Kept / PacketSize, 1) * PacketSize, 0);
    m_Next = m_Count = 0;
}

void TPacketTail::Add(const std::uint8_t* Packet)
{
    if (m_Ring.empty())
        Reset(m_Size);
    std::memcpy(&m_Ring[m_Next], Packet, m_Size);
    m_Next = (m_Next + m_Size) % m_Ring.size();
    m_Count = std::min(m_Count + 1, m_Ring.size() / m_Size);
}

std::vector<std::uint8_t> TPacketTail::Bytes() const
{
    const std::size_t Held = m_Count * m_Size;
    const std::size_t From = (m_Next + m_Ring.size() - Held) % std::max<std::size_t>(m_Ring.size(), 1);
    std::vector<std::uint8_t> Bytes(Held);
    if (Held == 0)
        return Bytes;
    // The oldest packets stand from From to the ring's end, the rest before.
    const std::size_t First = std::min(Held, m_Ring.size() - From);
    std::memcpy(Bytes.data(), m_Ring.data() + From, First);
    std::memcpy(Bytes.data() + First, m_Ring.data(), Held - First);
    return Bytes;
}

bool CompletesCutPacket(std::span<const std::uint8_t> Cut, std::int64_t First, std::uint16_t Size)
{
    const std::size_t Sync = SyncOffset(Size);
    return !Cut.empty() && Cut.size() < Size && static_cast<std::int64_t>(Cut.size()) + First == Size &&
           (Cut.size() <= Sync || Cut[Sync] == SyncByte);
}

namespace {

bool IsNullPacket(const std::uint8_t* Packet, std::uint16_t Size)
{
    const std::uint8_t* H = Packet + SyncOffset(Size);
    return PacketPID(H) == NullPID;
}

} // namespace

std::size_t RepeatedPackets(std::span<const std::uint8_t> Tail, std::span<const std::uint8_t> Cut,
                            std::span<const std::uint8_t> Head, std::uint16_t Size)
{
    const std::size_t Packets = Tail.size() / Size, HeadPackets = Head.size() / Size;
    for (std::size_t From = Packets > HeadPackets ? Packets - HeadPackets : 0;
         From + MinimumRepeat <= Packets; ++From) {
        const std::size_t Count = Packets - From;
        if (std::memcmp(&Tail[From * Size], Head.data(), Size) != 0 ||
            std::memcmp(&Tail[From * Size], Head.data(), Count * Size) != 0)
            continue;
        // The cut packet, when there is one, is the next one whole.
        if (!Cut.empty() &&
            (Count >= HeadPackets ||
             std::memcmp(&Head[Count * Size], Cut.data(), std::min<std::size_t>(Cut.size(), Size)) != 0))
            continue;
        std::size_t Content = 0;
        for (std::size_t I = 0; I < Count; ++I)
            Content += !IsNullPacket(&Head[I * Size], Size);
        if (Content >= MinimumRepeat)
            return Count;
    }
    return 0;
}

} // namespace vantrel
