// Walking an MPEG-2 program stream (ISO/IEC 13818-1, 2.5) or its forerunner,
// the MPEG-1 system stream (ISO/IEC 11172-1), packet by packet.
#pragma once

#include "io/ByteSource.h"
#include "io/FileBufs.h"
#include "io/InputFile.h"
#include "mpeg/PESHeader.h"
#include "mpeg/Packet.h"
#include "mpeg/StartCodes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {

class TProgramStreamReader : public TPacketReader
{
public:
    TProgramStreamReader() = default;
    ~TProgramStreamReader() override { Close(); }
    TProgramStreamReader(const TProgramStreamReader&) = delete;
    TProgramStreamReader& operator=(const TProgramStreamReader&) = delete;

    // Opens the file and positions before its first byte. Raises the input
    // file's errors (TInputFile). A walk over a whole file (a join) asks for a
    // larger window: fewer, larger reads from the file.
    void Open(const std::string& FileName, std::uint32_t WindowSize = DefaultWindowSize);
    // Walks Source, which must outlive the reader's use of it.
    void Open(TByteSource& Source);
    // Reads the packs and PES headers of an MPEG-2 program stream (ISO/IEC
    // 13818-1, 2.5.3) instead of MPEG-1's; off after opening. Only a stream
    // known to be one is read so: a damaged MPEG-1 pack must not be taken
    // for a longer MPEG-2 one.
    void SetProgramStream(bool On) { m_ProgramStream = On; }
    bool ProgramStream() const { return m_ProgramStream; }
    void Close();

    // Advances to the next packet and decodes its header. False at the end of
    // the file, when the header is cut off by it, or when ScanProgress asked
    // to stop; the walk is then over.
    bool NextPacket() override;
    // Copies the whole current packet (PacketLength bytes from PacketPosition).
    // What the file cannot deliver is filled with zeros; false when that happened.
    bool ReadPacket(void* Dest) override;
    // Copies the current PES payload, zero-filled and reported as ReadPacket.
    bool ReadPayload(void* Dest);
    // Appends the payloads of the PES packets of StreamId to Dest, from the
    // packet after the current one, until MaxBytes were appended or a matching
    // packet is found at packet index MaxPackets or later (0 or less: no
    // limit), or a packet ends past EndPosition (when not negative), or the
    // file ends. Only bytes actually read are appended; MaxBytes counts this
    // call's. True when a limit stopped it, false at the end of the file.
    bool ExtractStream(std::uint8_t StreamId, std::vector<std::uint8_t>& Dest, std::int32_t MaxPackets,
                       std::int64_t MaxBytes, std::int64_t EndPosition = -1);

    // The code of the start code that stands right after the current
    // packet, without decoding it; nothing when other bytes stand there.
    std::optional<std::uint8_t> NextCode();

    const TPacket& Packet() const override { return m_Packet; }
    TPacketKind PacketKind() const { return m_Packet.Kind; }
    // Total length of the current packet, start code included.
    std::uint32_t PacketLength() const { return m_Packet.Length; }
    std::int64_t PacketPosition() const { return m_Packet.Position; }
    // The first byte after the current packet, where the next scan starts.
    std::int64_t PacketEnd() const { return m_Packet.End(); }
    // From the last pack header read.
    std::int64_t SCR() const { return m_Packet.SCR; }
    // The SCR's 27 MHz remainder (0 to 299) of an MPEG-2 pack; 0 in MPEG-1.
    std::uint32_t SCRExtension() const { return m_Packet.SCRExtension; }
    std::uint32_t MuxRate() const { return m_Packet.MuxRate; }
    // From the last PES packet read.
    const TPESInfo& PES() const { return m_Packet.PES; }
    // True when the PES header ends inside its packet. A header that runs past
    // the packet's end leaves PayloadLength wrapped modulo 65536.
    bool PESHeaderFits() const;
    std::int64_t FileSize() const { return m_Source ? m_Source->Size() : 0; }
    TByteSource& Source() const override { return *m_Source; }

    // Where the walk stands, to look ahead and come back.
    const TPacket& Mark() const { return m_Packet; }
    void Restore(const TPacket& Mark) { m_Packet = Mark; }
    void Restart(const TPacket& Where) override { Restore(Where); }
    // The walk goes on from Position: the next packet is the first that
    // starts there or after.
    void Seek(std::int64_t Position);

    // Called with the scan position every ScanReportBytes of bytes passed over
    // between packets (junk, a run of zeros); true stops the walk, so that a
    // long scan reports progress and can be cancelled.
    std::function<bool(std::int64_t Position)> ScanProgress;
    static constexpr std::int64_t ScanReportBytes = 8 << 20;

    static constexpr std::uint32_t DefaultWindowSize = 8192;

private:
    std::optional<std::int64_t> FindPacketStart(std::int64_t Position);
    // Count bytes at Position (at most the size of m_Head), valid until the
    // next fetch; null where the source ends before them. Most fetches find
    // their bytes in the last read, and a walk makes several a packet.
    const std::uint8_t* Fetch(std::int64_t Position, std::uint32_t Count)
    {
        if (Position >= m_HeadAt && Position + Count <= m_HeadAt + m_HeadCount)
            return m_Head + (Position - m_HeadAt);
        return FetchAnew(Position, Count);
    }
    const std::uint8_t* FetchAnew(std::int64_t Position, std::uint32_t Count);
    std::int64_t ReadAt(void* Dest, std::uint32_t Count, std::int64_t Position);
    bool DecodePackHeader();
    bool DecodeSystemHeader();
    bool DecodePESHeader(std::uint8_t StreamId);
    bool DecodeProgramPESHeader(std::int64_t Pos);
    // Reads the 5-byte stamp at Pos into the fields given and moves Pos past it.
    bool TakeStamp(std::int64_t& Pos, bool& Has, std::int64_t& Value, std::int64_t& Position);

    TPacket m_Packet;
    bool m_ProgramStream = false;
    std::unique_ptr<TInputFile> m_File;
    TByteSource* m_Source = nullptr;
    // The bytes of the last header fetch: a PES header with the most
    // stuffing (16 bytes), its STD field and both stamps fits.
    std::uint8_t m_Head[48];
    std::int64_t m_HeadAt = 0;
    std::uint32_t m_HeadCount = 0;
};

// A walk ahead of where Reader stands, which comes back to it when done. A
// long run of junk ends the look ahead, not the join: the walk that writes
// reports its progress there and can be cancelled.
struct TLookAhead
{
    TLookAhead(TProgramStreamReader& Reader, std::int64_t Limit)
        : Reader(Reader), Mark(Reader.Mark()), From(Mark.Position),
          Progress(std::exchange(Reader.ScanProgress, [this, Limit](std::int64_t Position) {
              return Stopped = Position - From >= Limit;
          }))
    {
    }
    ~TLookAhead()
    {
        Reader.Restore(Mark);
        Reader.ScanProgress = Progress;
    }
    TLookAhead(const TLookAhead&) = delete;
    TLookAhead& operator=(const TLookAhead&) = delete;

    TProgramStreamReader& Reader;
    const TPacket Mark;
    const std::int64_t From; // where the look ahead began
    const std::function<bool(std::int64_t)> Progress;
    bool Stopped = false; // by the limit, in junk
};

// The smallest PTS among the first packets of streams FirstStreamId to
// LastStreamId from where Reader stands, as read (a 33-bit value; stamps either
// side of the clock's wrap compare by their distance). Looks at most at the
// first 256 packets and 4 MB, junk included; Reader is left where it stood.
std::optional<std::int64_t> SmallestFirstPTS(TProgramStreamReader& Reader, std::uint8_t FirstStreamId,
                                             std::uint8_t LastStreamId);

} // namespace vantrel
