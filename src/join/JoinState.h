// What the passes of a join carry from one file to the next: the join's
// time line, what the output's streams and buffers hold where a file ends,
// and what of the file before the next one may go on with.
#pragma once

#include "join/AccessUnits.h"
#include "join/JoinPlan.h"
#include "join/MPEGTimeCorrect.h"
#include "join/TableEdits.h"
#include "join/TransportContinuation.h"
#include "mpeg/ts/TransportPacket.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace vantrel {

// What a transport stream's output is where a file ends.
struct TTransportState
{
    TTransportState() { Counter.fill(-1); }
    // The last continuity counter written on each PID (-1: none yet), and
    // how far the last file moved its counters, for one that goes on.
    std::array<std::int8_t, PIDCount> Counter;
    std::array<std::int8_t, PIDCount> CounterShift{};
    TTableVersions Tables;
    // Its clock: the PID of the PCRs the joints keep, the last two PCRs
    // (27 MHz on the join's line) and where their bytes stand; positions
    // count 188 bytes a packet written.
    std::uint16_t PCRPID = 0;
    std::optional<std::int64_t> LastPCR;
    double LastPCRAt = 0;
    std::int64_t PCRBefore = 0;
    double PCRBeforeAt = 0;
    double Position = 0;
    // The packets written since the last PCR: where each stands in its file
    // and in the output.
    std::vector<std::pair<std::int64_t, double>> SincePCR;
    // The ticks a byte between two PCRs of the last file, lowest and
    // highest: the stream is of one rate when they agree.
    double RateLow = 0, RateHigh = 0;
    // When each PID's transport buffer is empty again.
    std::map<std::uint16_t, double> TransportEmpty;
    // The first file's arrival stamps less its PCRs (192-byte packets).
    std::optional<std::uint32_t> ArrivalRelation;
    // The clocks of the other programs kept (a whole multiplex), by PID:
    // the last PCR written, where the last real one stood in the last file
    // and how far it was ahead of the joint's clock there (nothing when the
    // last file had none of it, or the joint's clock had no PCR yet), and
    // how many of a joint's PCR packets have carried it on since.
    struct TOtherClock
    {
        std::int64_t Last = 0;
        std::int64_t Position = 0;
        std::optional<std::int64_t> Ahead;
        std::size_t Carried = 0;
    };
    std::map<std::uint16_t, TOtherClock> OtherPCR;
    // The last packet of the PAT and of each PMT that held a whole section,
    // as written (188 bytes): sent again at a joint, so that a receiver
    // finds them in time across it.
    std::map<std::uint16_t, std::vector<std::uint8_t>> TablePackets;
    std::int64_t TablesPCR = 0; // the last PCR before the last PAT
    // The packets that ended the file before, as read.
    TPacketTail Tail;

    // The joint's clock at Position, at the rate of its last two PCRs.
    double ClockAt(double Position) const
    {
        return static_cast<double>(LastPCR.value_or(0)) + (Position - LastPCRAt) * TicksPerByte();
    }
    // The other clocks a joint's PCR packet before the last file's packet at
    // Before carries on: those whose own PCRs have ended there (Joints: the
    // clocks at the joint after that file, as the plan found them).
    std::vector<std::uint16_t> CarriedClocks(std::int64_t Before,
                                             const std::map<std::uint16_t, TClockJoint>& Joints) const
    {
        std::vector<std::uint16_t> PIDs;
        for (const auto& [PID, Clock] : OtherPCR)
            if (const auto Joint = Joints.find(PID);
                Clock.Ahead && Joint != Joints.end() && Joint->second.End < Before)
                PIDs.push_back(PID);
        return PIDs;
    }

    double TicksPerByte() const
    {
        return LastPCR && LastPCRAt > PCRBeforeAt
                   ? static_cast<double>(*LastPCR - PCRBefore) / (LastPCRAt - PCRBeforeAt)
                   : 0;
    }
};

struct TJoinState
{
    TTimeCorrector Line;
    // The last decode stamp written of each stream (private stream 1's by
    // sub-stream, a transport stream's by the output's PID).
    std::map<std::uint16_t, std::int64_t> LastDecode;
    // A packet cut by the end of the file before, held back: the rest of it
    // starts a file that continues it.
    std::vector<std::uint8_t> CutTail;
    std::size_t CutPacketLength = 0; // of a whole packet held back, or 0
    // The streams written near the end of the file before: what still
    // waits in the buffers at its joint.
    TBufferModel Buffers;
    std::optional<std::int64_t> FirstStamp; // of the output
    // The last sequence end code while only zeros of the video followed it:
    // its file and where it stands there.
    std::optional<std::pair<std::size_t, std::int64_t>> SequenceEnd;
    std::uint32_t MaxMuxRate = 0; // of the packs written
    TTransportState Transport;
};

} // namespace vantrel
