#include "mpeg/ts/TransportStreamReader.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace vantrel {

namespace {

constexpr std::uint32_t ScanChunk = 64 * 1024;
// What a run of sync bytes needs beyond its first: LayoutPackets - 1
// packets of the largest size.
constexpr std::uint32_t RunReach = (LayoutPackets - 1) * 204 + 1;
constexpr std::uint32_t BlockBytes = 192 * 1024;

// How many of Wanted packets of Size in a row have their sync byte where it
// belongs, the first at Data[0]; Available bytes from there.
int SyncRun(const std::uint8_t* Data, std::size_t Available, std::uint16_t Size, int Wanted)
{
    int Run = 0;
    for (std::size_t At = 0; Run < Wanted && At < Available && Data[At] == SyncByte; At += Size)
        ++Run;
    return Run;
}

} // namespace

std::optional<TPacketLayout> FindPacketLayout(TByteSource& Source, std::int64_t From, std::int64_t Limit,
                                              int MinimumPackets,
                                              const std::function<bool(std::int64_t)>& Progress)
{
    std::vector<std::uint8_t> Chunk(ScanChunk + RunReach);
    const std::int64_t Size = Source.Size();
    const std::int64_t Last = Limit < 0 ? Size : std::min(Size, From + Limit);
    std::int64_t NextReport = From + TTransportStreamReader::ScanReportBytes;
    for (std::int64_t At = std::max<std::int64_t>(From, 0); At < Last; At += ScanChunk) {
        const std::uint32_t N = Source.Read(Chunk.data(), static_cast<std::uint32_t>(Chunk.size()), At);
        const std::size_t Scan = std::min<std::int64_t>({N, ScanChunk, Last - At});
        for (std::size_t I = 0; I < Scan; ++I) {
            const auto* Sync = static_cast<const std::uint8_t*>(std::memchr(&Chunk[I], SyncByte, Scan - I));
            if (!Sync)
                break;
            I = static_cast<std::size_t>(Sync - Chunk.data());
            const std::int64_t Q = At + static_cast<std::int64_t>(I);
            for (const std::uint16_t PacketSize : TransportPacketSizes) {
                const std::int64_t Start = Q - SyncOffset(PacketSize);
                const std::int64_t Whole = (Size - Start) / PacketSize;
                const int Wanted = static_cast<int>(std::min<std::int64_t>(LayoutPackets, Whole));
                if (Wanted < MinimumPackets || SyncRun(Sync, N - I, PacketSize, Wanted) < Wanted)
                    continue;
                return TPacketLayout{PacketSize, Start >= From ? Start : Start + PacketSize};
            }
        }
        if (Progress && At + ScanChunk >= NextReport) {
            NextReport += TTransportStreamReader::ScanReportBytes;
            if (Progress(At + ScanChunk))
                return std::nullopt;
        }
    }
    return std::nullopt;
}

bool TTransportStreamReader::Open(TByteSource& Source, std::int64_t From, std::int64_t Limit)
{
    const std::optional<TPacketLayout> Layout = FindPacketLayout(Source, From, Limit);
    if (!Layout)
        return false;
    Open(Source, *Layout);
    m_Junk = Layout->First - From;
    return true;
}

void TTransportStreamReader::Open(TByteSource& Source, const TPacketLayout& Layout)
{
    m_Source = &Source;
    m_Size = Layout.Size;
    m_Next = Layout.First;
    m_Junk = m_Resyncs = 0;
    m_BlockCount = 0;
    m_Bytes = nullptr;
    m_Block.resize(BlockBytes);
}

const std::uint8_t* TTransportStreamReader::Load(std::int64_t Position)
{
    // The packet and the next one's sync byte, where the source holds it.
    const std::int64_t Want =
        std::min<std::int64_t>(m_Size + SyncOffset(m_Size) + 1, m_Source->Size() - Position);
    if (Want < m_Size)
        return nullptr;
    if (Position >= m_BlockAt && Position - m_BlockAt + Want <= m_BlockCount)
        return m_Block.data() + (Position - m_BlockAt);
    m_BlockAt = Position;
    m_BlockCount = m_Source->Read(m_Block.data(), BlockBytes, Position);
    return m_BlockCount >= m_Size ? m_Block.data() : nullptr;
}

bool TTransportStreamReader::NextSyncHolds(const std::uint8_t* Bytes) const
{
    const std::int64_t Next = m_Next + m_Size + SyncOffset(m_Size);
    if (Next >= m_BlockAt + m_BlockCount)
        return true; // the source ends before it
    return Bytes[m_Size + SyncOffset(m_Size)] == SyncByte;
}

bool TTransportStreamReader::Resync()
{
    // One packet is enough at the very end of the source: a junk run
    // before the last packet must not lose it.
    const std::optional<TPacketLayout> Layout = FindPacketLayout(*m_Source, m_Next, -1, 1, ScanProgress);
    if (!Layout)
        return false;
    m_Junk += Layout->First - m_Next;
    m_Size = Layout->Size;
    m_Next = Layout->First;
    ++m_Resyncs;
    return true;
}

bool TTransportStreamReader::NextPacket()
{
    m_Junk = 0;
    for (int Tries = 0; Tries < 2; ++Tries) {
        const std::uint8_t* Bytes = Load(m_Next);
        if (!Bytes)
            return false;
        // A sync byte alone may be junk's: a packet is one when the next
        // one's sync byte follows it too (or the source ends first).
        if (NextSyncHolds(Bytes) && DecodeTransportPacket(Bytes, m_Size, m_Next, m_Packet)) {
            m_Bytes = Bytes;
            m_Next += m_Size;
            return true;
        }
        if (Tries == 0 && !Resync())
            return false;
    }
    return false;
}

std::vector<std::uint8_t> TTransportStreamReader::PeekPayload(std::uint16_t PID, std::size_t Count,
                                                              std::int64_t After, std::uint16_t Size,
                                                              bool Sections, std::int64_t Within) const
{
    std::vector<std::uint8_t> Bytes;
    std::array<std::uint8_t, TransportPacketLength + ParityLength> Packet;
    for (std::int64_t At = After;
         Bytes.size() < Count && At - After < Within && At + Size <= m_Source->Size(); At += Size) {
        TTransportPacket P;
        const std::uint8_t* Read = Buffered(At, Size);
        if (!Read && m_Source->Read(Packet.data(), Size, At) == Size)
            Read = Packet.data();
        if (!Read || !DecodeTransportPacket(Read, Size, At, P))
            break;
        if (P.PID != PID || !P.HasPayload || P.PayloadLength == 0)
            continue;
        const std::uint8_t* Data = Read + P.PayloadOffset;
        std::size_t Length = P.PayloadLength;
        if (Sections && P.PayloadUnitStart)
            ++Data, --Length;
        Bytes.insert(Bytes.end(), Data, Data + std::min(Length, Count - Bytes.size()));
    }
    return Bytes;
}

} // namespace vantrel
