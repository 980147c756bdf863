// The streams of a transport stream that a join looks into, and a file's
// head as the join's plan reads it: its first stamps and PCR, its tables as
// the output will write them, and its first packets and access units with
// when they arrive and leave, for the decoder model at its joint.
#pragma once

#include "io/ByteSource.h"
#include "join/PIDMap.h"
#include "join/TableEdits.h"
#include "join/TransportJoint.h"
#include "mpeg/ts/ProgramTables.h"
#include "mpeg/ts/TransportStreamReader.h"
#include "probe/MPEGInfo.h"

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace vantrel {

// A stream of a kept program whose packets a join looks into.
struct TKeptStream
{
    std::uint16_t PID = 0; // the file's
    std::uint16_t Out = 0; // the output's
    TStreamCoding Coding = scOther;
    bool Video = false;
    std::int32_t SampleRate = 0;
    TStreamBuffer Buffer;
};

// What a join reads of a file's programs: the sound and video streams of
// the programs it keeps, the PSI PIDs whose tables it may rewrite (the
// PAT, their PMTs, the SDT and the EIT), and the PCR PID of the program that gives the
// file its time (the one chosen, or the first whose video was read).
struct TKeptStreams
{
    std::vector<TKeptStream> Streams;
    std::vector<std::uint16_t> Tables;
    std::uint16_t PCRPID = NullPID;
    std::vector<std::uint16_t> OtherPCRPIDs; // of the other programs kept
};
TKeptStreams KeptStreams(const TMediaInfo& Info, std::uint16_t Program, const TPIDMap& Map);

// A file's head, from a packet on. Stamps and PCRs are on the file's own
// line: its stamps one after another as read off the wrapping clock from
// Anchor, its first stamp, on (PCRs 27 MHz).
struct TTransportHead
{
    std::int64_t Anchor = 0;
    std::optional<std::int64_t> FirstPTS;     // the smallest of its first PES packets', as read
    std::optional<std::int64_t> FirstStamp;   // of the first PES packet with one, on its line
    std::optional<std::int64_t> FirstPicture; // the smallest video PTS of its first packets, on its line
    std::optional<std::int64_t> FirstPCR;     // of the PCR PID, on its line
    std::map<std::uint16_t, std::int64_t> FirstDecode; // of each stream (the output's PID), on its line
    std::optional<std::uint32_t> ArrivalRelation;      // arrival stamp less PCR, modulo 2^30
    // The first PCR of each other program's clock, by the output's PID: how
    // far it stands ahead of the file's clock where its byte arrives, and
    // how long after the file's first PCR that is (27 MHz).
    struct TOtherPCR
    {
        std::int64_t Ahead = 0;
        std::int64_t After = 0;
    };
    std::map<std::uint16_t, TOtherPCR> OtherFirstPCR;
    // The first section of each table, as the output will write it.
    std::map<TTableKey, std::vector<std::uint8_t>> Tables;
    TTransportLead Lead; // Lead.FirstPCR is FirstPCR
    // H.264 that begins with an open GOP: the pictures after its first
    // that show before it and refer to pictures before the file
    // (LeadingPictures), and where its recovery point's broken link flag
    // stands, counted in the video's payload bytes from the head's first
    // packet on.
    std::size_t LeadingPictures = 0;
    std::optional<TFlagPosition> BrokenLink;
};

// Reads LeadBytes of Source from a packet on (Layout). FrameTicks times
// the units of video that have no stamp of their own.
TTransportHead ReadTransportHead(TByteSource& Source, const TPacketLayout& Layout, const TKeptStreams& Kept,
                                 const TPIDMap& Map, std::int64_t FrameTicks);
constexpr std::int64_t TransportLeadBytes = 4 << 20;

// Moves what a head read on its own line by Ticks (90 kHz).
void MoveHead(TTransportHead& Head, std::int64_t Ticks);

} // namespace vantrel
