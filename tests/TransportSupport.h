// Transport streams for the tests, from the bytes and ISO/IEC 13818-1 alone
// (not the core's reader): where the packets of a file stand, the fields of
// a packet, the MPEG-2 CRC of sections, and hand-made packets and sections.
#pragma once

#include "TestSupport.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace vantrel::test {

// Where a file's packets stand: their size (188, 192 with the arrival stamp
// first, 204 with parity bytes after) and the first sync byte. Nothing when
// no five packets in a row show their sync byte within the first 64 KB.
struct TTSLayout
{
    std::size_t Size = 188;
    std::size_t FirstSync = 0;
};
std::optional<TTSLayout> FindLayout(const TBytes& File);

// The fields of the packet whose sync byte is at File[Sync] (2.4.3.2-4).
struct TTSPacket
{
    std::size_t Sync = 0;
    std::uint16_t PID = 0;
    bool TransportError = false, UnitStart = false;
    std::uint8_t Scrambling = 0, Counter = 0;
    bool HasAdaptation = false, HasPayload = false;
    bool Discontinuity = false, RandomAccess = false;
    std::optional<std::int64_t> PCR;            // 27 MHz ticks
    std::size_t PCRByte = 0;                    // offset of the byte with the base's last bit
    std::size_t Payload = 0, PayloadLength = 0; // offset in the file, bytes
};
// False when the adaptation field claims more than the packet holds.
bool ReadTSPacket(const TBytes& File, std::size_t Sync, TTSPacket& Packet);

// ISO/IEC 13818-1, annex A: polynomial 0x04C11DB7, all ones first, no reflection.
std::uint32_t SectionCrc(const std::uint8_t* Data, std::size_t Size);

// A long-form section: table id, the 16-bit extension (program number, ts
// id), the version (current), section 0 of 0, the body and its CRC.
TBytes Section(std::uint8_t TableId, std::uint16_t Extension, std::uint8_t Version, const TBytes& Body);
// A PMT's body: PCR PID, no program descriptors, then each stream as its
// type, PID and descriptors.
struct TPMTEntry
{
    std::uint8_t Type;
    std::uint16_t PID;
    TBytes Descriptors;
};
TBytes PMTBody(std::uint16_t PCRPID, const std::vector<TPMTEntry>& Streams);

// A 188-byte packet: its header, an adaptation field of Adaptation's bytes
// (the flags byte first) when there are any or stuffing is needed, and the
// payload; stuffing in the adaptation field fills the packet.
struct TPacketFields
{
    std::uint16_t PID = 0;
    bool UnitStart = false;
    std::uint8_t Counter = 0;
    TBytes Adaptation;
    TBytes Payload;
    std::uint8_t Scrambling = 0;
};
TBytes TSPacket(const TPacketFields& Fields);
// The adaptation field's flags and a PCR (base and extension) after them.
TBytes PCRAdaptation(std::int64_t Base, std::uint16_t Extension, std::uint8_t OtherFlags = 0);
// The packets of a PID carrying Data from a unit start on (a section behind
// a pointer field of 0, or a PES packet), as many as it needs; Counter goes
// on from packet to packet.
std::vector<TBytes> PayloadPackets(std::uint16_t PID, const TBytes& Data, std::uint8_t& Counter,
                                   bool PointerField);

// The packets of File, each whole (of the layout's size), in order.
std::vector<TBytes> TSPackets(const TBytes& File);

} // namespace vantrel::test
