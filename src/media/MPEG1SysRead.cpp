#include "MPEG1SysRead.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace vantrel {

std::int64_t DecodeTimeStamp(const std::uint8_t* Field)
{
    const std::int64_t High = (Field[0] & 0x0F) >> 1;
    const std::int64_t Middle = ((Field[1] << 8) | Field[2]) >> 1;
    const std::int64_t Low = ((Field[3] << 8) | Field[4]) >> 1;
    return (High << 30) | (Middle << 15) | Low;
}

void TMPEG1SystemReader::Open(const std::string& FileName, std::uint32_t WindowSize)
{
    m_PacketPosition = 0;
    m_PacketLength = 0;
    m_FileHandle = TFileHandle::TryOpenRead(FileName);
    if (!m_FileHandle.IsOpen())
        RaiseLastOSError();
    m_ReadBuffer = std::make_unique<TFileReadBuffer>(m_FileHandle.Get(), WindowSize);
}

void TMPEG1SystemReader::Close()
{
    m_ReadBuffer.reset();
    m_FileHandle.Close();
}

bool TMPEG1SystemReader::ReadBytes(std::int64_t Position, std::uint8_t* Dest, std::uint32_t Count)
{
    return m_ReadBuffer->Read(Dest, Count, Position) == static_cast<std::int32_t>(Count);
}

bool TMPEG1SystemReader::NextPacket()
{
    std::int64_t Pos = m_PacketPosition + m_PacketLength;

    // Packets normally follow each other directly: try that first.
    std::uint8_t Head[4];
    if (ReadBytes(Pos, Head, 4) && Head[0] == 0 && Head[1] == 0 && Head[2] == 1 && Head[3] >= 0xBA) {
        m_PacketPosition = Pos;
    } else {
        const std::optional<std::int64_t> Found = FindPacketStart(Pos);
        if (!Found)
            return false;
        m_PacketPosition = *Found;
        if (!ReadBytes(m_PacketPosition, Head, 4))
            return false;
    }

    switch (Head[3]) {
    case 0xBA: m_PacketKind = pkPackHeader; return DecodePackHeader();
    case 0xBB: m_PacketKind = pkSystemHeader; return DecodeSystemHeader();
    default: m_PacketKind = pkPES; return DecodePESHeader(Head[3]);
    }
}

std::optional<std::int64_t> TMPEG1SystemReader::FindPacketStart(std::int64_t Pos)
{
    // Scan for 00 00 01 with a code of 0xBA or more. Any run of zeros may
    // precede the 01; a smaller code byte is examined again as the possible
    // start of the next prefix (00 00 01 00 00 01 BA). The bytes come through
    // the window a chunk at a time, so long runs of junk scan at memory speed.
    constexpr std::uint32_t ChunkSize = DefaultWindowSize / 2;
    std::uint8_t Chunk[ChunkSize];
    int Zeros = 0;
    bool AfterPrefix = false;
    for (;;) {
        const std::int32_t Count = m_ReadBuffer->Read(Chunk, ChunkSize, Pos);
        if (Count <= 0)
            return std::nullopt;
        for (std::int32_t I = 0; I < Count; ++I) {
            const std::uint8_t Byte = Chunk[I];
            if (AfterPrefix) {
                AfterPrefix = false;
                if (Byte >= 0xBA)
                    return Pos + I - 3;
            }
            if (Byte == 1 && Zeros >= 2) {
                AfterPrefix = true;
                Zeros = 0;
                continue;
            }
            Zeros = Byte == 0 ? std::min(Zeros + 1, 2) : 0; // two zeros make a prefix, however many stand
        }
        Pos += Count;
    }
}

bool TMPEG1SystemReader::DecodePackHeader()
{
    // 00 00 01 BA, SCR in bytes 4-8, then marker, 22-bit mux rate, marker.
    std::uint8_t Field[8];
    if (!ReadBytes(m_PacketPosition + 4, Field, 8))
        return false;
    m_SCR = DecodeTimeStamp(Field);
    m_MuxRate = (((Field[5] & 0x7Fu) << 16) | (Field[6] << 8) | Field[7]) >> 1;
    m_PacketLength = 12;
    return true;
}

bool TMPEG1SystemReader::DecodeSystemHeader()
{
    std::uint8_t Length[2];
    if (!ReadBytes(m_PacketPosition + 4, Length, 2))
        return false;
    m_PacketLength = ((Length[0] << 8) | Length[1]) + 6u;
    return true;
}

bool TMPEG1SystemReader::DecodePESHeader(std::uint8_t StreamId)
{
    m_PES = TPESInfo{};
    m_PES.StreamId = StreamId;
    std::uint8_t Length[2];
    if (!ReadBytes(m_PacketPosition + 4, Length, 2))
        return false;
    m_PacketLength = ((Length[0] << 8) | Length[1]) + 6u;
    if (StreamId == PrivateStream2)
        return true;

    // Stuffing: every byte with bit 7 set, unbounded but for the end of file.
    std::int64_t Pos = m_PacketPosition + 6;
    std::uint8_t Byte;
    for (;;) {
        if (!ReadBytes(Pos, &Byte, 1))
            return false;
        if ((Byte & 0x80) == 0)
            break;
        ++Pos;
    }
    // '01' + STD buffer scale and size, 2 bytes.
    if ((Byte & 0xC0) == 0x40) {
        m_PES.HasSTD = true;
        Pos += 2;
        if (!ReadBytes(Pos, &Byte, 1))
            return false;
    }
    // '0010' PTS, '0011' PTS and DTS, anything else (0x0F) one byte.
    std::uint8_t Stamps[10];
    if ((Byte & 0xF0) == 0x20) {
        if (!ReadBytes(Pos, Stamps, 5))
            return false;
        m_PES.HasPTS = true;
        m_PES.PTS = DecodeTimeStamp(Stamps);
        Pos += 5;
    } else if ((Byte & 0xF0) == 0x30) {
        if (!ReadBytes(Pos, Stamps, 10))
            return false;
        m_PES.HasPTS = true;
        m_PES.PTS = DecodeTimeStamp(Stamps);
        m_PES.HasDTS = true;
        m_PES.DTS = DecodeTimeStamp(Stamps + 5);
        Pos += 10;
    } else {
        Pos += 1;
    }
    m_PES.PayloadPosition = Pos;
    m_PES.PayloadLength = static_cast<std::uint16_t>(m_PacketLength - (Pos - m_PacketPosition));
    return true;
}

bool TMPEG1SystemReader::PESHeaderFits() const
{
    if (m_PES.StreamId == PrivateStream2)
        return true;
    return m_PES.PayloadPosition - m_PacketPosition <= static_cast<std::int64_t>(m_PacketLength);
}

std::int64_t TMPEG1SystemReader::ReadAt(void* Dest, std::uint32_t Count, std::int64_t Position)
{
    if (Count == 0)
        return 0;
    const std::int64_t Delivered = std::max<std::int32_t>(m_ReadBuffer->Read(Dest, Count, Position), 0);
    // Never hand out stale bytes for what the file could not deliver.
    std::memset(static_cast<std::uint8_t*>(Dest) + Delivered, 0, Count - static_cast<std::size_t>(Delivered));
    return Delivered;
}

bool TMPEG1SystemReader::ReadPacket(void* Dest)
{
    return ReadAt(Dest, m_PacketLength, m_PacketPosition) == m_PacketLength;
}

bool TMPEG1SystemReader::ReadPayload(void* Dest)
{
    return ReadAt(Dest, m_PES.PayloadLength, m_PES.PayloadPosition) == m_PES.PayloadLength;
}

void TMPEG1SystemReader::ExtractStream(std::uint8_t StreamId, TMemoryStream& Dest, std::int32_t MaxPackets,
                                       std::int64_t MaxBytes)
{
    std::int32_t PacketIndex = 0;
    std::int64_t Total = 0;
    std::vector<std::uint8_t> Scratch;
    while (NextPacket()) {
        if (m_PacketKind == pkPES && m_PES.StreamId == StreamId) {
            if (Scratch.size() < m_PES.PayloadLength)
                Scratch.resize(m_PES.PayloadLength);
            const std::int64_t Read = ReadAt(Scratch.data(), m_PES.PayloadLength, m_PES.PayloadPosition);
            Dest.Write(Scratch.data(), static_cast<std::size_t>(Read));
            Total += Read;
            if ((MaxBytes > 0 && Total >= MaxBytes) || (MaxPackets > 0 && PacketIndex >= MaxPackets))
                break;
        }
        ++PacketIndex;
    }
}

} // namespace vantrel
