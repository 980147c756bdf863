// The system target decoder at a joint (ISO/IEC 11172-1, 2.4.2): bytes of
// each elementary stream enter its buffer as they arrive (the pack's SCR plus
// their place in the pack at its mux rate) and each access unit leaves at its
// decode time. A later file's first packs must arrive while the earlier
// file's last units still wait in the buffers; the planner finds the least
// intrusive schedule for them that keeps every unit on time and no buffer
// over its size. Times are 90 kHz ticks on the join's continuous line.
#pragma once

#include "join/AccessUnits.h"
#include "mpeg/TimeStamps.h"

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace vantrel {

// A later file's first packs as they stand in that file, moved by its offset.
struct TLeadPack
{
    std::int64_t Position; // of its header in its file
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
    bool Holds = true; // every unit on time and no buffer over its size
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
