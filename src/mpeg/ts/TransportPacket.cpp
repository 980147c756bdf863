#include "mpeg/ts/TransportPacket.h"

#include <utility>

namespace vantrel {

namespace {

// The adaptation field (ISO/IEC 13818-1, 2.4.3.4) at A, Length bytes after
// its length byte: flags (discontinuity, random access, ES priority, PCR,
// OPCR, splicing point, private data, extension), then the fields the flags
// announce, then stuffing.
void DecodeAdaptationField(const std::uint8_t* A, std::uint8_t Length, std::uint8_t Offset,
                           TTransportPacket& Packet)
{
    if (Length == 0)
        return;
    const std::uint8_t Flags = A[0];
    Packet.Discontinuity = (Flags & 0x80) != 0;
    Packet.RandomAccess = (Flags & 0x40) != 0;
    Packet.ESPriority = (Flags & 0x20) != 0;
    std::uint32_t At = 1;
    const auto Fits = [&](std::uint32_t N) { return At + N <= Length; };
    if ((Flags & 0x10) != 0 && Fits(PCRLength)) {
        Packet.HasPCR = true;
        Packet.PCRBase = DecodePCRBase(A + At);
        Packet.PCRExtension = DecodePCRExtension(A + At);
        Packet.PCROffset = static_cast<std::uint8_t>(Offset + At);
        At += PCRLength;
    }
    if ((Flags & 0x08) != 0 && Fits(PCRLength)) {
        Packet.OPCROffset = static_cast<std::uint8_t>(Offset + At);
        At += PCRLength;
    }
    if ((Flags & 0x04) != 0 && Fits(1)) {
        Packet.HasSplice = true;
        Packet.SpliceCountdown = static_cast<std::int8_t>(A[At]);
        At += 1;
    }
    if ((Flags & 0x02) != 0 && Fits(1))
        At += 1 + A[At];
    if ((Flags & 0x01) != 0 && Fits(1))
        At += 1 + A[At];
    // What is left is stuffing when it is all 0xFF; count it from the end.
    std::uint32_t End = Length;
    while (End > At && A[End - 1] == 0xFF)
        --End;
    Packet.Stuffing = static_cast<std::uint8_t>(Length - End);
}

} // namespace

bool DecodeTransportPacket(const std::uint8_t* Bytes, std::uint16_t Size, std::int64_t Position,
                           TTransportPacket& Packet)
{
    const std::uint16_t Sync = SyncOffset(Size);
    const std::uint8_t* H = Bytes + Sync;
    if (H[0] != SyncByte)
        return false;
    Packet = TTransportPacket{};
    Packet.Position = Position;
    Packet.Size = Size;
    if (Sync != 0) {
        Packet.CopyPermission = Bytes[0] >> 6;
        Packet.ArrivalStamp = DecodeArrivalStamp(Bytes);
    }
    // sync | e u p PID(5) | PID(8) | scrambling(2) adaptation(2) counter(4)
    Packet.TransportError = (H[1] & 0x80) != 0;
    Packet.PayloadUnitStart = (H[1] & 0x40) != 0;
    Packet.Priority = (H[1] & 0x20) != 0;
    Packet.PID = PacketPID(H);
    Packet.Scrambling = H[3] >> 6;
    Packet.HasAdaptation = (H[3] & 0x20) != 0;
    Packet.HasPayload = (H[3] & 0x10) != 0;
    Packet.ContinuityCounter = H[3] & 0x0F;
    std::uint32_t At = 4;
    if (Packet.HasAdaptation) {
        Packet.AdaptationLength = H[4];
        // At most the rest of the packet.
        if (H[4] > TransportPacketLength - 5) {
            Packet.AdaptationValid = false;
            return true;
        }
        DecodeAdaptationField(H + 5, H[4], static_cast<std::uint8_t>(Sync + 5), Packet);
        At = 5u + H[4];
    }
    if (Packet.HasPayload) {
        Packet.PayloadOffset = static_cast<std::uint8_t>(Sync + At);
        Packet.PayloadLength = static_cast<std::uint8_t>(TransportPacketLength - At);
    }
    return true;
}

std::int64_t DecodePCRBase(const std::uint8_t* Field)
{
    return (std::int64_t{Field[0]} << 25) | (std::int64_t{Field[1]} << 17) | (std::int64_t{Field[2]} << 9) |
           (std::int64_t{Field[3]} << 1) | (Field[4] >> 7);
}

std::uint16_t DecodePCRExtension(const std::uint8_t* Field)
{
    return static_cast<std::uint16_t>(((Field[4] & 1) << 8) | Field[5]);
}

void PatchPCR(std::uint8_t* Field, std::int64_t Base, std::uint16_t Extension)
{
    Base = ClockValue(Base);
    Field[0] = static_cast<std::uint8_t>(Base >> 25);
    Field[1] = static_cast<std::uint8_t>(Base >> 17);
    Field[2] = static_cast<std::uint8_t>(Base >> 9);
    Field[3] = static_cast<std::uint8_t>(Base >> 1);
    Field[4] = static_cast<std::uint8_t>(((Base & 1) << 7) | (Field[4] & 0x7E) | ((Extension >> 8) & 1));
    Field[5] = static_cast<std::uint8_t>(Extension);
}

void PatchPCRTicks(std::uint8_t* Field, std::int64_t Ticks)
{
    Ticks = ((Ticks % PCRWrap) + PCRWrap) % PCRWrap;
    PatchPCR(Field, Ticks / PCRExtensionCount, static_cast<std::uint16_t>(Ticks % PCRExtensionCount));
}

std::uint32_t DecodeArrivalStamp(const std::uint8_t* Field)
{
    return ((Field[0] & 0x3Fu) << 24) | (Field[1] << 16) | (Field[2] << 8) | Field[3];
}

void PatchArrivalStamp(std::uint8_t* Field, std::uint32_t Stamp)
{
    Field[0] = static_cast<std::uint8_t>((Field[0] & 0xC0) | ((Stamp >> 24) & 0x3F));
    Field[1] = static_cast<std::uint8_t>(Stamp >> 16);
    Field[2] = static_cast<std::uint8_t>(Stamp >> 8);
    Field[3] = static_cast<std::uint8_t>(Stamp);
}

void TContinuityTracker::Reset()
{
    m_Last.fill(-1);
    m_Repeated.fill(false);
}

TContinuity TContinuityTracker::Check(const TTransportPacket& Packet)
{
    // A null packet's counter means nothing.
    if (Packet.PID == NullPID)
        return ccNext;
    std::int8_t& Last = m_Last[Packet.PID];
    bool& Repeated = m_Repeated[Packet.PID];
    const auto Counter = static_cast<std::int8_t>(Packet.ContinuityCounter);
    const std::int8_t Before = std::exchange(Last, Counter);
    if (Before < 0) {
        Repeated = false;
        return ccFirst;
    }
    const std::int8_t Expected = Packet.HasPayload ? static_cast<std::int8_t>((Before + 1) & 0x0F) : Before;
    if (Counter == Expected) {
        Repeated = false;
        return ccNext;
    }
    if (Packet.Discontinuity) {
        Repeated = false;
        return ccDiscontinuity;
    }
    if (Packet.HasPayload && Counter == Before && !Repeated) {
        Repeated = true;
        return ccDuplicate;
    }
    Repeated = false;
    return ccLost;
}

} // namespace vantrel
