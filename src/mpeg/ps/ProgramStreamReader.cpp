#include "mpeg/ps/ProgramStreamReader.h"
#include "io/InputFile.h"
#include "mpeg/StartCodes.h"
#include "mpeg/TimeStamps.h"
#include "mpeg/ps/PackSyntax.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace vantrel {

void TProgramStreamReader::Open(const std::string& FileName, std::uint32_t WindowSize)
{
    Close();
    m_File = std::make_unique<TInputFile>(FileName, WindowSize);
    Open(m_File->Source());
}

void TProgramStreamReader::Open(TByteSource& Source)
{
    m_Source = &Source;
    m_ProgramStream = false;
    m_HeadCount = 0;
    m_Packet.Position = 0;
    m_Packet.Length = 0;
}

void TProgramStreamReader::Close()
{
    m_Source = nullptr;
    m_File.reset();
}

void TProgramStreamReader::Seek(std::int64_t Position)
{
    m_Packet = TPacket{};
    m_Packet.Position = Position;
}

const std::uint8_t* TProgramStreamReader::FetchAnew(std::int64_t Position, std::uint32_t Count)
{
    // A header's fields are read a few bytes at a time from its first bytes:
    // one read from the source serves them all.
    m_HeadAt = Position;
    m_HeadCount = m_Source->Read(m_Head, sizeof m_Head, Position);
    return Count > m_HeadCount ? nullptr : m_Head;
}

std::optional<std::uint8_t> TProgramStreamReader::NextCode()
{
    const std::uint8_t* Head = Fetch(PacketEnd(), 4);
    if (Head && Head[0] == 0 && Head[1] == 0 && Head[2] == 1)
        return Head[3];
    return std::nullopt;
}

bool TProgramStreamReader::NextPacket()
{
    const std::int64_t Pos = PacketEnd();

    // Packets normally follow each other directly: try that first.
    const std::uint8_t* Head = Fetch(Pos, 4);
    if (Head && Head[0] == 0 && Head[1] == 0 && Head[2] == 1 && Head[3] >= PackStartCode) {
        m_Packet.Position = Pos;
    } else {
        const std::optional<std::int64_t> Found = FindPacketStart(Pos);
        if (!Found)
            return false;
        m_Packet.Position = *Found;
        if (!(Head = Fetch(m_Packet.Position, 4)))
            return false;
    }

    switch (Head[3]) {
    case PackStartCode: m_Packet.Kind = pkPackHeader; return DecodePackHeader();
    case SystemHeaderCode: m_Packet.Kind = pkSystemHeader; return DecodeSystemHeader();
    default: m_Packet.Kind = pkPES; return DecodePESHeader(Head[3]);
    }
}

std::optional<std::int64_t> TProgramStreamReader::FindPacketStart(std::int64_t Pos)
{
    // Scan for a start code of 0xBA or more; a smaller code byte is examined
    // again as the possible start of the next prefix. The bytes come through
    // the window a chunk at a time, so long runs of junk scan at memory speed.
    constexpr std::uint32_t ChunkSize = DefaultWindowSize / 2;
    std::uint8_t Chunk[ChunkSize];
    TStartCodeScan Scan;
    std::int64_t NextReport = Pos + ScanReportBytes;
    for (;;) {
        const std::uint32_t Count = m_Source->Read(Chunk, ChunkSize, Pos);
        if (Count == 0)
            return std::nullopt;
        for (std::uint32_t I = 0; I < Count; ++I)
            if (Scan.Feed(Chunk[I]) && Chunk[I] >= PackStartCode)
                return Pos + I - 3;
        Pos += Count;
        if (Pos >= NextReport && ScanProgress) {
            NextReport = Pos + ScanReportBytes;
            if (ScanProgress(Pos))
                return std::nullopt;
        }
    }
}

bool TProgramStreamReader::DecodePackHeader()
{
    const std::uint8_t* Header = Fetch(m_Packet.Position, PackHeaderLength);
    if (!Header)
        return false;
    m_Packet.SCRExtension = 0;
    // An MPEG-2 pack: '01', the SCR's 33 bits and 9-bit extension between
    // markers (bytes 4-9), the 22-bit mux rate and two markers (10-12), then
    // 5 reserved bits and up to 7 bytes of stuffing.
    if (m_ProgramStream && (Header[4] & 0xC0) == 0x40) {
        if (!(Header = Fetch(m_Packet.Position, ProgramPackHeaderLength)))
            return false;
        m_Packet.SCR = DecodeProgramSCR(Header + SCRFieldOffset);
        m_Packet.SCRExtension = ((Header[8] & 0x03u) << 7) | (Header[9] >> 1);
        m_Packet.MuxRate = DecodeProgramMuxRate(Header);
        m_Packet.Length = ProgramPackHeaderLength + (Header[13] & 0x07);
        return true;
    }
    m_Packet.SCR = DecodeTimeStamp(Header + SCRFieldOffset);
    m_Packet.MuxRate = DecodeMuxRate(Header + MuxRateOffset);
    m_Packet.Length = PackHeaderLength;
    return true;
}

bool TProgramStreamReader::DecodeSystemHeader()
{
    const std::uint8_t* Length = Fetch(m_Packet.Position + 4, 2);
    if (!Length)
        return false;
    m_Packet.Length = ((Length[0] << 8) | Length[1]) + PacketPrefixLength;
    return true;
}

bool TProgramStreamReader::DecodePESHeader(std::uint8_t StreamId)
{
    m_Packet.PES = TPESInfo{};
    m_Packet.PES.StreamId = StreamId;
    const std::uint8_t* Length = Fetch(m_Packet.Position + 4, 2);
    if (!Length)
        return false;
    m_Packet.Length = ((Length[0] << 8) | Length[1]) + PacketPrefixLength;
    if (m_ProgramStream)
        return DecodeProgramPESHeader(m_Packet.Position + PacketPrefixLength);
    if (StreamId == PrivateStream2)
        return true;

    // Stuffing: every byte with bit 7 set, unbounded but for the end of file.
    std::int64_t Pos = m_Packet.Position + PacketPrefixLength;
    const std::uint8_t* Byte;
    for (;;) {
        if (!(Byte = Fetch(Pos, 1)))
            return false;
        if ((*Byte & 0x80) == 0)
            break;
        ++Pos;
    }
    // '01' + STD buffer scale and size, 2 bytes.
    if ((*Byte & 0xC0) == 0x40) {
        const std::uint8_t* STD = Fetch(Pos, 2);
        if (!STD)
            return false;
        m_Packet.PES.HasSTD = true;
        // The scale: units of 1024 bytes (video) or 128 (audio).
        m_Packet.PES.STDBufferSize = (((STD[0] & 0x1Fu) << 8) | STD[1]) * ((STD[0] & 0x20) ? 1024u : 128u);
        Pos += 2;
        if (!(Byte = Fetch(Pos, 1)))
            return false;
    }
    // '0010' PTS, '0011' PTS and DTS, anything else (0x0F) one byte.
    if ((*Byte >> 4) == PTSPrefix || (*Byte >> 4) == PTSBeforeDTSPrefix) {
        const bool BothStamps = (*Byte >> 4) == PTSBeforeDTSPrefix;
        if (!TakeStamp(Pos, m_Packet.PES.HasPTS, m_Packet.PES.PTS, m_Packet.PES.PTSPosition) ||
            (BothStamps && !TakeStamp(Pos, m_Packet.PES.HasDTS, m_Packet.PES.DTS, m_Packet.PES.DTSPosition)))
            return false;
    } else {
        Pos += 1;
    }
    m_Packet.PES.PayloadPosition = Pos;
    m_Packet.PES.PayloadLength = static_cast<std::uint16_t>(m_Packet.Length - (Pos - m_Packet.Position));
    return true;
}

bool TProgramStreamReader::TakeStamp(std::int64_t& Pos, bool& Has, std::int64_t& Value,
                                     std::int64_t& Position)
{
    const std::uint8_t* Field = Fetch(Pos, TimeStampLength);
    if (!Field)
        return false;
    Has = true;
    Value = DecodeTimeStamp(Field);
    Position = Pos;
    Pos += TimeStampLength;
    return true;
}

bool TProgramStreamReader::DecodeProgramPESHeader(std::int64_t Pos)
{
    const std::int64_t End = m_Packet.Position + m_Packet.Length;
    const auto PayloadFrom = [&](std::int64_t At) {
        m_Packet.PES.PayloadPosition = At;
        m_Packet.PES.PayloadLength = static_cast<std::uint16_t>(End - At);
        return true;
    };
    // Packets without a PES header: their bytes follow the length.
    const std::uint8_t Id = m_Packet.PES.StreamId;
    if (Id == ProgramStreamMap || Id == PaddingStream || Id == PrivateStream2 || Id == ProgramStreamDirectory)
        return PayloadFrom(Pos);
    // '10', flags; the stamps' flags and the others; how many header bytes follow.
    const std::uint8_t* Head = Fetch(Pos, 3);
    if (!Head)
        return false;
    if ((Head[0] & 0xC0) != 0x80) // not an MPEG-2 header: none of ours to read
        return PayloadFrom(Pos);
    const std::uint8_t Flags = Head[1];
    const std::uint32_t Length = 3u + Head[2];
    const std::int64_t PayloadAt = Pos + Length;
    // The whole header in one fetch; the longest (stuffing) from the source.
    std::uint8_t Long[3 + 255];
    const std::uint8_t* H = Length <= sizeof m_Head                       ? Fetch(Pos, Length)
                            : m_Source->Read(Long, Length, Pos) == Length ? Long
                                                                          : nullptr;
    if (!H)
        return false;
    // Fields that claim more than the header holds are not believed.
    std::uint32_t At = 3;
    const auto Stamp = [&](bool& Has, std::int64_t& Value, std::int64_t& Position) {
        if (At + TimeStampLength > Length)
            return;
        Has = true;
        Value = DecodeTimeStamp(H + At);
        Position = Pos + At;
        At += TimeStampLength;
    };
    if ((Flags & 0x80) != 0) {
        Stamp(m_Packet.PES.HasPTS, m_Packet.PES.PTS, m_Packet.PES.PTSPosition);
        if ((Flags & 0x40) != 0)
            Stamp(m_Packet.PES.HasDTS, m_Packet.PES.DTS, m_Packet.PES.DTSPosition);
        if (!m_Packet.PES.HasPTS || ((Flags & 0x40) != 0 && !m_Packet.PES.HasDTS)) {
            m_Packet.PES.HasPTS = m_Packet.PES.HasDTS = false;
            m_Packet.PES.PTSPosition = m_Packet.PES.DTSPosition = 0;
        }
    }
    if ((Flags & 0x20) != 0) {
        if (At + 6 <= Length)
            m_Packet.PES.ESCRPosition = Pos + At;
        At += 6;
    }
    At += ((Flags & 0x10) ? 3 : 0) + ((Flags & 0x08) ? 1 : 0) + ((Flags & 0x04) ? 1 : 0) +
          ((Flags & 0x02) ? 2 : 0);
    // The extension: private data, a pack header, a sequence counter, then
    // the P-STD buffer ('01', scale, 13-bit size).
    if ((Flags & 0x01) != 0 && At < Length) {
        const std::uint8_t Extension = H[At];
        At += 1 + ((Extension & 0x80) ? 16 : 0);
        if ((Extension & 0x40) != 0)
            At = At < Length ? At + 1 + H[At] : Length;
        At += (Extension & 0x20) ? 2 : 0;
        if ((Extension & 0x10) != 0 && At + 2 <= Length) {
            m_Packet.PES.HasSTD = true;
            m_Packet.PES.STDBufferSize = (((H[At] & 0x1Fu) << 8) | H[At + 1]) * ((H[At] & 0x20) ? 1024u : 128u);
        }
    }
    return PayloadFrom(PayloadAt);
}

bool TProgramStreamReader::PESHeaderFits() const
{
    if (m_Packet.PES.StreamId == PrivateStream2)
        return true;
    return m_Packet.PES.PayloadPosition - m_Packet.Position <= static_cast<std::int64_t>(m_Packet.Length);
}

std::int64_t TProgramStreamReader::ReadAt(void* Dest, std::uint32_t Count, std::int64_t Position)
{
    if (Count == 0)
        return 0;
    // A short packet (a pack header, most of all) lies in the bytes its
    // header was decoded from.
    if (Position >= m_HeadAt && Position + Count <= m_HeadAt + m_HeadCount) {
        std::memcpy(Dest, m_Head + (Position - m_HeadAt), Count);
        return Count;
    }
    const std::uint32_t Delivered = m_Source->Read(Dest, Count, Position);
    // Never hand out stale bytes for what the file could not deliver.
    if (Delivered < Count)
        std::memset(static_cast<std::uint8_t*>(Dest) + Delivered, 0, Count - Delivered);
    return Delivered;
}

bool TProgramStreamReader::ReadPacket(void* Dest)
{
    return ReadAt(Dest, m_Packet.Length, m_Packet.Position) == m_Packet.Length;
}

bool TProgramStreamReader::ReadPayload(void* Dest)
{
    return ReadAt(Dest, m_Packet.PES.PayloadLength, m_Packet.PES.PayloadPosition) == m_Packet.PES.PayloadLength;
}

bool TProgramStreamReader::ExtractStream(std::uint8_t StreamId, std::vector<std::uint8_t>& Dest,
                                         std::int32_t MaxPackets, std::int64_t MaxBytes,
                                         std::int64_t EndPosition)
{
    std::int32_t PacketIndex = 0;
    const std::size_t Start = Dest.size();
    while (NextPacket()) {
        if (EndPosition >= 0 && m_Packet.Position + m_Packet.Length > EndPosition)
            return true;
        if (m_Packet.Kind == pkPES && m_Packet.PES.StreamId == StreamId) {
            const std::size_t At = Dest.size();
            Dest.resize(At + m_Packet.PES.PayloadLength);
            Dest.resize(At + ReadAt(Dest.data() + At, m_Packet.PES.PayloadLength, m_Packet.PES.PayloadPosition));
            const auto Total = static_cast<std::int64_t>(Dest.size() - Start);
            if ((MaxBytes > 0 && Total >= MaxBytes) || (MaxPackets > 0 && PacketIndex >= MaxPackets))
                return true;
        }
        ++PacketIndex;
    }
    return false;
}

std::optional<std::int64_t> SmallestFirstPTS(TProgramStreamReader& Reader, std::uint8_t FirstStreamId,
                                             std::uint8_t LastStreamId)
{
    constexpr int LookAheadPackets = 256;
    constexpr std::int64_t LookAheadBytes = 4 << 20;
    const TPacket Start = Reader.Mark();
    auto Scan =
        std::exchange(Reader.ScanProgress, [](std::int64_t Position) { return Position > LookAheadBytes; });
    std::optional<std::int64_t> Smallest;
    for (int I = 0; I < LookAheadPackets && Reader.PacketEnd() < LookAheadBytes && Reader.NextPacket(); ++I) {
        const TPESInfo& PES = Reader.PES();
        if (Reader.PacketKind() == pkPES && PES.HasPTS && PES.StreamId >= FirstStreamId &&
            PES.StreamId <= LastStreamId)
            Smallest =
                Smallest ? *Smallest + std::min<std::int64_t>(ClockDistance(*Smallest, PES.PTS), 0) : PES.PTS;
    }
    Reader.Restore(Start);
    Reader.ScanProgress = std::move(Scan);
    return Smallest ? std::optional(ClockValue(*Smallest)) : std::nullopt;
}

} // namespace vantrel
