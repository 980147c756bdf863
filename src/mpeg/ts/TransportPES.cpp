#include "mpeg/ts/TransportPES.h"

#include "mpeg/StartCodes.h"

#include <algorithm>

namespace vantrel {

std::int64_t TTransportPES::FilePosition(std::uint32_t Offset) const
{
    for (const TPiece& Piece : Pieces)
        if (Offset >= Piece.Offset && Offset - Piece.Offset < Piece.Length)
            return Piece.Position + (Offset - Piece.Offset);
    return -1;
}

void TPESAssembler::Start(const TTransportPacket& Packet)
{
    const std::uint16_t PID = m_PES.PID;
    m_PES = TTransportPES{};
    m_PES.PID = PID;
    m_PES.FirstPacket = Packet.Position;
    m_PES.RandomAccess = Packet.RandomAccess;
    m_Active = true;
    m_HeaderLength = 0;
    m_Received = 0;
}

void TPESAssembler::Finish()
{
    if (!m_Active)
        return;
    m_Active = false;
    if (!m_PES.HeaderRead)
        return;
    if (const std::int64_t Total = Bound(); Total >= 0 && m_Received < Total)
        m_PES.Complete = false;
    if (OnPES)
        OnPES(m_PES);
}

void TPESAssembler::Flush()
{
    Finish();
}

void TPESAssembler::HeaderDone()
{
    TPESInfo& H = m_PES.Header;
    // Decoded from 0, its positions are offsets in the packet: where they stand.
    DecodePESHeader(m_PES.HeaderBytes, 0, H);
    for (std::int64_t* Position : {&H.PTSPosition, &H.DTSPosition, &H.ESCRPosition, &H.PayloadPosition})
        if (*Position != 0)
            *Position = std::max<std::int64_t>(m_PES.FilePosition(static_cast<std::uint32_t>(*Position)), 0);
    m_PES.HeaderRead = true;
    if (OnHeader)
        OnHeader(m_PES);
}

std::size_t TPESAssembler::TakeHeader(const std::uint8_t* Data, std::size_t Count)
{
    std::vector<std::uint8_t>& H = m_PES.HeaderBytes;
    std::size_t Used = 0;
    while (Used < Count && !m_PES.HeaderRead) {
        const std::size_t Want = m_HeaderLength ? m_HeaderLength : PESHeaderFixedLength;
        const std::size_t N = std::min(Want - H.size(), Count - Used);
        H.insert(H.end(), Data + Used, Data + Used + N);
        Used += N;
        if (H.size() >= 3 && !(H[0] == 0 && H[1] == 0 && H[2] == 1)) {
            m_Active = false; // not a PES packet: nothing to put together
            return Count;
        }
        if (m_HeaderLength == 0 && (m_HeaderLength = PESHeaderLength(H)) != 0 && m_HeaderLength < H.size()) {
            // An id without a header: what came after its length is payload.
            Used -= H.size() - m_HeaderLength;
            H.resize(m_HeaderLength);
        }
        if (m_HeaderLength != 0 && H.size() == m_HeaderLength)
            HeaderDone();
    }
    return Used;
}

void TPESAssembler::TakePayload(const std::uint8_t* Data, std::size_t Count)
{
    m_PES.PayloadBytes += static_cast<std::int64_t>(Count);
    const std::size_t Room = m_MaxPayload - std::min(m_MaxPayload, m_PES.Payload.size());
    m_PES.Payload.insert(m_PES.Payload.end(), Data, Data + std::min(Room, Count));
}

void TPESAssembler::Add(const TTransportPacket& Packet, const std::uint8_t* PacketBytes, bool Lost)
{
    if (Lost && m_Active)
        m_PES.Complete = false;
    // Scrambled bytes cannot be read: the packet they belong to is not whole.
    if (Packet.Scrambling != 0) {
        if (m_Active)
            m_PES.Complete = false;
        return;
    }
    if (Packet.PayloadUnitStart) {
        Finish();
        Start(Packet);
    }
    if (!m_Active || Packet.PayloadLength == 0)
        return;
    const std::uint8_t* Data = PacketBytes + Packet.PayloadOffset;
    std::size_t Count = Packet.PayloadLength;
    const std::int64_t Position = Packet.Position + Packet.PayloadOffset;
    const bool Recorded = !m_PES.HeaderRead || m_Received <= m_HeaderLength;
    if (Recorded)
        m_PES.Pieces.push_back(
            {static_cast<std::uint32_t>(m_Received), static_cast<std::uint32_t>(Count), Position});
    const std::size_t Used = m_PES.HeaderRead ? 0 : TakeHeader(Data, Count);
    if (!m_Active)
        return;
    // A bounded packet ends where its length says; what follows in the
    // transport packet is not part of it.
    const std::int64_t Total = Bound();
    if (Total >= 0)
        Count = std::max(Used, static_cast<std::size_t>(std::clamp<std::int64_t>(
                                   Total - m_Received, 0, static_cast<std::int64_t>(Count))));
    if (Recorded)
        m_PES.Pieces.back().Length = static_cast<std::uint32_t>(Count);
    if (m_PES.HeaderRead && m_PES.Header.PayloadPosition == 0 && Used < Count)
        m_PES.Header.PayloadPosition = Position + static_cast<std::int64_t>(Used);
    TakePayload(Data + Used, Count - Used);
    m_Received += static_cast<std::int64_t>(Count);
    if (Total >= 0 && m_Received >= Total)
        Finish();
}

std::int64_t TPESAssembler::Bound() const
{
    const std::vector<std::uint8_t>& H = m_PES.HeaderBytes;
    if (H.size() < PacketPrefixLength || ((H[4] << 8) | H[5]) == 0)
        return -1;
    return PacketPrefixLength + ((H[4] << 8) | H[5]);
}

} // namespace vantrel
