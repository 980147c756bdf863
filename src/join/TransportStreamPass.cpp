#include "join/TransportStreamPass.h"

#include "join/Continuation.h"
#include "join/JointPackets.h"
#include "join/TransportContinuation.h"
#include "join/TransportJoint.h"
#include "mpeg/TimeStamps.h"
#include "mpeg/ts/Sections.h"
#include "probe/MPEGInfo.h"

#include <algorithm>
#include <cstring>

namespace vantrel {

TTransportStreamPass::TTransportStreamPass(const TPassSettings& Settings, const TMediaInfo& File,
                                           std::uint16_t Program, TJoinPlan& Plan, TJoinState& State,
                                           TByteSource& Source, TOutputFile& Output)
    : m_Settings(Settings), m_Info(File), m_Plan(Plan), m_State(State), m_Source(Source), m_Output(Output),
      m_Kept(KeptStreams(File, Program, Plan.Files[Settings.Index].Transport.Map)),
      m_PIDs(Plan.Files[Settings.Index].Transport.Map.Table()),
      m_Layout(
          FindPacketLayout(Source, 0, ResyncLimit).value_or(TPacketLayout{File.PacketSize, Source.Size()})),
      m_Packets(State.Transport, Output, m_Layout.Size), m_Index(PIDCount, -1), m_Shift(PIDCount, -1)
{
    m_Payloads.State = &State;
    m_Payloads.Plan = &Plan.Files[Settings.Index];
    m_Payloads.Join = &Plan;
    m_Payloads.Index = Settings.Index;
    m_Payloads.Recalc = Settings.RecalcTimecodes;
    m_Payloads.Last = Settings.Index + 1 == Settings.Count;
    m_Payloads.SourceSize = Source.Size();
    m_Payloads.Peek = [this](std::uint16_t PID, std::size_t Count, bool Sections) {
        return m_Reader.PeekPayload(PID, Count, m_PacketEnd, m_Layout.Size, Sections, PeekBytes);
    };
    for (const TKeptStream& Stream : m_Kept.Streams) {
        m_Index[Stream.PID] = static_cast<std::int16_t>(m_Streams.size());
        m_Streams.push_back(std::make_unique<TStreamEdit>(Stream));
    }
    for (const std::uint16_t PID : m_Kept.Tables)
        if (m_Index[PID] == -1 && m_PIDs[PID] != PIDCount) {
            m_Index[PID] = static_cast<std::int16_t>(-2 - static_cast<int>(m_Tables.size()));
            m_Tables.push_back(std::make_unique<TTableEdit>(PID, m_PIDs[PID]));
        }
    m_Reader.ScanProgress = [this](std::int64_t Position) { return m_Stopped = Report(Position); };
}

TTransportStreamPass::~TTransportStreamPass() = default;

std::int64_t TTransportStreamPass::TailFrom(TByteSource& Source)
{
    const std::int64_t From = Source.Size() - TailBytes;
    if (From <= 0)
        return 0;
    const std::optional<TPacketLayout> Layout = FindPacketLayout(Source, From, ResyncLimit);
    return Layout ? Layout->First : Source.Size();
}

void TTransportStreamPass::Begin()
{
    TFilePlan& Plan = File();
    TTimeCorrector& Line = m_State.Line;
    if (m_Settings.Planning)
        PlanFile();
    m_Continues = m_Payloads.Continues = Plan.Continues;
    m_Payloads.Later = IsLaterFile();
    if (m_Continues) {
        Line.ContinueFile();
        Plan.Time = JointTime();
    } else if (m_Settings.RecalcTimecodes && !m_Settings.Planning) {
        Line.BeginFile(Plan.FirstPTS, Plan.Start);
    }
    WriteCutPacket();
    WriteFiller();
    TTransportState& T = Transport();
    T.RateLow = T.RateHigh = 0;
    for (auto& [PID, Clock] : T.OtherPCR)
        Clock.Ahead.reset();
    T.Tail.Reset(m_Layout.Size);
    T.TransportEmpty.clear();
    m_State.Buffers.Reset();
    if (T.PCRPID == 0 && m_Kept.PCRPID < PIDCount && m_PIDs[m_Kept.PCRPID] < PIDCount)
        T.PCRPID = m_PIDs[m_Kept.PCRPID];
    m_Reader.Open(m_Source, TPacketLayout{m_Layout.Size, Plan.Transport.From});
}

void TTransportStreamPass::PlanFile()
{
    TFilePlan& Plan = File();
    TTransportFilePlan& Own = Plan.Transport;
    TTransportState& T = Transport();
    const bool Recalc = m_Settings.RecalcTimecodes;
    Own.From = m_Layout.First;
    Own.Repeat = 0;
    Plan.Remainder.reset();
    // The rest of a recording cut anywhere: the bytes that complete its cut
    // packet, or the packets it repeats of the one before.
    if (IsLaterFile() && Recalc && T.Tail.PacketSize() == m_Layout.Size) {
        if (CompletesCutPacket(m_State.CutTail, m_Layout.First, m_Layout.Size)) {
            Plan.Remainder = m_Layout.First;
        } else {
            const std::vector<std::uint8_t> Tail = T.Tail.Bytes();
            std::vector<std::uint8_t> Head(std::min<std::size_t>(
                Tail.size() + m_Layout.Size, static_cast<std::size_t>(m_Source.Size() - m_Layout.First)));
            Head.resize(m_Source.Read(Head.data(), static_cast<std::uint32_t>(Head.size()), m_Layout.First));
            Own.Repeat =
                static_cast<std::int64_t>(RepeatedPackets(Tail, m_State.CutTail, Head, m_Layout.Size)) *
                m_Layout.Size;
            // A file the one before ends with whole (the same file twice) is
            // no repeat: a piece of a recording goes on after it.
            if (Own.From + Own.Repeat + m_Layout.Size > m_Source.Size())
                Own.Repeat = 0;
            Own.From += Own.Repeat;
        }
    }
    TTransportHead Head =
        ReadTransportHead(m_Source, {m_Layout.Size, Own.From}, m_Kept, Own.Map, m_State.Line.FrameTicks());
    Plan.Continues = IsLaterFile() && Recalc && ContinuesOutput(Head);
    const bool Joint = IsLaterFile() && Recalc && !Plan.Continues;
    Own.LeadingPictures = Joint ? Head.LeadingPictures : 0;
    Own.BrokenLink = Joint && Head.BrokenLink && Head.BrokenLink->Settable ? Head.BrokenLink : std::nullopt;
    if (!Plan.Continues && Plan.Remainder)
        Plan.Remainder.reset();
    if (Plan.Continues) {
        // The rest of the recording is moved as the file before it was.
        const TTransportFilePlan& Before = m_Plan.Files[m_Settings.Index - 1].Transport;
        Own.PCRShift = Before.PCRShift;
        Own.ArrivalShift = Before.ArrivalShift;
        Own.VersionShift = Before.VersionShift;
        return;
    }
    for (const auto& [Key, Section] : Head.Tables)
        if (const int Shift = T.Tables.Shift(Key, Section))
            Own.VersionShift[Key] = Shift;
    if (!Recalc)
        return;
    Plan.FirstPTS = Head.FirstPTS;
    m_State.Line.BeginFile(Plan.FirstPTS);
    if (Head.FirstPTS)
        if (const std::optional<std::int64_t> Anchor = m_State.Line.Peek(Head.Anchor))
            MoveHead(Head, *Anchor - Head.Anchor);
    if (!IsLaterFile()) {
        m_State.FirstStamp = Head.FirstStamp;
        m_Plan.FirstPicture = Head.FirstPicture;
        T.ArrivalRelation = Head.ArrivalRelation;
    } else if (Head.FirstPTS) {
        PlanJoint(Head);
    }
    Plan.Time = JointTime();
}

double TTransportStreamPass::JointTime() const
{
    const std::optional<std::int64_t> Start = m_State.Line.FileStart();
    return Start && m_State.FirstStamp ? static_cast<double>(*Start - *m_State.FirstStamp) / ClockRate : 0;
}

bool TTransportStreamPass::ContinuesOutput(const TTransportHead& Head) const
{
    const TTransportState& T = Transport();
    const TTimeCorrector& Line = m_State.Line;
    if (!T.LastPCR || !Head.FirstPCR || m_State.LastDecode.empty())
        return false;
    // The head's stamps as read, on the output's line.
    const auto Peek = [&](std::int64_t OnItsLine) { return Line.Peek(ClockValue(OnItsLine)); };
    const std::optional<std::int64_t> FirstPCR = Peek(*Head.FirstPCR / 300);
    std::map<std::uint16_t, std::int64_t> FirstDecode;
    for (const auto& [PID, Decode] : Head.FirstDecode)
        if (const std::optional<std::int64_t> Stamp = Peek(Decode))
            FirstDecode[PID] = *Stamp;
    // A variable rate's PCRs tell no time for the bytes after the last one:
    // the clock goes on when the next file's first PCR follows that one.
    const std::int64_t Free = *T.LastPCR / 300;
    return ClockContinues(FirstPCR, FirstDecode, m_State.LastDecode, Free, Line.FrameTicks());
}

void TTransportStreamPass::PlanJoint(TTransportHead& Head)
{
    TFilePlan& Plan = File();
    TTransportFilePlan& Own = Plan.Transport;
    TTransportState& T = Transport();
    TTimeCorrector& Line = m_State.Line;
    if (T.LastPCR) {
        TTransportEnd End = TransportEndOf(T, m_State.Buffers);
        TTransportFilePlan& Before = m_Plan.Files[m_Settings.Index - 1].Transport;
        std::vector<std::uint16_t> Clocks;
        for (const std::uint16_t PID : m_Kept.OtherPCRPIDs)
            Clocks.push_back(m_PIDs[PID]);
        Before.Clocks = OtherClocksAtJoint(T, Clocks);
        Before.TailPCR = PlanTailPCRs(T, Before.Clocks, End);
        const TTransportJoint Joint = PlanTransportJoint(End, Head.Lead);
        Plan.Joint.Pause = Joint.Pause;
        Line.Delay(Joint.Pause);
        Own.PCRShift = 300 * Line.Offset() + Joint.Extra;
        Own.Filler = FillerPackets(Joint, End);
        PlanOtherClocks(Before.Clocks, T, Before.TailPCR, Own.Filler, Head, 300 * Joint.Pause + Joint.Extra);
    } else {
        Own.PCRShift = 300 * Line.Offset();
    }
    Plan.Start = Line.FileStart();
    // Its arrival stamps keep the first file's distance from the clock.
    if (T.ArrivalRelation && Head.ArrivalRelation)
        Own.ArrivalShift = static_cast<std::uint32_t>(
            (Own.PCRShift + *T.ArrivalRelation - *Head.ArrivalRelation) & (ArrivalStampWrap - 1));
}

void TTransportStreamPass::KeepOtherClock(const TTransportPacket& Packet, std::uint8_t* Bytes,
                                          std::uint16_t PID)
{
    TTransportState& T = Transport();
    const std::int64_t Value = (Packet.PCR() + File().Transport.PCRShift) % PCRWrap;
    // Another program's clock steps at the joint by what its own packets
    // leave around it: where that is no step a receiver takes for the same
    // clock, its first PCR says so.
    if (const auto Last = T.OtherPCR.find(PID);
        Last != T.OtherPCR.end() && !m_OtherPCRSeen[PID] && IsLaterFile() && !m_Continues) {
        const std::int64_t Step = PCRDistance(Last->second.Last, Value);
        if (Step <= 0 || Step > MaxPCRStep)
            Bytes[Packet.PCROffset - 1] |= 0x80;
    }
    m_OtherPCRSeen[PID] = true;
    KeepOtherPCR(T, PID, Value, Packet.Position);
}

void TTransportStreamPass::WriteFiller()
{
    TTransportState& T = Transport();
    const std::vector<TFillerPacket>& Filler = File().Transport.Filler;
    const bool Joint = IsLaterFile() && !m_Continues && m_Settings.RecalcTimecodes;
    static const TClockJoints None;
    const TClockJoints& Clocks = IsLaterFile() ? m_Plan.Files[m_Settings.Index - 1].Transport.Clocks : None;
    // The tables go after the first PCR of the joint, in place of null
    // packets where the stream keeps one rate.
    std::size_t Nulls = Joint && Filler.empty() ? m_Packets.Tables(T.ArrivalRelation.value_or(0)) : 0;
    for (std::size_t I = 0; I < Filler.size(); ++I) {
        const auto Arrival = static_cast<std::uint32_t>(Filler[I].Arrival + T.ArrivalRelation.value_or(0));
        // The other clocks' PCR packets take the place of null packets too.
        if (Filler[I].PCR)
            Nulls += m_Packets.PCR(Filler[I].Arrival, Arrival, TJointPackets::AfterFile, Clocks);
        else if (Nulls > 0)
            --Nulls;
        else
            m_Packets.Null(Arrival);
        if (Joint && Filler[I].PCR && (I == 0 || Filler[I].Arrival - T.TablesPCR > TablesGap))
            Nulls += m_Packets.Tables(Arrival);
    }
}

void TTransportStreamPass::WriteCutPacket()
{
    std::vector<std::uint8_t>& Cut = m_State.CutTail;
    const std::optional<std::int64_t> Rest = File().Remainder;
    // A packet the end of the file before cut goes on when this file is the
    // rest of its recording; else what a file could not finish is left out:
    // inside the output it would break the packets' grid.
    if (m_Continues && Rest && Cut.size() + static_cast<std::size_t>(*Rest) == m_Layout.Size) {
        std::vector<std::uint8_t> Packet = Cut;
        Packet.resize(m_Layout.Size);
        m_Source.Read(Packet.data() + Cut.size(), static_cast<std::uint32_t>(*Rest), 0);
        TTransportPacket P;
        if (DecodeTransportPacket(Packet.data(), m_Layout.Size, -static_cast<std::int64_t>(Cut.size()), P) &&
            P.PID < PIDCount && m_PIDs[P.PID] != PIDCount) {
            m_PacketEnd = *Rest;
            WritePacket(P, Packet.data(), m_Continuity.Check(P) == ccDuplicate);
        }
    }
    Cut.clear();
    m_State.CutPacketLength = 0;
}

bool TTransportStreamPass::Walk(std::int64_t From, std::int64_t Until)
{
    if (From > 0) {
        const std::optional<TPacketLayout> Layout = FindPacketLayout(m_Source, From, ResyncLimit);
        m_Reader.Open(m_Source, Layout.value_or(TPacketLayout{m_Layout.Size, m_Source.Size()}));
        for (const auto& Stream : m_Streams)
            Stream->Reset();
        for (const auto& Table : m_Tables)
            Table->Reset();
        m_Continuity.Reset();
    }
    const std::int64_t KeepFrom = RepeatFrom();
    while (PassPlainPackets(Until) && m_Reader.NextPacket()) {
        const TTransportPacket& P = m_Reader.Packet();
        if (Until >= 0 && P.Position >= Until) {
            m_Reader.Open(m_Source, TPacketLayout{P.Size, P.Position});
            return true;
        }
        // Progress is told every few packets, about as often as a program
        // stream's pass tells it.
        if (++m_Walked % ReportPackets == 0 && Report(P.End()))
            return false;
        // The tail is kept as the file has it, for a next file that repeats it.
        if (P.Position >= KeepFrom)
            Transport().Tail.Add(m_Reader.Bytes());
        if (m_PIDs[P.PID] == PIDCount)
            continue;
        const bool Duplicate = m_Continuity.Check(P) == ccDuplicate;
        m_PacketEnd = P.End();
        const std::vector<TFillerPacket>& TailPCR = File().Transport.TailPCR;
        if (m_TailPCR < TailPCR.size() && TailPCR[m_TailPCR].Before == P.Position) {
            const std::uint32_t Arrival = P.ArrivalStamp + File().Transport.ArrivalShift;
            m_Packets.PCR(TailPCR[m_TailPCR].Arrival, Arrival, P.Position, File().Transport.Clocks);
            if (TailPCR[m_TailPCR++].Tables)
                m_Packets.Tables(Arrival);
        }
        WritePacket(P, m_Reader.Bytes(), Duplicate);
    }
    if (m_Stopped)
        return false;
    EndWalk();
    return true;
}

// Most packets carry the middle of a picture and need nothing but their PID and
// counter set: runs of them in the reader's block are written in one go, read
// from their headers alone. False when the join was stopped.
bool TTransportStreamPass::PassPlainPackets(std::int64_t Until)
{
    const std::uint16_t Size = m_Reader.PacketSize();
    const std::size_t Sync = SyncOffset(Size);
    std::int64_t Stop = Until >= 0 ? Until : m_Source.Size();
    if (const std::vector<TFillerPacket>& TailPCR = File().Transport.TailPCR; m_TailPCR < TailPCR.size())
        Stop = std::min(Stop, TailPCR[m_TailPCR].Before);
    // A run ends at a packet to pass the careful way, or goes on in the next
    // one where the buffer or the block was full.
    const auto Passes = [this](std::uint16_t PID) {
        return m_Index[PID] >= 0 && m_Shift[PID] >= 0 && m_PIDs[PID] != PIDCount &&
               m_Streams[static_cast<std::size_t>(m_Index[PID])]->PassesAsItIs(m_Payloads);
    };
    for (bool More = true; More && !m_Stopped;) {
        const std::span<const std::uint8_t> Ahead = m_Reader.LoadAhead();
        TEndCodeScan Ends(m_Payloads, Ahead);
        const std::int64_t Room = std::max<std::int64_t>(Stop - m_Reader.End(), 0) / Size;
        const std::size_t Count = CountPlainPackets(Ahead, Size, std::min<std::size_t>(RunPackets, Room), Ends,
                                                    m_Continuity, Passes);
        More = Count == RunPackets || (Count > 0 && (Count + 1) * Size + Sync >= Ahead.size());
        if (Count == 0)
            break;
        WritePlainPackets(Ahead.data(), Count);
        // Progress is told about as often as elsewhere: a run is a few kilobytes.
        m_Stopped = Report(m_Reader.End());
    }
    return !m_Stopped;
}

void TTransportStreamPass::WritePlainPackets(const std::uint8_t* Packets, std::size_t Count)
{
    TTransportState& T = Transport();
    const std::uint16_t Size = m_Reader.PacketSize();
    const std::size_t Sync = SyncOffset(Size);
    const std::uint32_t ArrivalShift = Sync ? File().Transport.ArrivalShift : 0;
    const std::uint16_t* const PIDs = m_PIDs.data();
    const std::int8_t* const Shift = m_Shift.data();
    std::uint8_t* const Out = m_Output.Claim(Count * Size);
    std::memcpy(Out, Packets, Count * Size);
    for (std::uint8_t* P = Out; P != Out + Count * Size; P += Size) {
        std::uint8_t* H = P + Sync;
        const std::uint16_t In = PacketPID(H), PID = PIDs[In];
        const auto C = static_cast<std::uint8_t>((H[3] + Shift[In]) & 0x0F);
        PatchPIDAndCounter(H, PID, C);
        T.Counter[PID] = static_cast<std::int8_t>(C);
        if (ArrivalShift)
            PatchArrivalStamp(P, DecodeArrivalStamp(P) + ArrivalShift);
    }
    const std::int64_t First = m_Reader.End(), End = First + static_cast<std::int64_t>(Count * Size);
    // Near the file's end the packets are kept for a next file that repeats
    // them, and tell the join what they carry, as elsewhere.
    const std::int64_t KeepFrom = RepeatFrom(), LearnFrom = TStreamEdit::LearnsFrom(m_Payloads);
    const std::int64_t From = std::min(KeepFrom, LearnFrom);
    for (std::int64_t At = From <= First ? First : End - (End - From) / Size * Size; At < End; At += Size) {
        const auto K = static_cast<std::size_t>(At - First);
        if (At >= KeepFrom)
            T.Tail.Add(Packets + K);
        if (At >= LearnFrom)
            m_Streams[static_cast<std::size_t>(m_Index[PacketPID(Packets + K + Sync)])]->Learn(
                m_Payloads, At, Out + K + Sync + 4, TransportPacketLength - 4, false);
    }
    const std::size_t Since = T.SincePCR.size(), Kept = std::min(Count, MaxSincePCR - std::min(MaxSincePCR, Since));
    T.SincePCR.resize(Since + Kept);
    for (std::size_t K = 0; K < Kept; ++K)
        T.SincePCR[Since + K] = {First + static_cast<std::int64_t>(K * Size),
                                 T.Position + static_cast<double>(K * TransportPacketLength)};
    T.Position += static_cast<double>(Count * TransportPacketLength);
    m_Reader.Skip(Count);
    m_PacketEnd = m_Reader.End();
}

void TTransportStreamPass::EndWalk()
{
    for (const auto& Stream : m_Streams)
        Stream->Finish(m_Payloads);
    const std::int64_t At = m_Reader.End(), Rest = m_Source.Size() - At;
    if (Rest <= 0 || Rest >= m_Layout.Size)
        return;
    std::vector<std::uint8_t> Bytes(static_cast<std::size_t>(Rest));
    Bytes.resize(m_Source.Read(Bytes.data(), static_cast<std::uint32_t>(Rest), At));
    // The last file ends the output as it ends; a packet the end of another
    // one cut waits for the next file to complete it.
    if (Last())
        m_Output.Write(Bytes.data(), Bytes.size());
    else
        m_State.CutTail = std::move(Bytes);
}

std::uint8_t TTransportStreamPass::Counter(const TTransportPacket& Packet, std::uint16_t PID)
{
    std::int8_t& Shift = m_Shift[Packet.PID];
    if (Shift < 0) {
        TTransportState& T = Transport();
        const int Last = T.Counter[PID];
        // Each PID's counter goes on from the file before's, as the rest of a
        // recording goes on as the file before it did.
        Shift = m_Continues ? T.CounterShift[PID]
                : IsLaterFile() && Last >= 0
                    ? static_cast<std::int8_t>(
                          (Last + (Packet.HasPayload ? 1 : 0) - Packet.ContinuityCounter) & 15)
                    : 0;
        T.CounterShift[PID] = Shift;
    }
    return static_cast<std::uint8_t>((Packet.ContinuityCounter + Shift) & 15);
}

void TTransportStreamPass::WritePacket(const TTransportPacket& Packet, const std::uint8_t* Bytes,
                                       bool Duplicate)
{
    TTransportState& T = Transport();
    const std::uint16_t PID = m_PIDs[Packet.PID], Size = Packet.Size;
    std::uint8_t* Out = m_Output.Claim(Size);
    try {
        std::memcpy(Out, Bytes, Size);
        std::uint8_t* H = Out + SyncOffset(Size);
        const std::uint8_t C = PID == NullPID ? Packet.ContinuityCounter : Counter(Packet, PID);
        PatchPIDAndCounter(H, PID, C);
        if (PID != NullPID)
            T.Counter[PID] = static_cast<std::int8_t>(C);
        if (const std::uint32_t Shift = File().Transport.ArrivalShift; Shift && SyncOffset(Size))
            PatchArrivalStamp(Out, Packet.ArrivalStamp + Shift);
        if (Packet.AdaptationValid)
            KeepClock(Packet, Out, PID);
        if (PID == T.PCRPID && Packet.HasPCR)
            T.SincePCR.clear();
        else if (T.SincePCR.size() < MaxSincePCR)
            T.SincePCR.emplace_back(Packet.Position, T.Position);
        if (const std::int16_t I = m_Index[Packet.PID]; I >= 0) {
            m_Streams[static_cast<std::size_t>(I)]->Edit(m_Payloads, Packet, Out, Duplicate);
        } else if (I < -1) {
            m_Tables[static_cast<std::size_t>(-2 - I)]->Edit(m_Payloads, Packet, Out, Duplicate);
            m_Packets.KeepTable(Packet, H, PID);
        }
    } catch (...) {
        m_Output.Unclaim(Size);
        throw;
    }
    T.Position += TransportPacketLength;
}

void TTransportStreamPass::KeepClock(const TTransportPacket& Packet, std::uint8_t* Bytes, std::uint16_t PID)
{
    if (!Packet.HasPCR)
        return;
    TTransportState& T = Transport();
    const std::int64_t Shift = File().Transport.PCRShift;
    if (m_Settings.RecalcTimecodes && Shift != 0)
        PatchPCRTicks(Bytes + Packet.PCROffset, Packet.PCR() + Shift);
    if (PID != T.PCRPID) {
        KeepOtherClock(Packet, Bytes, PID);
        return;
    }
    if (!m_Settings.RecalcTimecodes) {
        // A later file keeps its clock: its first PCR says the clock jumps.
        if (IsLaterFile() && !m_PCRSeen)
            Bytes[Packet.PCROffset - 1] |= 0x80;
        m_PCRSeen = true;
        return;
    }
    // On the join's line, as the file's stamps are.
    const TTimeCorrector& Line = m_State.Line;
    const std::optional<std::int64_t> Base = Line.Peek(Packet.PCRBase);
    const std::int64_t Value =
        Base ? 300 * *Base + Packet.PCRExtension + (Shift - 300 * Line.Offset()) : Packet.PCR() + Shift;
    const double At = T.Position + PCRByte;
    if (T.LastPCR) {
        T.PCRBefore = *T.LastPCR;
        T.PCRBeforeAt = T.LastPCRAt;
        // Only the file's own steps tell its rate.
        if (m_PCRSeen && At > T.LastPCRAt) {
            const double Rate = static_cast<double>(Value - *T.LastPCR) / (At - T.LastPCRAt);
            T.RateLow = T.RateLow > 0 ? std::min(T.RateLow, Rate) : Rate;
            T.RateHigh = std::max(T.RateHigh, Rate);
        }
    }
    m_PCRSeen = true;
    T.LastPCR = Value;
    T.LastPCRAt = At;
}

} // namespace vantrel
