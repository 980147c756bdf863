// Re-stamping a joined system stream so that its time line runs on across the
// boundaries between input files, and the writers of the two packet kinds
// that re-stamping composes (pack headers and PES packets, ISO/IEC 11172-1).
#pragma once

#include "media/MPEG1SysRead.h"
#include "media/Streams.h"

#include <array>
#include <cstdint>
#include <optional>

namespace vantrel {

// All times are ticks of the 90 kHz system clock, held and added in 64 bits;
// only the low 33 bits reach the file.
class TTimeCorrector
{
public:
    // Starts a join whose video runs at FrameRate frames per second. Raises
    // "Floating point division by zero" for 0 and "Invalid frame rate" for a
    // rate whose frame length in ticks is not a sensible number.
    void Reset(double FrameRate);

    // Starts the next system-stream input. FirstPTS is the smallest PTS among
    // the file's first packets, when the caller looked ahead for it: the
    // file's time line is then moved so that this PTS lands one frame after
    // the largest video PTS written so far, and not before the end of the
    // audio written so far. Without it the first time-stamped packet of the
    // file fixes the offset. The SCR of the file's first pack header is made
    // equal to the last SCR written.
    void BeginFile(std::optional<std::int64_t> FirstPTS = std::nullopt);

    // Writes a pack header with the corrected SCR.
    void WritePackHeader(TStream& Output, std::int64_t SCR, std::uint32_t MuxRate);
    // Writes a PES packet with its PTS and DTS (if any) corrected. Stuffing and
    // STD fields are not written; the length field is recomputed.
    void WritePESPacket(TStream& Output, TPESInfo PES, const std::uint8_t* Payload,
                        std::uint32_t PayloadLength);

    // One frame in clock ticks, rounded half to even.
    std::int64_t FrameTicks() const { return m_FrameTicks; }
    // The largest corrected PTS of stream 0xE0 written in this join (with
    // B-frames the last packet is not the last picture shown).
    std::int64_t LastVideoPTS() const { return m_LastVideoPTS; }
    std::int64_t LastSCR() const { return m_LastSCR; }
    std::int64_t PTSOffset() const { return m_PTSOffset; }
    std::int64_t SCROffset() const { return m_SCROffset; }
    // Where the audio written so far ends: for each audio stream the
    // corrected PTS of its last time-stamped packet plus the play time of the
    // bytes from that packet on. 0 when no audio time stamp was written.
    std::int64_t AudioEnd() const;

private:
    struct TAudioTrack
    {
        bool HasPTS = false;
        std::int64_t LastPTS = 0;
        std::int64_t BytesSince = 0;
        std::int32_t BitRate = 0;  // from the stream's first frame header; 0 until found
        std::int32_t Searches = 0; // payloads searched for that header so far
    };
    // Encoders: write exactly the given values to the output of the current
    // corrected write.
    void PutPackHeader(std::int64_t SCR, std::uint32_t MuxRate);
    void PutPESPacket(const TPESInfo& PES, const std::uint8_t* Payload, std::uint32_t PayloadLength);
    void TrackAudio(const TPESInfo& PES, const std::uint8_t* Payload, std::uint32_t PayloadLength);
    void PutByte(std::uint8_t Byte) { m_Header[m_HeaderLength++] = Byte; }
    void PutTimeStamp(std::uint8_t Prefix, std::int64_t Value);
    void WriteHeader();

    std::int64_t m_FrameTicks = 0;
    std::int64_t m_LastVideoPTS = 0;
    std::int64_t m_LastSCR = 0;
    std::int64_t m_PTSOffset = 0;
    std::int64_t m_SCROffset = 0;
    bool m_FirstPTSPending = true;
    bool m_FirstSCRPending = true;
    TStream* m_Output = nullptr;
    std::array<TAudioTrack, LastAudioStream - FirstAudioStream + 1> m_Audio{};
    std::array<std::uint8_t, 16> m_Header{};
    std::size_t m_HeaderLength = 0;
};

} // namespace vantrel
