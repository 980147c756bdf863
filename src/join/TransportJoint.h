// The transport system target decoder at a joint of transport streams
// (ISO/IEC 13818-1, 2.4.2): each stream's packets pass a transport buffer
// of 512 bytes that empties at the stream's rate, its bytes wait in the
// stream's buffer until the access units they belong to leave at their
// decode times, and every byte arrives when the program's PCRs say (on a
// line between two of them). The later file moves as a whole: its units and
// its bytes keep their own distance, and only the buffers it shares with
// what the earlier file left in them at the joint can hold too much. The
// planner finds the shortest pause that keeps every buffer within its size
// (or, where either file fills one past it by itself, no fuller than that
// file does), and the packets written between the files: PCR packets that keep the
// earlier file's last bytes and the later file's first ones at their own
// times (and a PCR at least every FillerPCRGap), with null packets at the
// stream's rate where the stream is of constant rate. Times are ticks of
// the 27 MHz system clock on the join's line, decode times 90 kHz ticks.
#pragma once

#include "join/AccessUnits.h"
#include "join/JoinState.h"
#include "mpeg/ts/TransportPacket.h"
#include "mpeg/video/H264.h"

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace vantrel {

// One stream's buffers in the decoder: the bytes its buffer after the
// transport buffer holds (a video stream's multiplex and elementary buffers
// together), and the rate its transport buffer empties at, in bytes a second.
struct TStreamBuffer
{
    std::int64_t Size = 0;
    double Leak = 0;
};
// The sizes 2.4.2 and DVB (ETSI TS 101 154) give for a stream of Coding:
// MPEG-1 and MPEG-2 video by the level its sequence header's profile and
// level byte names (MPEG1Level: the MPEG-1 constrained parameters) and its
// buffer at most, MPEG audio, AC-3 and E-AC-3, AAC by its channels.
TStreamBuffer StreamBufferOf(TStreamCoding Coding, std::uint8_t ProfileAndLevel, std::uint8_t Channels);
// H.264's (2.14.3.1): Rmax 1.2 times the level's highest bit rate
// (cpbBrNalFactor x MaxBR), the multiplex and elementary buffers BSmux,
// BSoh and the level's largest coded-picture buffer (cpbBrNalFactor x
// MaxCPB); nothing for a level Table A-1 does not know.
std::optional<TStreamBuffer> H264StreamBuffer(const TSequenceParameterSet& Sps);

// Positions in a transport stream count 188 bytes a packet, whatever its
// files add around them (arrival stamps, parity): the bytes that pass the
// decoder. A PCR is the arrival time of its packet's byte PCRByte.
constexpr double PCRByte = 10;

// The output where the later file begins.
struct TTransportEnd
{
    std::int64_t LastPCR = 0; // of its program's clock
    double SinceLastPCR = 0;  // bytes from that PCR's byte to the output's end
    double TicksPerByte = 0;  // of the last two PCRs
    bool ConstantRate = false;
    const TBufferModel* Waiting = nullptr; // its units still to decode, by PID
    // When each PID's transport buffer is empty again.
    std::map<std::uint16_t, double> TransportEmpty;
    std::uint16_t PCRPID = 0;
};

// The later file's first packets, on its own clock moved by its offset.
struct TTransportLead
{
    std::int64_t FirstPCR = 0;
    double PCRAt = 0;        // bytes from its first written byte to that PCR's byte
    double TicksPerByte = 0; // of its first two PCRs
    bool ConstantRate = false;
    struct TPacket
    {
        std::uint16_t PID;   // the output's
        double Arrival;      // of its last byte
        std::uint32_t Bytes; // of its stream, its PES header left out
    };
    std::vector<TPacket> Packets;
    std::map<std::uint16_t, std::vector<TAccessUnit>> Units;
    std::map<std::uint16_t, TStreamBuffer> Buffers;
};

struct TTransportJoint
{
    std::int64_t Pause = 0; // 90 kHz ticks every stamp of the later file moves on by
    // 27 MHz ticks its PCRs move by beyond 300 times its offset: where a
    // constant rate puts its first packet.
    std::int64_t Extra = 0;
    // The packets between the files, in order: a PCR packet at that PCR,
    // or a null packet.
    std::vector<std::optional<std::int64_t>> Filler;
};

// Plans the joint. The later file is at the needed offset already (its
// first picture or sound where the output's end); its packets may not
// arrive before the output's last ones. A stream of constant rate goes on
// at that rate when both files have it, its pause a whole number of packets.
TTransportJoint PlanTransportJoint(const TTransportEnd& End, const TTransportLead& Lead);

// The earlier file's end as the join's transport state has it after its
// pass; Waiting: the units still to decode.
TTransportEnd TransportEndOf(const TTransportState& T, const TBufferModel& Waiting);
// The joint's packets as a file's plan keeps them: a constant rate's null
// packets arrive a packet apart after End.
std::vector<TFillerPacket> FillerPackets(const TTransportJoint& Joint, const TTransportEnd& End);

// The longest the filler leaves between two PCRs (DVB asks for 40 ms at most).
constexpr std::int64_t FillerPCRGap = SystemClockRate / 50;

} // namespace vantrel
