#include "join/JointPackets.h"

#include "mpeg/ts/Sections.h"

#include <algorithm>
#include <cmath>

namespace vantrel {

std::vector<TFillerPacket> PlanTailPCRs(const TTransportState& T, TTransportEnd& End)
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
        Added += TransportPacketLength * (TablesDue ? 1.0 + static_cast<double>(T.TablePackets.size()) : 1.0);
    }
    End.LastPCR = Last;
    End.SinceLastPCR = T.Position + Added - LastAt;
    return Tail;
}

void TJointPackets::Write(TPacketBytes& Packet, std::uint32_t Arrival)
{
    if (SyncOffset(m_Size))
        PatchArrivalStamp(Packet.data(), Arrival & (ArrivalStampWrap - 1));
    m_Output.Write(Packet.data(), m_Size);
    m_State.Position += TransportPacketLength;
}

void TJointPackets::PCR(std::int64_t PCR, std::uint32_t Arrival)
{
    TTransportState& T = m_State;
    TPacketBytes Packet{};
    std::uint8_t* H = Packet.data() + SyncOffset(m_Size);
    std::fill(H + 4, H + TransportPacketLength, 0xFF);
    H[0] = SyncByte;
    // An adaptation field alone: its flags, the PCR, stuffing. Without a
    // payload the counter stays.
    const std::uint16_t PID = T.PCRPID;
    T.Counter[PID] = std::max<std::int8_t>(T.Counter[PID], 0);
    H[1] = static_cast<std::uint8_t>(PID >> 8);
    H[2] = static_cast<std::uint8_t>(PID);
    H[3] = static_cast<std::uint8_t>(0x20 | T.Counter[PID]);
    H[4] = TransportPacketLength - 5;
    H[5] = 0x10;
    H[10] = 0x7E; // the reserved bits between base and extension
    PatchPCRTicks(H + 6, PCR);
    if (T.LastPCR) {
        T.PCRBefore = *T.LastPCR;
        T.PCRBeforeAt = T.LastPCRAt;
    }
    T.LastPCR = PCR;
    T.LastPCRAt = T.Position + PCRByte;
    T.SincePCR.clear();
    Write(Packet, Arrival);
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
    // The SDT may be two seconds apart; a section over several packets is
    // not sent again.
    if (PID == SDTPID || !Packet.PayloadUnitStart || Packet.PayloadLength < 4 || Packet.Scrambling)
        return;
    const std::uint8_t* Payload = Header + (Packet.PayloadOffset - SyncOffset(Packet.Size));
    const std::size_t Length = SectionHeaderLength + (((Payload[2] & 0x0F) << 8) | Payload[3]);
    if (PID == PATPID)
        m_State.TablesPCR = m_State.LastPCR.value_or(0);
    if (Payload[0] == 0 && Length + 1 <= Packet.PayloadLength)
        m_State.TablePackets[PID].assign(Header, Header + TransportPacketLength);
}

} // namespace vantrel
