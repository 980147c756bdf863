// One packet of a container as its reader found it: the value that passes
// from a reader to whatever writes or weighs it. Where each field stands is
// part of it, so a writer can patch a copy of the packet's bytes in place.
#pragma once

#include "io/ByteSource.h"
#include "mpeg/PESHeader.h"

#include <cstdint>

namespace vantrel {

enum TPacketKind : std::uint8_t
{
    pkPackHeader,   // a pack header of a program (or MPEG-1 system) stream
    pkSystemHeader, // a system header of one
    pkPES           // a PES packet of one
};

struct TPacket
{
    TPacketKind Kind = pkPackHeader;
    std::int64_t Position = 0; // of its first byte in its file
    std::uint32_t Length = 0;  // of all its bytes, start code included
    // A pack header's clock (90 kHz base and 27 MHz remainder, 0 to 299,
    // in MPEG-2) and mux rate; for the other packets, their pack's.
    std::int64_t SCR = 0;
    std::uint32_t SCRExtension = 0;
    std::uint32_t MuxRate = 0;
    TPESInfo PES; // of a PES packet
    std::int64_t End() const { return Position + Length; }
};

// Walks one container's packets from its start. A walk can be left and taken
// up again where it stood (Restart): a look ahead, a second look at a pack.
class TPacketReader
{
public:
    virtual ~TPacketReader() = default;
    // Advances to the next packet; false at the end of what can be read.
    virtual bool NextPacket() = 0;
    virtual const TPacket& Packet() const = 0;
    // Copies the whole current packet; what the source cannot deliver is
    // zeros, and then it returns false.
    virtual bool ReadPacket(void* Dest) = 0;
    // Goes on from after Where (a packet this reader gave).
    virtual void Restart(const TPacket& Where) = 0;
    virtual TByteSource& Source() const = 0;
};

} // namespace vantrel
