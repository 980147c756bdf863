#include "join/AccessUnits.h"

#include "mpeg/StartCodes.h"
#include "mpeg/TimeStamps.h"
#include "mpeg/audio/AC3.h"
#include "mpeg/audio/DTS.h"
#include "mpeg/audio/MPEGAudio.h"
#include "mpeg/ps/PackSyntax.h"
#include "mpeg/ps/SubStreams.h"
#include "probe/SoundFrames.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <utility>

namespace vantrel {

std::optional<TModelPayload> ModelPayload(std::uint8_t StreamId, const std::uint8_t* Payload,
                                          std::size_t Length)
{
    if (IsAudioStream(StreamId) || IsVideoStream(StreamId))
        return TModelPayload{StreamId, Payload, Length};
    if (StreamId != PrivateStream1 || Length == 0 || !IsSubStreamAudio(Payload[0]))
        return std::nullopt;
    const std::size_t Skip = std::min(SubStreamHeaderLength(Payload[0]), Length);
    return TModelPayload{Payload[0], Payload + Skip, Length - Skip};
}

namespace {

// The length and play time of the audio frame whose header starts at Data:
// MPEG audio, AC-3 or DTS. Nothing for no header; zero length when more
// bytes are needed to tell.
std::optional<std::pair<std::int64_t, std::int64_t>> AudioFrameAt(std::span<const std::uint8_t> Data)
{
    if (Data.size() >= 2 && ((Data[0] == 0x0B && Data[1] == 0x77) || (Data[0] == 0x7F && Data[1] == 0xFE))) {
        constexpr std::size_t Enough = 11;
        if (Data.size() < Enough)
            return std::pair<std::int64_t, std::int64_t>{0, 0};
        if (const auto AC3 = DecodeAC3FrameHeader(Data))
            return std::pair<std::int64_t, std::int64_t>{AC3->FrameLength,
                                                         1536 * ClockRate / AC3->SampleRate};
        if (const auto DTS = DecodeDTSFrameHeader(Data))
            return std::pair<std::int64_t, std::int64_t>{DTS->FrameLength,
                                                         DTS->Samples * ClockRate / DTS->SampleRate};
    }
    const std::uint32_t Word = Data[0] | (Data[1] << 8) | (Data[2] << 16) | (std::uint32_t{Data[3]} << 24);
    TAudioFrameHeader Header;
    if (!DecodeAudioFrameHeader(Word, Header) || Header.FrameLength <= 0)
        return std::nullopt;
    return std::pair<std::int64_t, std::int64_t>{Header.FrameLength,
                                                 std::llround(Header.FrameDuration * ClockRate)};
}

} // namespace

std::optional<std::pair<std::int64_t, std::int64_t>>
TUnitSplitter::CodedFrameAt(std::span<const std::uint8_t> Data)
{
    const std::optional<TSoundFrame> Frame = SoundFrameAt(m_Coding, Data, m_LATMTicks);
    if (!Frame || Frame->Length == 0)
        return std::nullopt;
    return std::pair<std::int64_t, std::int64_t>{Frame->Length, std::llround(Frame->Ticks)};
}

void TUnitSplitter::Found(std::int64_t Start, std::int64_t StampAt, std::int64_t Ticks)
{
    std::optional<std::int64_t> Decode;
    if (m_Stamp && StampAt >= m_PacketStart)
        Decode = *std::exchange(m_Stamp, std::nullopt);
    else if (m_Last)
        Decode = *m_Last + m_LastTicks;
    m_LastTicks = Ticks;
    if (!Decode) // before the first stamp nothing says when it leaves
        return;
    m_Last = Decode;
    m_Units.push_back({Start, *Decode});
}

void TUnitSplitter::Add(const std::uint8_t* Payload, std::size_t Length, std::optional<std::int64_t> Stamp,
                        bool NewPacket)
{
    if (NewPacket) {
        m_PacketStart = m_Bytes;
        m_Stamp = Stamp;
    }
    if (m_H264) {
        m_H264->Add(Payload, Length, NewPacket ? Stamp : std::nullopt);
        TakeH264Units();
    } else if (m_Video) {
        ForEachStartCode(Payload, Length, m_Scan, [&](std::size_t I) {
            const std::int64_t At = m_Bytes + static_cast<std::int64_t>(I) - 3;
            const std::uint8_t Code = Payload[I];
            if ((Code == SequenceHeaderCode || Code == GroupStartCode) && !m_HeadersAt)
                m_HeadersAt = At;
            else if (Code == PictureStartCode)
                Found(m_HeadersAt.value_or(At), At, m_FrameTicks);
            if (Code == PictureStartCode)
                m_HeadersAt.reset();
            return false;
        });
    } else if (m_Packets) {
        if (Stamp)
            Found(m_Bytes, m_Bytes, 0);
    } else {
        // The bytes from the next expected header on: those of a frame that
        // ends in a later payload are passed over.
        std::size_t From = 0;
        if (m_Pending.empty()) {
            m_PendingAt = std::max(m_PendingAt, m_Bytes);
            From = static_cast<std::size_t>(std::min<std::int64_t>(m_PendingAt - m_Bytes, Length));
        }
        m_Pending.insert(m_Pending.end(), Payload + From, Payload + Length);
        std::size_t At = 0;
        // A transport stream's frames are told by their coding, once the
        // bytes hold any of their headers.
        constexpr std::size_t HeaderBytes = 16;
        while (At + (m_Coding == scOther ? 4 : HeaderBytes) <= m_Pending.size()) {
            const auto Frame = m_Coding == scOther ? AudioFrameAt(std::span(m_Pending).subspan(At))
                                                   : CodedFrameAt(std::span(m_Pending).subspan(At));
            if (!Frame) {
                ++At; // a lost header is searched again
                continue;
            }
            if (Frame->first == 0)
                break;
            // A part of the frame before (a dependent E-AC-3 substream)
            // leaves with it.
            if (Frame->second > 0 || m_Units.empty())
                Found(m_PendingAt + static_cast<std::int64_t>(At),
                      m_PendingAt + static_cast<std::int64_t>(At), Frame->second);
            At += static_cast<std::size_t>(Frame->first);
        }
        const std::size_t Drop = std::min(At, m_Pending.size());
        m_Pending.erase(m_Pending.begin(), m_Pending.begin() + static_cast<std::ptrdiff_t>(Drop));
        m_PendingAt += static_cast<std::int64_t>(At);
    }
    m_Bytes += static_cast<std::int64_t>(Length);
}

void TUnitSplitter::Finish()
{
    if (!m_H264)
        return;
    m_H264->Finish();
    TakeH264Units();
}

void TUnitSplitter::TakeH264Units()
{
    const std::vector<TH264Unit>& Units = m_H264->Units();
    for (; m_H264Taken < Units.size(); ++m_H264Taken) {
        const TH264Unit& Unit = Units[m_H264Taken];
        std::optional<std::int64_t> Decode = Unit.Stamp;
        if (!Decode && m_Last)
            Decode = *m_Last + m_LastTicks;
        m_LastTicks = Unit.Fields * m_FrameTicks / 2;
        if (!Decode) // before the first stamp nothing says when it leaves
            continue;
        m_Last = Decode;
        m_Units.push_back({Unit.Start, *Decode});
    }
}

void TBufferModel::Add(std::uint16_t Stream, std::int64_t FrameTicks, const std::uint8_t* Payload,
                       std::size_t Length, std::optional<std::int64_t> Stamp, std::uint32_t STDBufferSize,
                       TStreamCoding Coding, bool NewPacket)
{
    auto Found = m_Streams.find(Stream);
    if (Found == m_Streams.end())
        Found = m_Streams.emplace(Stream, TStream{TUnitSplitter(Stream, FrameTicks, Coding), 0}).first;
    if (STDBufferSize)
        Found->second.BufferSize = STDBufferSize;
    Found->second.Units.Add(Payload, Length, Stamp, NewPacket);
}

std::int64_t TBufferModel::Waiting(std::uint16_t Stream, std::int64_t T) const
{
    const auto Found = m_Streams.find(Stream);
    if (Found == m_Streams.end())
        return 0;
    const std::vector<TAccessUnit>& Units = Found->second.Units.Units();
    const auto After =
        std::upper_bound(Units.begin(), Units.end(), T,
                         [](std::int64_t Time, const TAccessUnit& Unit) { return Time < Unit.Decode; });
    return After == Units.end() ? 0 : Found->second.Units.Bytes() - After->Start;
}

std::optional<std::int64_t> TBufferModel::LastDecode() const
{
    std::optional<std::int64_t> Last;
    for (const auto& [Id, Stream] : m_Streams)
        if (!Stream.Units.Units().empty())
            Last = std::max(Last.value_or(Stream.Units.Units().back().Decode),
                            Stream.Units.Units().back().Decode);
    return Last;
}

void TBufferModel::Finish(std::uint16_t Stream)
{
    if (const auto Found = m_Streams.find(Stream); Found != m_Streams.end())
        Found->second.Units.Finish();
}

std::uint32_t TBufferModel::BufferSize(std::uint16_t Stream) const
{
    const auto Found = m_Streams.find(Stream);
    return Found == m_Streams.end() ? 0 : Found->second.BufferSize;
}

} // namespace vantrel
