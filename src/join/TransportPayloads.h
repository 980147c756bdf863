// What a join changes in the payloads of a transport stream's packets, one
// PID at a time: in a stream's PES headers the PTS, DTS and ESCR (the file
// moved in time as a whole), in the video the end codes and the broken
// link a joint needs; in the tables the PIDs, program numbers and versions
// the output has. A header or a section that runs on into later packets of
// its PID is read ahead whole (Peek), rewritten, and its bytes given back a
// packet at a time, so that every packet keeps its length and place.
#pragma once

#include "join/JoinPlan.h"
#include "join/JoinState.h"
#include "join/TransportLead.h"
#include "mpeg/ts/TransportPacket.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace vantrel {

// What the edits of one file's pass share.
struct TPayloadContext
{
    TJoinState* State = nullptr;
    TFilePlan* Plan = nullptr;
    TJoinPlan* Join = nullptr;
    std::size_t Index = 0;
    bool Last = false; // the last file of the join
    bool Recalc = true;
    bool Continues = false; // the rest of the recording before it
    bool Later = false;     // a file after the first
    std::int64_t SourceSize = 0;
    // The next Count payload bytes of PID after the packet being written
    // (of a section: without the pointer fields); fewer at the file's end.
    std::function<std::vector<std::uint8_t>(std::uint16_t PID, std::size_t Count, bool Sections)> Peek;
};

// Bytes rewritten ahead, still to be given to the packets that carry them.
class TPendingBytes
{
public:
    void Set(std::vector<std::uint8_t> Bytes, std::size_t From);
    // Writes what is pending over the first bytes of Data; returns how many.
    std::size_t Put(std::uint8_t* Data, std::size_t Length);
    bool Pending() const { return m_At < m_Bytes.size(); }
    void Reset() { m_Bytes.clear(), m_At = 0; }

private:
    std::vector<std::uint8_t> m_Bytes;
    std::size_t m_At = 0;
};

// The edits of one sound or video stream, which also tell the join's line
// where the stream ends, what its last stamps are and (near the file's end)
// what waits in its buffer.
class TStreamEdit
{
public:
    explicit TStreamEdit(const TKeptStream& Stream) : m_Stream(Stream) {}
    void Reset();
    // Out: the packet as it will be written, its header already the output's.
    void Edit(TPayloadContext& Context, const TTransportPacket& Packet, std::uint8_t* Out, bool Duplicate);
    // The file's last packet was written.
    void Finish(TPayloadContext& Context);
    // Whether the packets that continue a PES packet, with nothing edited in
    // the one before, may pass as they are, without the edits' bookkeeping:
    // those that hold no end code to blank (TEndCodeScan). From LearnsFrom
    // on in their file, each still tells the join its payload (Learn).
    bool PassesAsItIs(const TPayloadContext& Context) const { return m_Last.empty() && Quiet(Context); }
    static std::int64_t LearnsFrom(const TPayloadContext& Context);
    // What the join's line and buffers learn from a payload of the packet at
    // Position; New: it begins a PES packet.
    void Learn(TPayloadContext& Context, std::int64_t Position, const std::uint8_t* Data, std::size_t Count,
               bool New);

    // How far a file's end its buffers are followed for the next joint.
    static constexpr std::int64_t BufferBytes = 2 << 20;
    // How far a file's end its pictures are counted for where it ends.
    static constexpr std::int64_t PictureCountBytes = 4 << 20;

private:
    bool Quiet(const TPayloadContext& Context) const;
    std::size_t EditHeader(TPayloadContext& Context, const TTransportPacket& Packet, std::uint8_t* Payload);
    // True when it changed Data.
    bool EditVideo(TPayloadContext& Context, std::uint8_t* Data, std::size_t Length);
    bool EditH264(TPayloadContext& Context, std::uint8_t* Data, std::size_t Length);
    // Blanks the end codes (by their fourth bytes, Codes) of a file before
    // the last, one that runs on into the next packet too.
    bool BlankEnds(TPayloadContext& Context, std::uint8_t* Data, std::size_t Length,
                   std::span<const std::uint8_t> Codes);
    void FlushSound(TPayloadContext& Context);

    TKeptStream m_Stream;
    TPendingBytes m_Header;
    std::vector<std::uint8_t> m_Last;            // the payload written last, for a packet sent twice
    std::optional<std::int64_t> m_PTS, m_Decode; // of the PES packet being written
    std::vector<std::uint8_t> m_Sound;           // its payload, for a sound stream
    bool m_GroupSeen = false;
    std::size_t m_ZeroNext = 0; // bytes of an end code blanked that run into the next packet
    // H.264: its payload bytes from the file's first packet on, while the
    // walk has gone on from there (a broken link flag stands by them).
    std::optional<std::int64_t> m_Bytes = 0;
};

// The sequence end codes that a run of MPEG video packets passed as they are
// may hold, found in one scan of the run's bytes rather than packet by
// packet: compressed pictures hold a code's fourth byte in about every
// second packet.
class TEndCodeScan
{
public:
    // Bytes: the run's packets; the last file's end codes stay, and nothing
    // is looked for in it.
    TEndCodeScan(const TPayloadContext& Context, std::span<const std::uint8_t> Bytes);
    // Whether the payload Bytes[From, From + Length) may hold an end code:
    // whole, or begun there and ended by the stream's next payload, whose
    // first bytes stand at Next (Unknown: not known). Asked in the bytes'
    // order.
    bool Holds(std::size_t From, std::size_t Length, std::size_t Next);
    static constexpr std::size_t Unknown = SIZE_MAX;

private:
    std::size_t Find(std::size_t From) const;

    std::span<const std::uint8_t> m_Bytes;
    bool m_Looks;
    std::size_t m_Hit; // where the next code's fourth byte may stand
};

// How many of the packets that Ahead begins with (Size bytes each, at most
// Most) pass as they are: whole and synced, no unit start, clear, no
// adaptation field, their PID's next counter (taken), nothing to blank
// (Ends), of a PID whose stream Passes them.
std::size_t CountPlainPackets(std::span<const std::uint8_t> Ahead, std::uint16_t Size, std::size_t Most,
                              TEndCodeScan& Ends, TContinuityTracker& Continuity,
                              const std::function<bool(std::uint16_t PID)>& Passes);

// The edits of one table PID: every section of a table the join rewrites
// (IsEditedTable) as the output has it.
class TTableEdit
{
public:
    TTableEdit(std::uint16_t PID, std::uint16_t Out) : m_PID(PID), m_Out(Out) {}
    void Reset();
    void Edit(TPayloadContext& Context, const TTransportPacket& Packet, std::uint8_t* Out, bool Duplicate);

private:
    // The section that starts at Data (Length bytes of it in this packet),
    // as the output writes it; its length stays.
    std::vector<std::uint8_t> Rewrite(TPayloadContext& Context, const std::uint8_t* Data, std::size_t Length);

    std::uint16_t m_PID, m_Out;
    TPendingBytes m_Section;
    std::vector<std::uint8_t> m_Last;
};

} // namespace vantrel
