// PES packets put back together from the transport packets of their PID
// (ISO/IEC 13818-1, 2.4.3.6): a packet that starts a unit starts a PES
// packet, which ends where its length says or, for video of unbounded
// length, where the next one starts.
#pragma once

#include "mpeg/PESHeader.h"
#include "mpeg/ts/TransportPacket.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace vantrel {

struct TTransportPES
{
    std::uint16_t PID = 0;
    // The header; its positions are where the fields' first bytes stand in
    // the source. A field may run on into the next transport packet:
    // FilePosition tells where each of its bytes stands. PayloadPosition is
    // 0 while the payload's first byte has not come.
    TPESInfo Header;
    bool HeaderRead = false;
    // The transport packet it starts in, and that packet's random access
    // indicator (a picture a decoder can start with).
    std::int64_t FirstPacket = 0;
    bool RandomAccess = false;
    // The payload gathered, up to the assembler's limit, and how much there was.
    std::vector<std::uint8_t> Payload;
    std::int64_t PayloadBytes = 0;
    // No packet of it went missing, and a bounded packet has all its bytes.
    bool Complete = true;

    // Where byte Offset of the PES packet (0: its start code) stands in the
    // source, for the bytes up to the payload's first; -1 past them.
    std::int64_t FilePosition(std::uint32_t Offset) const;

    // The header's bytes, and the pieces of the packet up to its payload's
    // first byte as the transport packets brought them.
    std::vector<std::uint8_t> HeaderBytes;
    struct TPiece
    {
        std::uint32_t Offset; // in the PES packet
        std::uint32_t Length;
        std::int64_t Position;
    };
    std::vector<TPiece> Pieces;
};

class TPESAssembler
{
public:
    // MaxPayload bounds what a PES packet keeps of its payload (memory
    // bounded whatever the stream holds); 0 keeps none.
    explicit TPESAssembler(std::uint16_t PID, std::size_t MaxPayload) : m_MaxPayload(MaxPayload)
    {
        m_PES.PID = PID;
    }
    // The next transport packet of the PID; Lost when packets went missing
    // before it. OnHeader is called once a PES packet's header is read,
    // OnPES when the packet is over (by its length, the next start, or Flush).
    void Add(const TTransportPacket& Packet, const std::uint8_t* PacketBytes, bool Lost = false);
    // The end of the stream: a PES packet in progress is handed over as it is.
    void Flush();
    std::function<void(const TTransportPES&)> OnHeader, OnPES;

private:
    void Start(const TTransportPacket& Packet);
    void Finish();
    // Takes header bytes from Data; returns how many.
    std::size_t TakeHeader(const std::uint8_t* Data, std::size_t Count);
    void HeaderDone();
    void TakePayload(const std::uint8_t* Data, std::size_t Count);
    // The bytes of a bounded packet, by its length field; -1 while unknown
    // or for an unbounded one.
    std::int64_t Bound() const;

    std::size_t m_MaxPayload;
    TTransportPES m_PES;
    bool m_Active = false;
    std::uint32_t m_HeaderLength = 0; // once known
    std::int64_t m_Received = 0;      // bytes of the PES packet so far
};

} // namespace vantrel
