// The system target decoder at a joint (ISO/IEC 11172-1, 2.4.2): bytes of
// each elementary stream enter its buffer as they arrive (the pack's SCR plus
// their place in the pack at its mux rate) and each access unit leaves at its
// decode time. A later file's first packs must arrive while the earlier
// file's last units still wait in the buffers; the planner finds the least
// intrusive schedule for them that keeps every unit on time and no buffer
// over its size. Times are 90 kHz ticks on the join's continuous line.
#pragma once

#include "mpeg/StartCodes.h"
#include "mpeg/TimeStamps.h"
#include "mpeg/ps/SubStreams.h"

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace vantrel {

// One access unit: where it starts in its stream's bytes, and when it leaves.
struct TAccessUnit
{
    std::int64_t Start;
    std::int64_t Decode;
};

// The decoder model names an elementary stream by its stream id (audio and
// video), and the sound of private stream 1 by its sub-stream id (AC-3, DTS
// and LPCM: 0x80-0xA7, below every audio and video id). The payload it sees
// of such a sub-stream leaves out the sub-stream header.
struct TModelPayload
{
    std::uint8_t Stream;
    const std::uint8_t* Data;
    std::size_t Length;
};
// Nothing for a packet the model has no buffer for (padding, navigation,
// subpictures).
std::optional<TModelPayload> ModelPayload(std::uint8_t StreamId, const std::uint8_t* Payload,
                                          std::size_t Length);

// Cuts one elementary stream into access units as its payloads come: a
// picture with the sequence and group headers before it, or an audio frame
// (MPEG audio, AC-3, DTS). A stamp belongs to the first unit that begins in
// its packet (the first byte of a picture start code, of a frame header);
// the others follow the one before by a frame. LPCM has no frames to find:
// each stamped packet starts a unit there.
class TUnitSplitter
{
public:
    // Stream: the model's name for it (ModelPayload).
    TUnitSplitter(std::uint8_t Stream, std::int64_t FrameTicks)
        : m_Video(IsVideoStream(Stream)), m_Packets(SubStreamKind(Stream) == sskLPCM),
          m_FrameTicks(FrameTicks)
    {
    }
    void Add(const std::uint8_t* Payload, std::size_t Length, std::optional<std::int64_t> Stamp);
    // Units whose decode time is known, in decode order.
    const std::vector<TAccessUnit>& Units() const { return m_Units; }
    std::int64_t Bytes() const { return m_Bytes; }

private:
    void Found(std::int64_t Start, std::int64_t StampAt, std::int64_t Ticks);

    bool m_Video;
    bool m_Packets;
    std::int64_t m_FrameTicks;
    std::int64_t m_Bytes = 0;
    std::vector<TAccessUnit> m_Units;
    // The current packet's stamp, until a unit takes it.
    std::optional<std::int64_t> m_Stamp;
    std::int64_t m_PacketStart = 0;
    std::optional<std::int64_t> m_Last; // the decode time of the last unit
    std::int64_t m_LastTicks = 0;
    // Video: the scan over payloads so far and where headers before a
    // picture began.
    TStartCodeScan m_Scan;
    std::optional<std::int64_t> m_HeadersAt;
    // Audio: the bytes from where the next frame header is expected.
    std::vector<std::uint8_t> m_Pending;
    std::int64_t m_PendingAt = 0;
};

// The elementary streams as written so far near a file's end: what still
// waits in the buffers when the next file begins.
class TBufferModel
{
public:
    void Reset() { m_Streams.clear(); }
    void Add(std::uint8_t StreamId, std::int64_t FrameTicks, const std::uint8_t* Payload, std::size_t Length,
             std::optional<std::int64_t> Stamp, std::uint32_t STDBufferSize);
    // What waits in the buffer of each stream at time T: the bytes of its
    // units that decode after T.
    std::int64_t Waiting(std::uint8_t StreamId, std::int64_t T) const;
    // The last decode time of any stream; nothing once all is decoded.
    std::optional<std::int64_t> LastDecode() const;
    std::uint32_t BufferSize(std::uint8_t StreamId) const;

private:
    struct TStream
    {
        TUnitSplitter Units;
        std::uint32_t BufferSize = 0;
    };
    std::map<std::uint8_t, TStream> m_Streams;
};

// A later file's first packs as they stand in that file, moved by its offset.
struct TLeadPack
{
    std::int64_t SCR;      // its own clock, moved
    std::uint32_t MuxRate; // its own
    std::int64_t Length;   // bytes from its header to the next pack's
    bool PaddingOnly;      // may be left out while the stream is behind
    struct TPacket
    {
        std::uint8_t StreamId;
        std::int64_t End;     // bytes from the pack's start to the packet's end
        std::int64_t Payload; // bytes
    };
    std::vector<TPacket> Packets;
};

struct TJointPlan
{
    std::int64_t Pause = 0;    // ticks every stamp of the later file moves on by
    std::uint32_t MuxRate = 0; // for its planned packs; 0: each keeps its own
    // Of its first packs; nothing for a pack left out. Times on the join's
    // line may be below zero: a later file whose clock starts well before
    // its first stamp, after a short first file.
    std::vector<std::optional<std::int64_t>> SCR;
    bool Holds = false; // every unit on time and no buffer over its size
};

// Plans the later file's first packs after the earlier file: its channel is
// free from ChannelFree on, Before holds what still waits in the buffers.
// Units: the later file's own, by stream, moved by its offset; Sizes: its
// buffer sizes. Where the medium fixes the rate (FixedRate: disc sectors),
// only a pause can make room; elsewhere the packs around the joint arrive
// faster (a higher mux rate) before a pause is tried. The pause is as long as
// it must be: no unit of the later file arrives later than in its own file.
// Unless the packs reach the file's end (ReachesEnd), the plan holds only
// once the file is back on its own clock: what follows is written as muxed.
TJointPlan PlanJoint(const std::vector<TLeadPack>& Packs,
                     const std::map<std::uint8_t, std::vector<TAccessUnit>>& Units,
                     const std::map<std::uint8_t, std::uint32_t>& Sizes, const TBufferModel& Before,
                     std::int64_t ChannelFree, bool FixedRate, bool ReachesEnd);

// Pauses are tried a disc sector at a time up to this (2 s); past it, the
// pause that lets everything before drain.
constexpr std::int64_t StepPauseLimit = 2 * ClockRate;

} // namespace vantrel
