#include "MPEGTimeCorrect.h"

#include "media/MP3Read.h"
#include "media/SysUtils.h"

#include <algorithm>
#include <cmath>

namespace vantrel {

namespace {
constexpr double ClockRate = 90000;
// An audio stream whose first payloads hold no frame header is not searched
// for ever: it then counts by its time stamps alone.
constexpr std::int32_t MaxHeaderSearches = 8;
} // namespace

void TTimeCorrector::Reset(double FrameRate)
{
    if (FrameRate == 0)
        throw Exception("Floating point division by zero");
    const double Ticks = std::nearbyint(1.0 / FrameRate * ClockRate);
    // A frame longer than the whole 33-bit clock makes no sense.
    if (!(Ticks >= 1 && Ticks < 8589934592.0))
        throw Exception(Format("Invalid frame rate %g", FrameRate));
    m_FrameTicks = static_cast<std::int64_t>(Ticks);
    m_LastVideoPTS = m_LastSCR = m_PTSOffset = m_SCROffset = 0;
    m_Audio = {};
}

void TTimeCorrector::BeginFile(std::optional<std::int64_t> FirstPTS)
{
    m_FirstPTSPending = true;
    if (m_LastVideoPTS != 0) {
        const std::int64_t Start = std::max(m_LastVideoPTS + m_FrameTicks, AudioEnd());
        if (FirstPTS) {
            m_PTSOffset = Start - *FirstPTS;
            m_FirstPTSPending = false;
        } else {
            m_PTSOffset = Start;
        }
    }
    m_SCROffset = m_LastSCR;
    m_FirstSCRPending = true;
}

void TTimeCorrector::WritePackHeader(TStream& Output, std::int64_t SCR, std::uint32_t MuxRate)
{
    m_Output = &Output;
    if (m_FirstSCRPending && m_SCROffset != 0)
        m_SCROffset -= SCR;
    m_FirstSCRPending = false;
    m_LastSCR = SCR + m_SCROffset;
    PutPackHeader(m_LastSCR, MuxRate);
}

void TTimeCorrector::WritePESPacket(TStream& Output, TPESInfo PES, const std::uint8_t* Payload,
                                    std::uint32_t PayloadLength)
{
    m_Output = &Output;
    if (PES.HasPTS) {
        if (m_FirstPTSPending && m_PTSOffset != 0)
            m_PTSOffset -= PES.PTS;
        m_FirstPTSPending = false;
        PES.PTS += m_PTSOffset;
        if (PES.HasDTS)
            PES.DTS += m_PTSOffset;
        if (PES.StreamId == FirstVideoStream)
            m_LastVideoPTS = std::max(m_LastVideoPTS, PES.PTS);
    }
    if (PES.StreamId >= FirstAudioStream && PES.StreamId <= LastAudioStream)
        TrackAudio(PES, Payload, PayloadLength);
    PutPESPacket(PES, Payload, PayloadLength);
}

void TTimeCorrector::TrackAudio(const TPESInfo& PES, const std::uint8_t* Payload, std::uint32_t PayloadLength)
{
    TAudioTrack& Track = m_Audio[PES.StreamId - FirstAudioStream];
    if (Track.BitRate == 0 && Track.Searches < MaxHeaderSearches && PayloadLength > 0) {
        ++Track.Searches;
        TMemoryStream Stream;
        Stream.Write(Payload, PayloadLength);
        Stream.SetPosition(0);
        TAudioFrameHeader Header;
        if (FindAudioFrameHeader(Stream, Header))
            Track.BitRate = Header.BitRate;
    }
    if (PES.HasPTS) {
        Track.HasPTS = true;
        Track.LastPTS = PES.PTS;
        Track.BytesSince = 0;
    }
    Track.BytesSince += PayloadLength;
}

std::int64_t TTimeCorrector::AudioEnd() const
{
    std::int64_t End = 0;
    for (const TAudioTrack& Track : m_Audio) {
        if (!Track.HasPTS)
            continue;
        const std::int64_t PlayTime =
            Track.BitRate > 0 ? Track.BytesSince * 8 * static_cast<std::int64_t>(ClockRate) / Track.BitRate
                              : 0;
        End = std::max(End, Track.LastPTS + PlayTime);
    }
    return End;
}

void TTimeCorrector::PutTimeStamp(std::uint8_t Prefix, std::int64_t Value)
{
    // pppp vvv1, 8 bits, 7 bits + 1, 8 bits, 7 bits + 1: value bits 32..0.
    PutByte(static_cast<std::uint8_t>((Prefix << 4) | (((Value >> 30) & 7) << 1) | 1));
    PutByte(static_cast<std::uint8_t>(Value >> 22));
    PutByte(static_cast<std::uint8_t>((Value >> 14) | 1));
    PutByte(static_cast<std::uint8_t>(Value >> 7));
    PutByte(static_cast<std::uint8_t>((Value << 1) | 1));
}

void TTimeCorrector::PutPackHeader(std::int64_t SCR, std::uint32_t MuxRate)
{
    PutByte(0x00);
    PutByte(0x00);
    PutByte(0x01);
    PutByte(0xBA);
    PutTimeStamp(0x2, SCR);
    // Marker, mux rate bits 21..15, bits 14..7, bits 6..0 and a marker.
    PutByte(static_cast<std::uint8_t>((MuxRate >> 15) | 0x80));
    PutByte(static_cast<std::uint8_t>(MuxRate >> 7));
    PutByte(static_cast<std::uint8_t>((MuxRate << 1) | 1));
    WriteHeader();
}

void TTimeCorrector::PutPESPacket(const TPESInfo& PES, const std::uint8_t* Payload,
                                  std::uint32_t PayloadLength)
{
    const std::uint32_t StampBytes = PES.HasPTS ? (PES.HasDTS ? 10 : 5) : 1;
    const std::uint32_t Length = (PayloadLength + StampBytes) & 0xFFFF;
    PutByte(0x00);
    PutByte(0x00);
    PutByte(0x01);
    PutByte(PES.StreamId);
    PutByte(static_cast<std::uint8_t>(Length >> 8));
    PutByte(static_cast<std::uint8_t>(Length));
    if (PES.HasPTS && PES.HasDTS) {
        PutTimeStamp(0x3, PES.PTS);
        PutTimeStamp(0x1, PES.DTS);
    } else if (PES.HasPTS) {
        PutTimeStamp(0x2, PES.PTS);
    } else {
        PutByte(0x0F);
    }
    WriteHeader();
    m_Output->Write(Payload, PayloadLength);
}

void TTimeCorrector::WriteHeader()
{
    m_Output->Write(m_Header.data(), m_HeaderLength);
    m_HeaderLength = 0;
}

} // namespace vantrel
