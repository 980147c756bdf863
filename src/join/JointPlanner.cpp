#include "join/JointPlanner.h"

#include "mpeg/ps/PackSyntax.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace vantrel {

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
                    // The bytes' time is rounded up to a tick: a unit that
                    // leaves in that very tick may still be there.
                    if (Held(Packet.StreamId, Bytes, At - 1, Pause) <= Size)
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
