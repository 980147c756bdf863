#include "join/JointPackets.h"

#include "mpeg/ts/Sections.h"
#include "mpeg/ts/ServiceTable.h"

#include <algorithm>
#include <cmath>

namespace vantrel {

std::vector<TFillerPacket> PlanTailPCRs(const TTransportState& T, const TClockJoints& Clocks,
                                        TTransportEnd& End)
{
    std::vector<TFillerPacket> Tail;
    if (End.TicksPerByte <= 0 || T.SincePCR.empty())
        return Tail;
    double Added = 0; // bytes of the packets put in before
    const auto PCRBefore = [&](double Position) {
        return End.LastPCR + std::llround((Position + Added + PCRByte - T.LastPCRAt) * End.TicksPerByte);
    };
    std::int64_t Last = End.LastPCR, Tables = T.TablesPCR;
    double LastAt = T.LastPCRAt;
    for (std::size_t I = 0; I < T.SincePCR.size(); ++I) {
        const double NextAt = I + 1 < T.SincePCR.size() ? T.SincePCR[I + 1].second : T.Position;
        const bool TablesDue = !T.TablePackets.empty() && PCRBefore(NextAt) - Tables > TablesGap;
        if (PCRBefore(NextAt) - Last <= FillerPCRGap && !TablesDue)
            continue;
        Last = PCRBefore(T.SincePCR[I].second);
        LastAt = T.SincePCR[I].second + Added + PCRByte;
        Tail.push_back({Last, true, T.SincePCR[I].first, TablesDue});
        Tables = TablesDue ? Last : Tables;
        const std::size_t Packets =
            1 + T.CarriedClocks(T.SincePCR[I].first, Clocks).size() + (TablesDue ? T.TablePackets.size() : 0);
        Added += TransportPacketLength * static_cast<double>(Packets);
    }
    End.LastPCR = Last;
    End.SinceLastPCR = T.Position + Added - LastAt;
    return Tail;
}

TClockJoints OtherClocksAtJoint(const TTransportState& T, const std::vector<std::uint16_t>& PCRPIDs)
{
    TClockJoints Clocks;
    for (const auto& [PID, Clock] : T.OtherPCR)
        if (Clock.Ahead && std::find(PCRPIDs.begin(), PCRPIDs.end(), PID) != PCRPIDs.end())
            Clocks[PID].End = Clock.Position;
    return Clocks;
}

void PlanOtherClocks(TClockJoints& Clocks, const TTransportState& T, const std::vector<TFillerPacket>& Tail,
                     const std::vector<TFillerPacket>& Filler, const TTransportHead& Head, std::int64_t Shift)
{
    const auto Between = static_cast<std::size_t>(
        std::count_if(Filler.begin(), Filler.end(), [](const TFillerPacket& F) { return F.PCR; }));
    // The joint's last PCR before the next file's first.
    std::optional<std::int64_t> LastPCR = T.LastPCR;
    for (const std::vector<TFillerPacket>* Packets : {&Tail, &Filler})
        for (const TFillerPacket& F : *Packets)
            LastPCR = F.PCR ? F.Arrival : LastPCR;
    for (auto& [PID, Joint] : Clocks) {
        const std::int64_t End = Joint.End;
        Joint.Packets =
            Between +
            static_cast<std::size_t>(std::count_if(Tail.begin(), Tail.end(),
                                                   [End](const TFillerPacket& F) { return F.Before > End; }));
        const auto First = Head.OtherFirstPCR.find(PID);
        if (First == Head.OtherFirstPCR.end() || !LastPCR)
            continue;
        // A clock whose first PCR comes later in the file than DVB's gap
        // after the joint's last PCR is carried on that much faster: the
        // file's bytes before it then arrive sooner on that clock.
        const std::int64_t Gap = Head.Lead.FirstPCR + Shift + First->second.After - *LastPCR;
        Joint.NextAhead = First->second.Ahead + std::max<std::int64_t>(0, Gap - 2 * FillerPCRGap);
    }
}

void KeepOtherPCR(TTransportState& T, std::uint16_t PID, std::int64_t Value, std::int64_t Position)
{
    TTransportState::TOtherClock& Clock = T.OtherPCR[PID];
    Clock.Last = Value;
    Clock.Position = Position;
    Clock.Carried = 0;
    if (T.LastPCR)
        Clock.Ahead = PCRDistance(std::llround(T.ClockAt(T.Position + PCRByte)), Value);
}

std::int64_t PCRDistance(std::int64_t From, std::int64_t To)
{
    const std::int64_t Ticks = ((To - From) % PCRWrap + PCRWrap) % PCRWrap;
    return Ticks >= PCRWrap / 2 ? Ticks - PCRWrap : Ticks;
}

namespace {

// How far ahead of the joint's clock another clock's next carried PCR stands.
std::int64_t CarriedAhead(TTransportState::TOtherClock& Clock, const TClockJoint& Joint)
{
    const std::int64_t From = Clock.Ahead.value_or(0);
    const std::size_t Step = std::min(++Clock.Carried, Joint.Packets);
    if (!Joint.NextAhead)
        return From;
    // Where the programs' PCRs disagree on the bytes' times (a variable
    // rate's file ends), a clock stands ahead of the main one by other
    // distances in the two files: the joint's packets close the distance in
    // even steps, so that the clock goes on to its first PCR in the next
    // file with no jump. The joint's own steps take half the gap DVB
    // allows; a distance the other half cannot close is another time base,
    // which goes on at the joint's pace until that file's first PCR says
    // the clock jumps.
    const std::int64_t Change = *Joint.NextAhead - From;
    const auto Steps = static_cast<std::int64_t>(Joint.Packets);
    if (Steps == 0 || std::abs(Change) > Steps * FillerPCRGap)
        return From;
    return From + Change * static_cast<std::int64_t>(Step) / Steps;
}

} // namespace

void TJointPackets::Write(TPacketBytes& Packet, std::uint32_t Arrival)
{
    if (SyncOffset(m_Size))
        PatchArrivalStamp(Packet.data(), Arrival & (ArrivalStampWrap - 1));
    m_Output.Write(Packet.data(), m_Size);
    m_State.Position += TransportPacketLength;
}

void TJointPackets::PCRPacket(std::uint16_t PID, std::int64_t PCR, std::uint32_t Arrival)
{
    TTransportState& T = m_State;
    TPacketBytes Packet{};
    std::uint8_t* H = Packet.data() + SyncOffset(m_Size);
    std::fill(H + 4, H + TransportPacketLength, 0xFF);
    H[0] = SyncByte;
    // An adaptation field alone: its flags, the PCR, stuffing. Without a
    // payload the counter stays.
    T.Counter[PID] = std::max<std::int8_t>(T.Counter[PID], 0);
    H[1] = static_cast<std::uint8_t>(PID >> 8);
    H[2] = static_cast<std::uint8_t>(PID);
    H[3] = static_cast<std::uint8_t>(0x20 | T.Counter[PID]);
    H[4] = TransportPacketLength - 5;
    H[5] = 0x10;
    H[10] = 0x7E; // the reserved bits between base and extension
    PatchPCRTicks(H + 6, PCR);
    Write(Packet, Arrival);
}

std::size_t TJointPackets::PCR(std::int64_t PCR, std::uint32_t Arrival, std::int64_t Before,
                               const TClockJoints& Clocks)
{
    TTransportState& T = m_State;
    // The bytes after this packet take their time at the file's fastest
    // rate: exact where the stream keeps one rate.
    const double Rate = T.RateLow > 0 ? T.RateLow : T.TicksPerByte();
    const double At = T.Position + PCRByte;
    PCRPacket(T.PCRPID, PCR, Arrival);
    if (T.LastPCR) {
        T.PCRBefore = *T.LastPCR;
        T.PCRBeforeAt = T.LastPCRAt;
    }
    T.LastPCR = PCR;
    T.LastPCRAt = At;
    T.SincePCR.clear();
    // Every other program's clock whose own PCRs have ended has its PCR
    // with it, so that no clock of a multiplex goes longer without one than
    // the joint's own.
    std::size_t Others = 0;
    for (const std::uint16_t PID : T.CarriedClocks(Before, Clocks)) {
        TTransportState::TOtherClock& Clock = T.OtherPCR[PID];
        const auto Later = std::llround(static_cast<double>(++Others * TransportPacketLength) * Rate);
        const std::int64_t Value = PCR + Later + CarriedAhead(Clock, Clocks.at(PID));
        // A clock that closes a distance backwards never goes back.
        Clock.Last = (PCRDistance(Clock.Last, Value) <= 0 ? Clock.Last + 1 : Value) % PCRWrap;
        PCRPacket(PID, Clock.Last, Arrival + static_cast<std::uint32_t>(Later));
    }
    return Others;
}

void TJointPackets::Null(std::uint32_t Arrival)
{
    TPacketBytes Packet{};
    std::uint8_t* H = Packet.data() + SyncOffset(m_Size);
    std::fill(H + 4, H + TransportPacketLength, 0xFF);
    H[0] = SyncByte;
    H[1] = static_cast<std::uint8_t>(NullPID >> 8);
    H[2] = static_cast<std::uint8_t>(NullPID & 0xFF);
    H[3] = 0x10;
    Write(Packet, Arrival);
}

std::size_t TJointPackets::Tables(std::uint32_t Arrival)
{
    TTransportState& T = m_State;
    for (const auto& [PID, Bytes] : T.TablePackets) {
        TPacketBytes Packet{};
        std::uint8_t* H = Packet.data() + SyncOffset(m_Size);
        std::copy(Bytes.begin(), Bytes.end(), H);
        T.Counter[PID] = static_cast<std::int8_t>((T.Counter[PID] + 1) & 15);
        PatchContinuityCounter(H, static_cast<std::uint8_t>(T.Counter[PID]));
        Write(Packet, Arrival);
    }
    T.TablesPCR = T.LastPCR.value_or(0);
    return T.TablePackets.size();
}

void TJointPackets::KeepTable(const TTransportPacket& Packet, const std::uint8_t* Header, std::uint16_t PID)
{
    // The SDT and the EIT may be two seconds apart; a section over several
    // packets is not sent again.
    if (PID == SDTPID || PID == EITPID || !Packet.PayloadUnitStart || Packet.PayloadLength < 4 ||
        Packet.Scrambling)
        return;
    const std::uint8_t* Payload = Header + (Packet.PayloadOffset - SyncOffset(Packet.Size));
    const std::size_t Length = SectionHeaderLength + (((Payload[2] & 0x0F) << 8) | Payload[3]);
    if (PID == PATPID)
        m_State.TablesPCR = m_State.LastPCR.value_or(0);
    if (Payload[0] == 0 && Length + 1 <= Packet.PayloadLength)
        m_State.TablePackets[PID].assign(Header, Header + TransportPacketLength);
}

} // namespace vantrel
