// The packets a join of transport streams writes of its own, between and
// at the end of its files' packets: PCR packets that keep the gaps of every
// program's clock within DVB's 40 ms across a joint, null packets where the stream keeps
// one rate, and the PAT and PMTs sent again so that a receiver finds them
// within 0.5 s across it. Every one continues its PID's counter as the
// output has it; none takes a counter step of its own but the tables.
#pragma once

#include "io/OutputFile.h"
#include "join/JoinPlan.h"
#include "join/JoinState.h"
#include "join/TransportJoint.h"
#include "join/TransportLead.h"
#include "mpeg/ts/TransportPacket.h"

#include <array>
#include <cstdint>
#include <limits>
#include <map>
#include <vector>

namespace vantrel {

// The PAT and the PMTs are sent again at a joint after this long: DVB asks
// for them every 0.5 s, and the PCR before a PAT may be 80 ms older than it.
constexpr std::int64_t TablesGap = SystemClockRate * 2 / 5;
// The packets since the last PCR followed for the tail's PCR packets.
constexpr std::size_t MaxSincePCR = 8192;

using TClockJoints = std::map<std::uint16_t, TClockJoint>;

// The PCR packets among the packets written since the output's last PCR
// (State.SincePCR) that keep the clock within FillerPCRGap of itself, and
// the tables within TablesGap, up to the next file's first packet. A PCR
// packet's bytes, and those of the other clocks' PCR packets with it, take
// their time: the packets after them arrive as much later. End is moved on
// to the last of them.
std::vector<TFillerPacket> PlanTailPCRs(const TTransportState& State, const TClockJoints& Clocks,
                                        TTransportEnd& End);

// The other programs' clocks at a joint (a whole multiplex kept): those of
// the file before (State) that are the PCR PIDs of the other programs kept
// (the output's), where their last PCRs stand in it. A PCR on a PID no
// program takes its clock from has no packets of the joint's.
TClockJoints OtherClocksAtJoint(const TTransportState& State, const std::vector<std::uint16_t>& PCRPIDs);
// The rest of them once the joint is planned: how many of its PCR packets
// (Tail, in the file before; Filler, between the files) carry each clock
// on, and how far ahead of the main clock the last of them puts it, for the
// next file (Head, moved by Shift 27 MHz ticks more) to go on from there.
void PlanOtherClocks(TClockJoints& Clocks, const TTransportState& State,
                     const std::vector<TFillerPacket>& Tail, const std::vector<TFillerPacket>& Filler,
                     const TTransportHead& Head, std::int64_t Shift);
// Another program's PCR as written (Value) by the packet at Position of its
// file, with where the main clock stands there.
void KeepOtherPCR(TTransportState& State, std::uint16_t PID, std::int64_t Value, std::int64_t Position);
// The 27 MHz step From to To on the wrapping clock, within half the wrap.
std::int64_t PCRDistance(std::int64_t From, std::int64_t To);

class TJointPackets
{
public:
    // Size: of the output's packets (188, 192 or 204).
    TJointPackets(TTransportState& State, TOutputFile& Output, std::uint16_t Size)
        : m_State(State), m_Output(Output), m_Size(Size)
    {
    }
    // A PCR packet of the joint's clock, the adaptation field alone, and one
    // of each other program's clock after it whose PCRs ended before the
    // last file's packet at Before (Clocks: at the joint after that file);
    // returns how many of those.
    std::size_t PCR(std::int64_t PCR, std::uint32_t Arrival, std::int64_t Before, const TClockJoints& Clocks);
    // Between two files: every clock of the file before.
    static constexpr std::int64_t AfterFile = std::numeric_limits<std::int64_t>::max();
    void Null(std::uint32_t Arrival);
    // The tables the output sent last, again; returns how many packets.
    std::size_t Tables(std::uint32_t Arrival);
    // Keeps a table packet as written (Header: its sync byte) when it holds
    // a whole section of the PAT or a PMT.
    void KeepTable(const TTransportPacket& Packet, const std::uint8_t* Header, std::uint16_t PID);

private:
    // Room for a packet of any size, its first m_Size bytes written.
    using TPacketBytes = std::array<std::uint8_t, TransportPacketLength + ParityLength>;
    void Write(TPacketBytes& Packet, std::uint32_t Arrival);
    void PCRPacket(std::uint16_t PID, std::int64_t PCR, std::uint32_t Arrival);

    TTransportState& m_State;
    TOutputFile& m_Output;
    std::uint16_t m_Size;
};

} // namespace vantrel
