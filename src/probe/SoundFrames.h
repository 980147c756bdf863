// The sound of a transport stream's streams, by their coding: the format its
// first frames show, each frame's length and play time, and where the sound
// ends.
#pragma once

#include "mpeg/ts/ProgramTables.h"
#include "probe/MPEGInfo.h"

#include <cstdint>
#include <optional>
#include <span>

namespace vantrel {

// The codec a sound coding of a PMT names; acUnknown for what is no sound.
TAudioCodec SoundCodecOf(TStreamCoding Coding);

// Fills Stream's sound fields from the first frame header in Data (a
// stream's payload from the start of a PES packet on) that the next one
// confirms, or a lone last one: codec (an enhanced AC-3 stream is told by
// its frames, whatever its PMT said), rate, channels, bit rate (for AAC the
// average of the frames seen). False when none is found.
bool ReadSoundFormat(TStreamCoding Coding, std::span<const std::uint8_t> Data, TStreamInfo& Stream);

struct TSoundFrame
{
    std::uint32_t Length = 0; // bytes, header included
    double Ticks = 0;         // of the 90 kHz clock; 0 for a part of another frame's time
};
// The frame of Coding that starts Data: a header whose fields hold. Frames
// of LATM take their time from Config, the last configuration seen (or the
// one this frame carries, which then replaces it).
std::optional<TSoundFrame> SoundFrameAt(TStreamCoding Coding, std::span<const std::uint8_t> Data,
                                        double& LATMTicks);

// Where a sound stream ends: the last PTS plus the play time of the frames
// from the first that starts in its packet on.
class TSoundEnd
{
public:
    TSoundEnd(TStreamCoding Coding, double LATMTicks) : m_Coding(Coding), m_LATMTicks(LATMTicks) {}
    void Add(std::optional<std::int64_t> PTS, std::span<const std::uint8_t> Payload);
    std::optional<std::int64_t> End() const;

private:
    TStreamCoding m_Coding;
    double m_LATMTicks;
    std::optional<std::int64_t> m_LastPTS;
    double m_Ticks = 0;
};

} // namespace vantrel
