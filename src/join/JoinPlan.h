// The plan of a join, made from each input's head and tail before the first
// byte is written: where every file begins on the output's time line and how
// its first packs arrive, what the kept system headers and the last sequence
// end code are, how long the output runs. The one forward pass that writes
// the output follows it; the programs report it.
#pragma once

#include "join/JointPlanner.h"
#include "join/KeptHeaders.h"
#include "join/PIDMap.h"
#include "join/TableEdits.h"
#include "mpeg/video/H264.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {

// A packet a transport stream's join writes between two files: a PCR
// packet of the output's clock, or a null packet where the stream keeps
// one rate. Arrival: where its PCR byte arrives, 27 MHz on the join's line.
struct TFillerPacket
{
    std::int64_t Arrival = 0;
    bool PCR = false;
    // A PCR packet in a file's tail: where the packet it stands before
    // stands in its file, and whether the tables follow it.
    std::int64_t Before = 0;
    bool Tables = false;
};

// Another program's clock across a joint of transport streams: where its
// last PCR stands in the file before, how far (27 MHz) ahead of the main
// clock the joint's last PCR packet puts it so that its first PCR in the
// next file follows in time (nothing when it has none there), and how many
// of the joint's PCR packets carry it on, in the file's tail and between
// the files.
struct TClockJoint
{
    std::int64_t End = 0;
    std::optional<std::int64_t> NextAhead;
    std::size_t Packets = 0;
};

// What a transport stream file's pass follows beyond what a program
// stream's does.
struct TTransportFilePlan
{
    TPIDMap Map; // which of its packets go on, and on which PIDs
    // Where its walk begins: its first whole packet, or after its packets
    // that repeat the end of the file before (the packet the file before
    // was cut in, completed, stands before it).
    std::int64_t From = 0;
    std::int64_t Repeat = 0; // bytes of the packets it repeats
    // 27 MHz ticks its PCRs move by: its line's offset, and where a
    // constant rate puts its first packet.
    std::int64_t PCRShift = 0;
    std::uint32_t ArrivalShift = 0; // of 192-byte packets' arrival stamps, modulo 2^30
    // How many versions each of its tables moves by, by the output's key.
    std::map<TTableKey, int> VersionShift;
    std::vector<TFillerPacket> Filler; // written before its first packet
    // PCR packets among its last packets, when its last PCR came too long
    // before its end for the next file's first one.
    std::vector<TFillerPacket> TailPCR;
    // Each other program's clock at the joint after the file (a whole
    // multiplex kept), by the output's PID.
    std::map<std::uint16_t, TClockJoint> Clocks;
    // A later file whose H.264 video begins with an open GOP: the pictures
    // that refer to the file before it and cannot show, and its recovery
    // point's broken link flag, set where it stands (counted in the video's
    // payload bytes from From on) when that changes nothing else.
    std::size_t LeadingPictures = 0;
    std::optional<TFlagPosition> BrokenLink;
};

struct TFilePlan
{
    // The rest of the recording before it (split anywhere): its times stay.
    bool Continues = false;
    // How many bytes at its start complete the packet the file before was
    // cut in; nothing when it completes none.
    std::optional<std::int64_t> Remainder;
    // Its smallest first PTS, as read: where its own line begins.
    std::optional<std::int64_t> FirstPTS;
    // Where that lands on the join's line, its pause included; nothing for
    // the first file, which keeps its stamps, and for a continuation.
    std::optional<std::int64_t> Start;
    // The schedule of its first packs, by where they stand in the file
    // (PlannedPacks[I] has Joint.SCR[I]).
    TJointPlan Joint;
    std::vector<std::int64_t> PlannedPacks;
    // Where the look at its end began: the first pack header of its tail.
    std::int64_t TailFrom = 0;
    // Seconds from the output's first stamp to where it begins.
    double Time = 0;
    // Ticks its DVD cells' elapsed times move on.
    std::int64_t ElapsedShift = 0;
    TTransportFilePlan Transport;
    double Pause() const { return static_cast<double>(Joint.Pause) / ClockRate; }
};

struct TJoinPlan
{
    std::vector<TFilePlan> Files;
    TKeptHeaders Headers;
    // The sequence end code the output keeps (the last one of its video, when
    // only zeros of the video follow it): its file and where it stands there.
    std::optional<std::size_t> SequenceEndFile;
    std::int64_t SequenceEndAt = 0;
    // On the line: the output's first stamp, its first picture and where its
    // pictures and its sound end.
    std::optional<std::int64_t> FirstStamp, FirstPicture, VideoEnd, End;
    // Seconds from the first stamp to the end; 0 when it cannot be told.
    double Duration = 0;
};

} // namespace vantrel
