// Walking a transport stream packet by packet: the packet size found from
// the sync bytes (188, 192 with the arrival stamp in front, 204 with the
// parity bytes after), the sync found again after junk, each packet's bytes
// handed out whole with their decoded fields.
#pragma once

#include "io/ByteSource.h"
#include "mpeg/ts/TransportPacket.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace vantrel {

// Where the packets stand: their size and the first whole packet.
struct TPacketLayout
{
    std::uint16_t Size = TransportPacketLength;
    std::int64_t First = 0;
};

// The sync bytes of this many packets in a row make a layout, or of every
// whole packet up to the source's end when fewer are left.
constexpr int LayoutPackets = 8;

// The first layout whose sync byte stands at or after From and within Limit
// bytes of it (negative: no limit): LayoutPackets packets of one size in a
// row, or as many as the source still holds but at least MinimumPackets. A
// 192-byte packet whose arrival stamp lies before From is not whole: the
// layout then starts with the next one. Progress is asked with the scan's
// position every few megabytes; true gives up.
std::optional<TPacketLayout> FindPacketLayout(TByteSource& Source, std::int64_t From, std::int64_t Limit,
                                              int MinimumPackets = 2,
                                              const std::function<bool(std::int64_t)>& Progress = {});

class TTransportStreamReader
{
public:
    // Walks Source, which must outlive the reader's use of it, from the
    // first layout found within Limit bytes of From; false when there is none.
    bool Open(TByteSource& Source, std::int64_t From = 0, std::int64_t Limit = 64 * 1024);
    void Open(TByteSource& Source, const TPacketLayout& Layout);

    // Advances to the next whole packet and decodes it. Junk where a packet
    // should start is passed over to the next run of sync bytes (of any
    // size: a file may change its framing); so is a packet whose successor
    // has no sync byte, which may be junk's (a writer that keeps what stands
    // between packets loses nothing by it). False at the end: after the last
    // whole packet, or when ScanProgress asked to stop.
    bool NextPacket();
    const TTransportPacket& Packet() const { return m_Packet; }
    // The current packet's Packet().Size bytes, valid until the next call.
    const std::uint8_t* Bytes() const { return m_Bytes; }
    // Bytes passed over before the current packet since the one before.
    std::int64_t JunkBefore() const { return m_Junk; }
    // Where the walk stands: after the current packet; once NextPacket has
    // returned false, where the bytes that are no whole packet begin (a
    // packet cut by the end of the file, or junk).
    std::int64_t End() const { return m_Next; }
    std::uint16_t PacketSize() const { return m_Size; }
    // Count bytes from Position when the block read last holds them (a look
    // ahead that costs no read); else null.
    const std::uint8_t* Buffered(std::int64_t Position, std::uint32_t Count) const
    {
        return Position >= m_BlockAt && Position - m_BlockAt + Count <= m_BlockCount
                   ? m_Block.data() + (Position - m_BlockAt)
                   : nullptr;
    }
    // The bytes buffered from where the walk stands on, the block read anew
    // from there when it holds less than the next packet and the sync byte
    // after it: a caller that passes over whole packets in them itself says
    // how many with Skip. Empty at the source's end.
    std::span<const std::uint8_t> LoadAhead()
    {
        Load(m_Next);
        if (m_Next < m_BlockAt || m_Next >= m_BlockAt + m_BlockCount)
            return {};
        return {m_Block.data() + (m_Next - m_BlockAt),
                static_cast<std::size_t>(m_BlockAt + m_BlockCount - m_Next)};
    }
    void Skip(std::size_t Packets) { m_Next += static_cast<std::int64_t>(Packets) * m_Size; }
    // Up to Count payload bytes of PID's packets of Size bytes from After on,
    // within Within bytes, a section's pointer field left out where Sections
    // is true; packet by packet, from the block read last where it holds
    // them (what is looked for is mostly in the next few packets).
    std::vector<std::uint8_t> PeekPayload(std::uint16_t PID, std::size_t Count, std::int64_t After,
                                          std::uint16_t Size, bool Sections, std::int64_t Within) const;
    // How often the sync was lost and found again.
    std::int64_t Resyncs() const { return m_Resyncs; }
    TByteSource& Source() const { return *m_Source; }

    // Called with the scan position every ScanReportBytes passed over in
    // junk; true stops the walk.
    std::function<bool(std::int64_t Position)> ScanProgress;
    static constexpr std::int64_t ScanReportBytes = 8 << 20;

private:
    const std::uint8_t* Load(std::int64_t Position);
    bool NextSyncHolds(const std::uint8_t* Bytes) const;
    bool Resync();

    TByteSource* m_Source = nullptr;
    std::uint16_t m_Size = TransportPacketLength;
    std::int64_t m_Next = 0;
    std::int64_t m_Junk = 0;
    std::int64_t m_Resyncs = 0;
    TTransportPacket m_Packet;
    const std::uint8_t* m_Bytes = nullptr;
    // Whole packets are read a block at a time.
    std::vector<std::uint8_t> m_Block;
    std::int64_t m_BlockAt = 0;
    std::uint32_t m_BlockCount = 0;
};

} // namespace vantrel
