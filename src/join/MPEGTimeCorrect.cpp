#include "join/MPEGTimeCorrect.h"

#include "io/SysUtils.h"
#include "mpeg/StartCodes.h"
#include "mpeg/TimeStamps.h"
#include "mpeg/ps/PackSyntax.h"
#include "mpeg/ps/SubStreams.h"
#include "mpeg/video/SequenceHeader.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace vantrel {

void TTimeCorrector::Reset(double FrameRate)
{
    if (FrameRate == 0)
        throw Exception("Floating point division by zero");
    const double Ticks = TicksPerFrame(FrameRate);
    // A frame longer than the whole 33-bit clock makes no sense.
    if (!(Ticks >= 1 && Ticks < static_cast<double>(ClockWrap)))
        throw Exception(Format("Invalid frame rate %g", FrameRate));
    *this = TTimeCorrector{};
    m_FrameTicks = static_cast<std::int64_t>(Ticks);
}

void TTimeCorrector::BeginFile(std::optional<std::int64_t> FirstPTS, std::optional<std::int64_t> Start)
{
    ++m_Files;
    const std::optional<std::int64_t> End = Start ? Start : OutputEnd();
    for (TAudioEnd& Audio : m_Audio)
        Audio.BeginFile();
    m_PrivateAudio.clear();
    m_TransportSound.clear();
    // The file's own line starts at its first PTS. A later file that showed
    // none ahead is pinned by its first stamp of any kind instead.
    m_OwnClock = false;
    m_FileStart = End;
    m_File =
        TFileLine(FirstPTS, End && FirstPTS ? *End - *FirstPTS : 0, End && !FirstPTS ? End : std::nullopt);
}

std::int64_t TFileLine::Stamp(std::int64_t Raw)
{
    if (m_Last) {
        m_Last = *m_Last + ClockDistance(*m_Last, Raw);
    } else {
        m_Last = Raw;
        if (m_PinAt)
            m_Offset = *std::exchange(m_PinAt, std::nullopt) - Raw;
    }
    return *m_Last + m_Offset;
}

void TTimeCorrector::ContinueFile()
{
    ++m_Files;
    m_OwnClock = true;
    m_FileStart = OutputEnd();
}

std::optional<std::int64_t> TFileLine::Peek(std::int64_t Raw) const
{
    if (!m_Last)
        return std::nullopt;
    return *m_Last + ClockDistance(*m_Last, Raw) + m_Offset;
}

void TFileLine::Delay(std::int64_t Ticks)
{
    m_Offset += Ticks;
    if (m_PinAt)
        *m_PinAt += Ticks;
}

std::optional<std::int64_t> TTimeCorrector::Peek(std::int64_t Raw) const
{
    return m_File.Peek(Raw);
}

std::int64_t TTimeCorrector::Stamp(std::int64_t Raw)
{
    return m_File.Stamp(Raw);
}

TTimeCorrector::TPackTime TTimeCorrector::PackTime(std::int64_t RawSCR, std::int64_t OutputPosition)
{
    const std::int64_t Own = Stamp(RawSCR);
    if (IsFirstFile() || m_OwnClock || !m_HasPack)
        return {Own, false};
    // The clock strictly increases, also after a pack that takes no time.
    const std::int64_t Start = std::max(PackStart(Own, *ChannelFree(OutputPosition)), m_LastSCR + 1);
    return {Start, Start != Own};
}

void TTimeCorrector::Delay(std::int64_t Ticks)
{
    m_File.Delay(Ticks);
    if (m_FileStart)
        *m_FileStart += Ticks;
}

std::optional<std::int64_t> TTimeCorrector::ChannelFree(std::int64_t OutputPosition) const
{
    if (!m_HasPack)
        return std::nullopt;
    return m_LastSCR + ArrivalTicks(OutputPosition - m_LastPackPosition, m_LastMuxRate);
}

void TTimeCorrector::KeepPack(std::int64_t SCR, std::uint32_t MuxRate, std::int64_t OutputPosition)
{
    m_HasPack = true;
    m_LastSCR = SCR;
    m_LastMuxRate = MuxRate;
    m_LastPackPosition = OutputPosition;
}

void TTimeCorrector::AddPacket(const TPESInfo& PES, const std::uint8_t* Payload, std::size_t Length,
                               bool NearEnd)
{
    const auto PTS = PES.HasPTS ? std::optional(PES.PTS) : std::nullopt;
    if (PES.StreamId == FirstVideoStream)
        m_Video.Add(PTS, PES.HasDTS ? std::optional(PES.DTS) : std::nullopt, Payload, Length, NearEnd);
    else if (IsAudioStream(PES.StreamId))
        m_Audio[PES.StreamId - FirstAudioStream].Add(PTS, Payload, Length);
    else if (PES.StreamId == PrivateStream1 && Length > 0 && IsSubStreamAudio(Payload[0]))
        m_PrivateAudio[Payload[0]].AddPrivate(PTS, Payload, Length);
}

void TTimeCorrector::AddTransportVideo(std::uint16_t PID, std::optional<std::int64_t> PTS,
                                       std::optional<std::int64_t> DTS, std::span<const std::uint8_t> Payload,
                                       bool NewPacket, bool NearEnd)
{
    m_TransportVideo[PID].Add(PTS, DTS, Payload.data(), Payload.size(), NearEnd, NewPacket);
}

void TTimeCorrector::AddTransportSound(std::uint16_t PID, TStreamCoding Coding, std::int32_t SampleRate,
                                       std::optional<std::int64_t> PTS, std::span<const std::uint8_t> Payload)
{
    auto Sound = m_TransportSound.find(PID);
    if (Sound == m_TransportSound.end())
        Sound = m_TransportSound
                    .emplace(PID, TSoundEnd(Coding, SampleRate > 0 ? 1024.0 * ClockRate / SampleRate : 0))
                    .first;
    Sound->second.Add(PTS, Payload);
}

std::optional<std::int64_t> TTimeCorrector::VideoEnd() const
{
    std::optional<std::int64_t> End = m_Video.End(m_FrameTicks);
    for (const auto& [PID, Video] : m_TransportVideo)
        if (const auto VideoEnd = Video.End(m_FrameTicks))
            End = End ? std::max(*End, *VideoEnd) : *VideoEnd;
    return End;
}

std::optional<std::int64_t> TTimeCorrector::OutputEnd() const
{
    std::optional<std::int64_t> End = VideoEnd();
    for (const TAudioEnd& Audio : m_Audio)
        if (const auto AudioEnd = Audio.End())
            End = End ? std::max(*End, *AudioEnd) : *AudioEnd;
    for (const auto& [SubId, Audio] : m_PrivateAudio)
        if (const auto AudioEnd = Audio.End())
            End = End ? std::max(*End, *AudioEnd) : *AudioEnd;
    for (const auto& [PID, Sound] : m_TransportSound)
        if (const auto SoundEnd = Sound.End())
            End = End ? std::max(*End, *SoundEnd) : *SoundEnd;
    return End;
}

} // namespace vantrel
