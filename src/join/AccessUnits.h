// The access units of an elementary stream, found as its payloads come, and
// what of them still waits in the decoder's buffers: the units whose decode
// times the system target decoder (ISO/IEC 11172-1, 2.4.2; 13818-1, 2.4.2)
// takes them out of their buffers at. Times are 90 kHz ticks on the join's
// continuous line.
#pragma once

#include "mpeg/StartCodes.h"
#include "mpeg/ps/SubStreams.h"
#include "mpeg/ts/ProgramTables.h"
#include "mpeg/video/H264Units.h"

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace vantrel {

// One access unit: where it starts in its stream's bytes, and when it leaves.
struct TAccessUnit
{
    std::int64_t Start;
    std::int64_t Decode;
};

// The decoder model names an elementary stream by its stream id (audio and
// video), and the sound of private stream 1 by its sub-stream id (AC-3, DTS
// and LPCM: 0x80-0xA7, below every audio and video id). The payload it sees
// of such a sub-stream leaves out the sub-stream header.
struct TModelPayload
{
    std::uint8_t Stream;
    const std::uint8_t* Data;
    std::size_t Length;
};
// Nothing for a packet the model has no buffer for (padding, navigation,
// subpictures).
std::optional<TModelPayload> ModelPayload(std::uint8_t StreamId, const std::uint8_t* Payload,
                                          std::size_t Length);

// Cuts one elementary stream into access units as its payloads come: a
// picture with the sequence and group headers before it, or an audio frame
// (MPEG audio, AC-3, DTS). A stamp belongs to the first unit that begins in
// its packet (the first byte of a picture start code, of a frame header);
// the others follow the one before by a frame. LPCM has no frames to find:
// each stamped packet starts a unit there. A transport stream's streams are
// told by their coding instead (AAC and LATM frames too); their payloads may
// come a transport packet at a time. H.264's units are TH264UnitSplitter's:
// each leaves at its packet's stamp, or the fields the unit before shows
// for after that one.
class TUnitSplitter
{
public:
    // Stream: the model's name for it (ModelPayload); or, with a Coding
    // other than scOther, the stream of a transport stream of that coding.
    TUnitSplitter(std::uint16_t Stream, std::int64_t FrameTicks, TStreamCoding Coding = scOther)
        : m_Video(Coding == scOther ? IsVideoStream(static_cast<std::uint8_t>(Stream))
                                    : IsVideoCoding(Coding)),
          m_Packets(Coding == scOther ? SubStreamKind(static_cast<std::uint8_t>(Stream)) == sskLPCM
                                      : Coding == scLPCM),
          m_Coding(Coding), m_FrameTicks(FrameTicks)
    {
        if (Coding == scH264)
            m_H264.emplace();
    }
    // NewPacket false: Payload goes on with the packet of the last call,
    // whose stamp waits for the first unit that begins in it still.
    void Add(const std::uint8_t* Payload, std::size_t Length, std::optional<std::int64_t> Stamp,
             bool NewPacket = true);
    // Units whose decode time is known, in decode order.
    const std::vector<TAccessUnit>& Units() const { return m_Units; }
    std::int64_t Bytes() const { return m_Bytes; }
    // The stream has ended: an H.264 stream's last unit is complete.
    void Finish();
    // H.264's own units (what their pictures are, their SEI); nothing for
    // another coding.
    const TH264UnitSplitter* H264() const { return m_H264 ? &*m_H264 : nullptr; }

private:
    void TakeH264Units();

    void Found(std::int64_t Start, std::int64_t StampAt, std::int64_t Ticks);
    // The length and play time of the frame of m_Coding that starts Data.
    std::optional<std::pair<std::int64_t, std::int64_t>> CodedFrameAt(std::span<const std::uint8_t> Data);

    bool m_Video;
    bool m_Packets;
    TStreamCoding m_Coding;
    double m_LATMTicks = 0; // the frame time of the last LATM configuration
    std::int64_t m_FrameTicks;
    std::int64_t m_Bytes = 0;
    std::vector<TAccessUnit> m_Units;
    // The current packet's stamp, until a unit takes it.
    std::optional<std::int64_t> m_Stamp;
    std::int64_t m_PacketStart = 0;
    std::optional<std::int64_t> m_Last; // the decode time of the last unit
    std::int64_t m_LastTicks = 0;
    // Video: the scan over payloads so far and where headers before a
    // picture began.
    TStartCodeScan m_Scan;
    std::optional<std::int64_t> m_HeadersAt;
    std::optional<TH264UnitSplitter> m_H264;
    std::size_t m_H264Taken = 0; // of its units, into m_Units
    // Audio: the bytes from where the next frame header is expected.
    std::vector<std::uint8_t> m_Pending;
    std::int64_t m_PendingAt = 0;
};

// The elementary streams as written so far near a file's end: what still
// waits in the buffers when the next file begins. Streams are named as
// TUnitSplitter names them (a transport stream's by their PID and coding).
class TBufferModel
{
public:
    void Reset() { m_Streams.clear(); }
    void Add(std::uint16_t Stream, std::int64_t FrameTicks, const std::uint8_t* Payload, std::size_t Length,
             std::optional<std::int64_t> Stamp, std::uint32_t STDBufferSize, TStreamCoding Coding = scOther,
             bool NewPacket = true);
    // What waits in the buffer of each stream at time T: the bytes of its
    // units that decode after T.
    std::int64_t Waiting(std::uint16_t Stream, std::int64_t T) const;
    // The last decode time of any stream; nothing once all is decoded.
    std::optional<std::int64_t> LastDecode() const;
    // The stream's file has ended (TUnitSplitter::Finish).
    void Finish(std::uint16_t Stream);
    std::uint32_t BufferSize(std::uint16_t Stream) const;

private:
    struct TStream
    {
        TUnitSplitter Units;
        std::uint32_t BufferSize = 0;
    };
    std::map<std::uint16_t, TStream> m_Streams;
};

} // namespace vantrel
