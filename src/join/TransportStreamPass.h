// One file's pass through a join of transport streams: every packet of the
// programs kept written as it is but for the fields the join moves (the
// file moved in time as a whole: its PCRs, the PTS, DTS and ESCR of its PES
// headers, the arrival stamps of 192-byte packets; its continuity counters
// going on from the file before), its tables in the output's PIDs and
// versions, and in MPEG-2 video the end codes and the broken link a joint
// needs. Before a later file's first packet stand the packets its joint
// planned (PCR packets, and null packets where the stream keeps one rate).
// The same pass plans the file when the join's plan is made (over its head,
// and its tail into nowhere) and writes it after.
#pragma once

#include "io/OutputFile.h"
#include "join/JoinPlan.h"
#include "join/JoinState.h"
#include "join/JointPackets.h"
#include "join/ProgramStreamPass.h"
#include "join/TransportLead.h"
#include "join/TransportPayloads.h"
#include "mpeg/ts/TransportStreamReader.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace vantrel {

class TTransportStreamPass
{
public:
    // File: the file's record; Program: the program the join keeps (0: all).
    TTransportStreamPass(const TPassSettings& Settings, const TMediaInfo& File, std::uint16_t Program,
                         TJoinPlan& Plan, TJoinState& State, TByteSource& Source, TOutputFile& Output);
    ~TTransportStreamPass();
    TTransportStreamPass(const TTransportStreamPass&) = delete;
    TTransportStreamPass& operator=(const TTransportStreamPass&) = delete;

    // How the file begins: whether it goes on from the file before (its
    // cut packet completed, its repeat of that file's end left out), where
    // it lands on the line, its joint. Writes what stands before its first
    // packet: the cut packet, the joint's packets.
    void Begin();
    // Walks the file from the first packet at or after From (0: from where
    // Begin left it) to its end, or (Until >= 0) up to the first packet at
    // or after Until; false when the walk was stopped.
    bool Walk(std::int64_t From = 0, std::int64_t Until = -1);

    // Where the look at a file's end begins, as for program streams: the
    // first whole packet in its last TailBytes (0 for a short file).
    static std::int64_t TailFrom(TByteSource& Source);
    static constexpr std::int64_t TailBytes = TProgramStreamPass::TailBytes;
    // The end of a file whose packets are kept for the next one's repeat.
    static constexpr std::int64_t RepeatBytes = 2 << 20;
    // How far a header or a section that runs on into later packets is
    // looked for.
    static constexpr std::int64_t PeekBytes = 1 << 20;
    // The largest step of a clock that needs no discontinuity indicator.
    static constexpr std::int64_t MaxPCRStep = SystemClockRate / 10;

private:
    TFilePlan& File() const { return m_Plan.Files[m_Settings.Index]; }
    bool Last() const { return m_Settings.Index + 1 == m_Settings.Count; }
    bool IsLaterFile() const { return m_Settings.Index > 0; }
    TTransportState& Transport() const { return m_State.Transport; }
    void PlanFile();
    double JointTime() const;
    bool ContinuesOutput(const TTransportHead& Head) const;
    void PlanJoint(TTransportHead& Head);
    void WriteFiller();
    void KeepOtherClock(const TTransportPacket& Packet, std::uint8_t* Bytes, std::uint16_t PID);

    void WriteCutPacket();
    void WritePacket(const TTransportPacket& Packet, const std::uint8_t* Bytes, bool Duplicate);
    // Where the tail kept for a next file that repeats it begins.
    std::int64_t RepeatFrom() const { return m_Source.Size() - RepeatBytes; }
    bool PassPlainPackets(std::int64_t Until);
    // The reader's next Count packets, from Packets: their PIDs and counters
    // the output's, nothing else looked at.
    void WritePlainPackets(const std::uint8_t* Packets, std::size_t Count);
    static constexpr std::size_t RunPackets = 64; // plain packets written at a time
    std::uint8_t Counter(const TTransportPacket& Packet, std::uint16_t PID);
    void KeepClock(const TTransportPacket& Packet, std::uint8_t* Bytes, std::uint16_t PID);
    void EndWalk();
    bool Report(std::int64_t Position) { return m_Settings.Progress && m_Settings.Progress(Position); }

    const TPassSettings m_Settings;
    const TMediaInfo& m_Info;
    TJoinPlan& m_Plan;
    TJoinState& m_State;
    TByteSource& m_Source;
    TOutputFile& m_Output;
    TKeptStreams m_Kept;
    std::vector<std::uint16_t> m_PIDs; // the output's PID of each PID; PIDCount: left out
    TPacketLayout m_Layout;
    TTransportStreamReader m_Reader;
    TJointPackets m_Packets;
    TContinuityTracker m_Continuity;
    bool m_Continues = false;
    bool m_Stopped = false;
    bool m_PCRSeen = false;     // of the file's clock
    std::uint32_t m_Walked = 0; // walked, for the progress report
    static constexpr std::uint32_t ReportPackets = 8;
    std::size_t m_TailPCR = 0; // the next of the plan's PCR packets in the tail
    std::vector<bool> m_OtherPCRSeen = std::vector<bool>(PIDCount, false); // in this file
    std::int64_t m_PacketEnd = 0; // of the packet being written, in its file
    TPayloadContext m_Payloads;
    std::vector<std::int16_t> m_Index; // into m_Streams or, below -1, m_Tables
    std::vector<std::unique_ptr<TStreamEdit>> m_Streams;
    std::vector<std::unique_ptr<TTableEdit>> m_Tables;
    std::vector<std::int8_t> m_Shift; // of each PID's counters; -1 until its first packet
};

} // namespace vantrel
