#include "join/DecoderModel.h"

#include "mpeg/StartCodes.h"
#include "mpeg/TimeStamps.h"
#include "mpeg/audio/AC3.h"
#include "mpeg/audio/DTS.h"
#include "mpeg/audio/MPEGAudio.h"
#include "mpeg/ps/PackSyntax.h"
#include "mpeg/ps/SubStreams.h"

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

void TUnitSplitter::Add(const std::uint8_t* Payload, std::size_t Length, std::optional<std::int64_t> Stamp)
{
    m_PacketStart = m_Bytes;
    m_Stamp = Stamp;
    if (m_Video) {
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
        while (At + 4 <= m_Pending.size()) {
            const auto Frame = AudioFrameAt(std::span(m_Pending).subspan(At));
            if (!Frame) {
                ++At; // a lost header is searched again
                continue;
            }
            if (Frame->first == 0)
                break;
            Found(m_PendingAt + static_cast<std::int64_t>(At), m_PendingAt + static_cast<std::int64_t>(At),
                  Frame->second);
            At += static_cast<std::size_t>(Frame->first);
        }
        const std::size_t Drop = std::min(At, m_Pending.size());
        m_Pending.erase(m_Pending.begin(), m_Pending.begin() + static_cast<std::ptrdiff_t>(Drop));
        m_PendingAt += static_cast<std::int64_t>(At);
    }
    m_Bytes += static_cast<std::int64_t>(Length);
    m_Stamp.reset();
}

void TBufferModel::Add(std::uint8_t StreamId, std::int64_t FrameTicks, const std::uint8_t* Payload,
                       std::size_t Length, std::optional<std::int64_t> Stamp, std::uint32_t STDBufferSize)
{
    auto Found = m_Streams.find(StreamId);
    if (Found == m_Streams.end())
        Found = m_Streams.emplace(StreamId, TStream{TUnitSplitter(StreamId, FrameTicks), 0}).first;
    if (STDBufferSize)
        Found->second.BufferSize = STDBufferSize;
    Found->second.Units.Add(Payload, Length, Stamp);
}

std::int64_t TBufferModel::Waiting(std::uint8_t StreamId, std::int64_t T) const
{
    const auto Found = m_Streams.find(StreamId);
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

std::uint32_t TBufferModel::BufferSize(std::uint8_t StreamId) const
{
    const auto Found = m_Streams.find(StreamId);
    return Found == m_Streams.end() ? 0 : Found->second.BufferSize;
}

namespace {

struct TSimulation
{
    const std::vector<TLeadPack>& Packs;
    const std::map<std::uint8_t, std::vector<TAccessUnit>>& Units;
    const TBufferModel* Before; // nothing: the later file alone, on its own clock
    std::int64_t ChannelFree;
    bool ReachesEnd; // the packs are all the file has
    std::map<std::uint8_t, std::int64_t> Sizes;
    // How late each stream's units arrive on their own: never later than that.
    std::map<std::uint8_t, std::vector<std::int64_t>> Allowed;

    // Bytes of stream Id's units that have not left by T, of Arrived.
    std::int64_t Held(std::uint8_t Id, std::int64_t Arrived, std::int64_t T, std::int64_t Pause) const
    {
        const auto Found = Units.find(Id);
        if (Found == Units.end())
            return 0;
        const auto& U = Found->second;
        const auto Left =
            std::upper_bound(U.begin(), U.end(), T - Pause,
                             [](std::int64_t Time, const TAccessUnit& Unit) { return Time < Unit.Decode; });
        // What stands before the first unit (the rest of a frame a cut left
        // at the file's start) leaves with it.
        const std::int64_t Removed = Left == U.end()     ? Arrived
                                     : Left == U.begin() ? 0
                                                         : std::min(Left->Start, Arrived);
        return Arrived - Removed + (Before ? Before->Waiting(Id, T) : 0);
    }

    // Runs the packs at Rate (0: their own) after a pause; fills SCR and
    // says whether the model held. Alone, it records how late units are.
    bool Run(std::uint32_t Rate, std::int64_t Pause, std::vector<std::optional<std::int64_t>>& SCR)
    {
        SCR.clear();
        std::map<std::uint8_t, std::int64_t> Arrived;
        std::map<std::uint8_t, std::size_t> Checked;
        std::int64_t Free = ChannelFree;
        bool Holds = true;
        for (const TLeadPack& Pack : Packs) {
            const std::int64_t Own = Pack.SCR + Pause;
            const std::uint32_t R = Rate ? Rate : Pack.MuxRate;
            if (Before && Pack.PaddingOnly && Free > Own) {
                SCR.push_back(std::nullopt);
                continue;
            }
            std::int64_t Start = PackStart(Own, Free);
            // Wait until each packet's payload finds room in its buffer.
            std::map<std::uint8_t, std::int64_t> InPack;
            for (const TLeadPack::TPacket& Packet : Pack.Packets) {
                const std::int64_t Size = Sizes.count(Packet.StreamId) ? Sizes.at(Packet.StreamId) : 0;
                InPack[Packet.StreamId] += Packet.Payload;
                if (!Before || Size == 0)
                    continue;
                const std::int64_t Bytes = Arrived[Packet.StreamId] + InPack[Packet.StreamId];
                for (int Step = 0; Step < 4096; ++Step) {
                    const std::int64_t At = Start + ArrivalTicks(Packet.End, R);
                    if (Held(Packet.StreamId, Bytes, At, Pause) <= Size)
                        break;
                    Start += std::max<std::int64_t>(ArrivalTicks(Packet.Payload, R) / 4, 90);
                }
            }
            for (const TLeadPack::TPacket& Packet : Pack.Packets) {
                std::int64_t& Bytes = Arrived[Packet.StreamId];
                Bytes += Packet.Payload;
                const auto Found = Units.find(Packet.StreamId);
                if (Found == Units.end())
                    continue;
                const auto& U = Found->second;
                std::vector<std::int64_t>& Allow = Allowed[Packet.StreamId];
                Allow.resize(U.size(), 0);
                const std::int64_t At = Start + ArrivalTicks(Packet.End, R);
                // A unit is whole once the next one has begun.
                for (std::size_t& J = Checked[Packet.StreamId]; J + 1 < U.size() && U[J + 1].Start <= Bytes;
                     ++J) {
                    const std::int64_t Late = At - (U[J].Decode + Pause);
                    if (!Before)
                        Allow[J] = std::max<std::int64_t>(Late, 0);
                    else if (Late > Allow[J])
                        Holds = false;
                }
            }
            SCR.push_back(Start);
            Free = Start + ArrivalTicks(Pack.Length, R);
            // On its own time again, with what came before decoded: the rest
            // of the file runs as it was muxed.
            if (Before && Start == Own && (!Before->LastDecode() || *Before->LastDecode() <= Own))
                return Holds;
        }
        // Still behind its own clock where the look ahead ends: the rest of
        // the file would be later than it was muxed, and nothing here says
        // its units can bear it.
        return Holds && (!Before || ReachesEnd);
    }
};

} // namespace

TJointPlan PlanJoint(const std::vector<TLeadPack>& Packs,
                     const std::map<std::uint8_t, std::vector<TAccessUnit>>& Units,
                     const std::map<std::uint8_t, std::uint32_t>& Sizes, const TBufferModel& Before,
                     std::int64_t ChannelFree, bool FixedRate, bool ReachesEnd)
{
    TJointPlan Plan;
    if (Packs.empty())
        return Plan;
    TSimulation Alone{Packs, Units, nullptr, Packs.front().SCR, ReachesEnd, {}, {}};
    std::vector<std::optional<std::int64_t>> SCR;
    Alone.Run(0, 0, SCR);
    // A buffer is as large as either file declares it.
    TSimulation Joint{Packs, Units, &Before, ChannelFree, ReachesEnd, {}, std::move(Alone.Allowed)};
    for (const auto& [Id, Size] : Sizes)
        Joint.Sizes[Id] = std::max(Size, Before.BufferSize(Id));
    std::uint32_t OwnRate = 0;
    for (const TLeadPack& Pack : Packs)
        OwnRate = std::max(OwnRate, Pack.MuxRate);
    // No change first, then faster packs where the rate is free. Faster is
    // not always better: a pack whose large sound packet arrives sooner may
    // find its buffer still full, and must wait after all.
    static constexpr double Faster[] = {1, 1.25, 1.5, 2, 3, 4};
    // The field has 22 bits.
    constexpr double HighestRate = (1 << 22) - 1;
    const auto HoldsAfter = [&](std::int64_t Pause) {
        for (const double Factor : Faster) {
            if (FixedRate && Factor != 1)
                break;
            const auto Rate = static_cast<std::uint32_t>(std::min(OwnRate * Factor, HighestRate));
            Plan.MuxRate = Factor == 1 ? 0 : Rate;
            if (Joint.Run(Plan.MuxRate, Pause, Plan.SCR))
                return true;
        }
        return false;
    };
    Plan.Holds = true;
    if (HoldsAfter(0))
        return Plan;
    // The shortest pause that holds: a disc sector at a time, then, where the
    // rate is free, a millisecond at a time within the last sector. A pause
    // that lets the earlier file's channel and buffers empty first holds
    // whenever the later file holds on its own: it then arrives as it was
    // muxed. Only a file late or overflowing by itself fails that.
    constexpr std::int64_t SectorTicks = ClockRate / 75, Millisecond = ClockRate / 1000;
    const std::int64_t Drained =
        std::max(ChannelFree, Before.LastDecode().value_or(ChannelFree)) - Packs.front().SCR;
    const std::int64_t Longest = std::max(Drained, SectorTicks);
    for (std::int64_t Pause = SectorTicks;; Pause += SectorTicks) {
        // Past a stretch of steps, the pause that surely holds.
        if (Pause > std::min(Longest, StepPauseLimit))
            Pause = Longest;
        if (!HoldsAfter(Pause)) {
            if (Pause == Longest)
                break;
            continue;
        }
        Plan.Pause = Pause;
        for (std::int64_t Shorter = Pause - SectorTicks + Millisecond; !FixedRate && Shorter < Pause;
             Shorter += Millisecond)
            if (HoldsAfter(Shorter)) {
                Plan.Pause = Shorter;
                return Plan;
            }
        HoldsAfter(Plan.Pause);
        return Plan;
    }
    // Nothing holds, whatever the pause: the later file is late or overflows
    // on its own. It then runs as it was muxed once everything before it has
    // left, and the joint is reported as it is.
    Plan.Holds = false;
    Plan.Pause = Longest;
    Plan.MuxRate = 0;
    Joint.Run(0, Longest, Plan.SCR);
    return Plan;
}

} // namespace vantrel
