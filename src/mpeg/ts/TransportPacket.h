// The packets of an MPEG-2 transport stream (ISO/IEC 13818-1, 2.4.3): the
// 4-byte header, the adaptation field with the program clock reference, and
// the two framings recorders add around the 188 bytes: the 4-byte arrival
// time stamp in front of each packet of a 192-byte stream (M2TS, BDAV) and
// the 16 Reed-Solomon parity bytes after each packet of a 204-byte one.
// Every field a join may change is given with where it stands in the
// packet, so that a writer patches a copy there and nothing else moves.
#pragma once

#include "mpeg/TimeStamps.h"

#include <array>
#include <cstdint>

namespace vantrel {

constexpr std::uint8_t SyncByte = 0x47;
constexpr std::uint16_t TransportPacketLength = 188;
constexpr std::uint16_t ArrivalStampLength = 4;
constexpr std::uint16_t ParityLength = 16;
// The three packet sizes of files, in the order they are tried.
constexpr std::array<std::uint16_t, 3> TransportPacketSizes = {188, 192, 204};
// Where the sync byte stands in a packet of Size bytes: after the arrival
// stamp of a 192-byte packet, first in the others.
constexpr std::uint16_t SyncOffset(std::uint16_t Size)
{
    return Size == TransportPacketLength + ArrivalStampLength ? ArrivalStampLength : 0;
}

// PIDs with a fixed meaning (ISO/IEC 13818-1, table 2-3; ETSI EN 300 468, 5.1.3).
constexpr std::uint16_t PATPID = 0x0000;
constexpr std::uint16_t CATPID = 0x0001;
constexpr std::uint16_t SDTPID = 0x0011;
constexpr std::uint16_t NullPID = 0x1FFF;
constexpr std::uint16_t PIDCount = 0x2000;

// The program clock reference: a 33-bit base of the 90 kHz clock and a 9-bit
// extension counting 27 MHz ticks within it (0 to 299).
constexpr std::uint32_t PCRLength = 6;
constexpr std::int64_t SystemClockRate = 27000000;
constexpr std::int64_t PCRExtensionCount = 300;
constexpr std::int64_t PCRWrap = ClockWrap * PCRExtensionCount;

// One transport packet, decoded. Offsets count from the packet's first byte
// (the arrival stamp of a 192-byte packet, else the sync byte); an offset of
// 0 means the field is absent.
struct TTransportPacket
{
    std::int64_t Position = 0; // of the packet's first byte in the source
    std::uint16_t Size = TransportPacketLength;
    std::uint16_t PID = 0;
    bool TransportError = false;
    bool PayloadUnitStart = false;
    bool Priority = false;
    std::uint8_t Scrambling = 0; // transport_scrambling_control: 0 clear
    std::uint8_t ContinuityCounter = 0;
    bool HasAdaptation = false;
    // adaptation_field_control: a payload follows (the counter counts the
    // packet), though PayloadLength may be 0.
    bool HasPayload = false;
    // The adaptation field: its length byte as written (bytes after it),
    // and false when that runs past the packet: nothing after the header
    // can then be trusted, and the payload is taken as empty.
    std::uint8_t AdaptationLength = 0;
    bool AdaptationValid = true;
    bool Discontinuity = false;
    bool RandomAccess = false;
    bool ESPriority = false;
    bool HasPCR = false;
    std::int64_t PCRBase = 0;       // 90 kHz
    std::uint16_t PCRExtension = 0; // 27 MHz remainder
    std::uint8_t PCROffset = 0;
    std::uint8_t OPCROffset = 0;
    bool HasSplice = false;
    std::int8_t SpliceCountdown = 0;
    // 0xFF bytes that end the adaptation field: room a writer may use.
    std::uint8_t Stuffing = 0;
    std::uint8_t PayloadOffset = 0;
    std::uint8_t PayloadLength = 0;
    // 192-byte packets: the copy permission (2 bits) and the 30-bit arrival
    // time stamp of the 27 MHz clock, at offset 0.
    std::uint8_t CopyPermission = 0;
    std::uint32_t ArrivalStamp = 0;

    // The PCR in 27 MHz ticks.
    std::int64_t PCR() const { return PCRBase * PCRExtensionCount + PCRExtension; }
    std::int64_t End() const { return Position + Size; }
};

// Decodes the packet of Size bytes (188, 192 or 204) at Bytes, which stands
// at Position. False when its sync byte is not where Size puts it.
bool DecodeTransportPacket(const std::uint8_t* Bytes, std::uint16_t Size, std::int64_t Position,
                           TTransportPacket& Packet);

// The PCR field (and the OPCR's): 33-bit base, 6 reserved bits, 9-bit
// extension: vvvvvvvv | 8 | 8 | 8 | vrrrrrre | eeeeeeee.
std::int64_t DecodePCRBase(const std::uint8_t* Field);
std::uint16_t DecodePCRExtension(const std::uint8_t* Field);
// Writes Base (modulo 2^33) and Extension (below 300), keeping the reserved bits.
void PatchPCR(std::uint8_t* Field, std::int64_t Base, std::uint16_t Extension);
// 27 MHz ticks, modulo PCRWrap, into the field.
void PatchPCRTicks(std::uint8_t* Field, std::int64_t Ticks);

// The PID: 13 bits of the header's second and third bytes.
inline std::uint16_t PacketPID(const std::uint8_t* Header)
{
    return static_cast<std::uint16_t>((Header[1] & 0x1F) << 8 | Header[2]);
}
// The continuity counter is the low nibble of the header's fourth byte.
constexpr std::uint8_t ContinuityCounterOffset = 3;
inline void PatchContinuityCounter(std::uint8_t* Header, std::uint8_t Counter)
{
    Header[ContinuityCounterOffset] =
        static_cast<std::uint8_t>((Header[ContinuityCounterOffset] & 0xF0) | (Counter & 0x0F));
}
// The header's PID and counter, the rest of its bytes kept.
inline void PatchPIDAndCounter(std::uint8_t* Header, std::uint16_t PID, std::uint8_t Counter)
{
    Header[1] = static_cast<std::uint8_t>((Header[1] & 0xE0) | (PID >> 8));
    Header[2] = static_cast<std::uint8_t>(PID);
    PatchContinuityCounter(Header, Counter);
}

// The arrival stamp of a 192-byte packet: cc tttttt | 8 | 8 | 8, copy
// permission bits kept when it is patched; the value is taken modulo 2^30.
constexpr std::uint32_t ArrivalStampWrap = 1u << 30;
std::uint32_t DecodeArrivalStamp(const std::uint8_t* Field);
void PatchArrivalStamp(std::uint8_t* Field, std::uint32_t Stamp);

// How a packet continues its PID (ISO/IEC 13818-1, 2.4.3.3): the counter
// goes up by one with each packet that has a payload and stays with one that
// has none; a packet may be sent twice in a row, the same counter again; a
// discontinuity indicator allows any counter.
enum TContinuity : std::uint8_t
{
    ccFirst,         // the first packet of its PID
    ccNext,          // what the counter before it leads to
    ccDuplicate,     // the packet before, once more: its payload is not new
    ccDiscontinuity, // another counter, announced by the indicator
    ccLost           // another counter: packets are missing (or out of order)
};

// The counters of every PID of one stream, from packet to packet.
class TContinuityTracker
{
public:
    TContinuityTracker() { Reset(); }
    TContinuity Check(const TTransportPacket& Packet);
    // A packet with a payload whose counter follows its PID's last one is
    // taken as Check would take it; false, and nothing changes, otherwise.
    bool TakeNext(std::uint16_t PID, std::uint8_t Counter)
    {
        if (m_Last[PID] < 0 || Counter != ((m_Last[PID] + 1) & 0x0F))
            return false;
        m_Last[PID] = static_cast<std::int8_t>(Counter);
        m_Repeated[PID] = false;
        return true;
    }
    void Reset();

private:
    // The last counter per PID, -1 before the first packet.
    std::array<std::int8_t, PIDCount> m_Last;
    std::array<bool, PIDCount> m_Repeated;
};

} // namespace vantrel
