// Re-stamping a joined system stream: each file after the first is moved in
// time as a whole, so that the time line runs on across the joints, and
// nothing else of it changes (ISO/IEC 11172-1).
#pragma once

#include "mpeg/StartCodes.h"
#include "mpeg/StreamEnd.h"
#include "mpeg/ps/ProgramStreamReader.h"
#include "mpeg/ts/ProgramTables.h"
#include "probe/SoundFrames.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>

namespace vantrel {

// A file's stamps onto the join's line, in the order they come: each by its
// signed distance from the one before, moved by the file's offset. A copy
// of the current file's, to look ahead at its packets without taking them.
class TFileLine
{
public:
    TFileLine() = default;
    // A file whose line starts at FirstPTS and is moved by Offset; or, with no
    // first PTS known, pinned: its first stamp of any kind lands at PinAt.
    TFileLine(std::optional<std::int64_t> FirstPTS, std::int64_t Offset, std::optional<std::int64_t> PinAt)
        : m_Last(FirstPTS), m_Offset(Offset), m_PinAt(PinAt)
    {
    }
    std::int64_t Stamp(std::int64_t Raw);
    // What Stamp would give for Raw, without taking it: nothing before the
    // file's first stamp.
    std::optional<std::int64_t> Peek(std::int64_t Raw) const;
    std::int64_t Offset() const { return m_Offset; }
    void Delay(std::int64_t Ticks);

private:
    std::optional<std::int64_t> m_Last; // the last stamp of the file, on its continuous line
    std::int64_t m_Offset = 0;
    std::optional<std::int64_t> m_PinAt;
};

// Times are ticks of the 90 kHz clock. A file's stamps are read off the
// wrapping 33-bit clock onto a continuous line (each by its signed distance
// from the one before), moved by the file's offset, and written back modulo
// 2^33: files that wrap, and joins longer than 26.5 hours, keep one
// increasing line.
class TTimeCorrector
{
public:
    // Starts a join whose video runs at FrameRate frames per second. Raises
    // "Floating point division by zero" for 0 and "Invalid frame rate" for a
    // rate whose frame length in ticks is not a sensible number.
    void Reset(double FrameRate);

    // Starts the next system-stream input. FirstPTS is the smallest PTS among
    // the file's first packets (as read). The first file keeps its stamps; a
    // later one is moved so that FirstPTS lands where the output written so
    // far ends: after its last picture and after its last audio frame.
    // Start: where the file begins on the line, as a plan decided it (its
    // pause included), instead of where the output written so far ends.
    void BeginFile(std::optional<std::int64_t> FirstPTS, std::optional<std::int64_t> Start = std::nullopt);
    bool IsFirstFile() const { return m_Files <= 1; }
    // Starts the next input as the rest of the current one's recording: its
    // stamps stay on the current line, moved by the same offset.
    // Its clock is its own, as in the first file.
    void ContinueFile();
    // What Stamp would give for Raw, without taking it: nothing before the
    // current file's first stamp.
    std::optional<std::int64_t> Peek(std::int64_t Raw) const;
    std::int64_t Offset() const { return m_File.Offset(); }

    // The value to write for a PTS or DTS of the current file.
    std::int64_t Stamp(std::int64_t Raw);
    const TFileLine& FileLine() const { return m_File; }

    // The SCR to write for a pack header that will stand at OutputPosition:
    // its own SCR moved by the file's offset, but never earlier than the last
    // pack's SCR plus the time the last pack's bytes take at its mux rate, so
    // the clock strictly increases and no byte arrives faster than the rate
    // allows. Behind: the pack had to wait (its own clock is earlier).
    struct TPackTime
    {
        std::int64_t SCR;
        bool Behind;
    };
    TPackTime PackTime(std::int64_t RawSCR, std::int64_t OutputPosition);
    // The pack was written; the next pack is timed from it.
    void KeepPack(std::int64_t SCR, std::uint32_t MuxRate, std::int64_t OutputPosition);

    // When the channel is free again after the packs written so far, the
    // output standing at OutputPosition; nothing before the first pack.
    std::optional<std::int64_t> ChannelFree(std::int64_t OutputPosition) const;
    // Moves the current file on by Ticks more (a pause at its joint); called
    // before any of its stamps is written.
    void Delay(std::int64_t Ticks);

    // A PES packet as written (stamps already moved), for where the output
    // ends. NearEnd: the packet stands close to the end of its file, where
    // the pictures of the video are counted (TVideoEnd).
    void AddPacket(const TPESInfo& PES, const std::uint8_t* Payload, std::size_t Length, bool NearEnd = true);
    // A transport stream's packets as written, for where the output ends:
    // its video a transport packet's payload at a time (NewPacket: the
    // first of a PES packet, with its stamps), its sound a PES packet's
    // payload at a time, each stream by its PID. SampleRate: the stream's,
    // for LATM frames that come before a configuration.
    void AddTransportVideo(std::uint16_t PID, std::optional<std::int64_t> PTS,
                           std::optional<std::int64_t> DTS, std::span<const std::uint8_t> Payload,
                           bool NewPacket, bool NearEnd);
    void AddTransportSound(std::uint16_t PID, TStreamCoding Coding, std::int32_t SampleRate,
                           std::optional<std::int64_t> PTS, std::span<const std::uint8_t> Payload);
    // Where every stream written so far ends; nothing before any stamp.
    std::optional<std::int64_t> OutputEnd() const;
    // Where its pictures end.
    std::optional<std::int64_t> VideoEnd() const;
    // Where the current file begins on the line: where the output ended when
    // it began, and the pause before it; nothing for the first file.
    std::optional<std::int64_t> FileStart() const { return m_FileStart; }

    // One frame in clock ticks, rounded half to even.
    std::int64_t FrameTicks() const { return m_FrameTicks; }

private:
    std::int64_t m_FrameTicks = 0;
    int m_Files = 0;
    TFileLine m_File;
    std::optional<std::int64_t> m_FileStart;
    bool m_HasPack = false;
    bool m_OwnClock = false; // the current file's packs keep their clock
    std::int64_t m_LastSCR = 0, m_LastPackPosition = 0;
    std::uint32_t m_LastMuxRate = 0;
    TVideoEnd m_Video;
    std::array<TAudioEnd, LastAudioStream - FirstAudioStream + 1> m_Audio{};
    std::map<std::uint8_t, TAudioEnd> m_PrivateAudio;    // by sub-stream of private stream 1
    std::map<std::uint16_t, TVideoEnd> m_TransportVideo; // by PID
    std::map<std::uint16_t, TSoundEnd> m_TransportSound;
};

} // namespace vantrel
