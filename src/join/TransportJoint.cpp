#include "join/TransportJoint.h"

#include "mpeg/video/H264Levels.h"

#include <algorithm>
#include <cmath>

namespace vantrel {

namespace {

constexpr double Hz = static_cast<double>(SystemClockRate);
constexpr double TransportBufferSize = 512;
constexpr double PacketBytes = TransportPacketLength;

// How the later file's buffers fill on their own, packet by packet: what
// does not change, however far the file is moved.
struct TAlone
{
    std::vector<double> Held;      // its stream buffer after each packet
    std::vector<double> Transport; // its transport buffer after each packet
    // How full each PID's stream and transport buffers may be at the joint:
    // their sizes, or as full as either file fills them by itself where it
    // fills them more (ffmpeg's muxer sends sound far ahead of its time, and
    // overfills its buffers). A joint keeps an input's own overflow, never
    // makes it worse, and makes none where neither file has one.
    std::map<std::uint16_t, double> Allowed, AllowedTransport;
    void Allow(std::uint16_t PID, double Held, double Transport)
    {
        Allowed[PID] = std::max(Allowed[PID], Held);
        AllowedTransport[PID] = std::max(AllowedTransport[PID], Transport);
    }
};

TAlone ModelAlone(const TTransportLead& Lead)
{
    TAlone Alone;
    std::map<std::uint16_t, double> Arrived, Busy;
    std::map<std::uint16_t, std::size_t> Left; // units decoded so far
    for (const TTransportLead::TPacket& Packet : Lead.Packets) {
        const auto Buffer = Lead.Buffers.find(Packet.PID);
        const double Leak =
            Buffer == Lead.Buffers.end() || Buffer->second.Leak <= 0 ? 2e6 / 8 : Buffer->second.Leak;
        double& Until = Busy[Packet.PID];
        Until = std::max(Until, Packet.Arrival) + PacketBytes / Leak * Hz;
        Alone.Transport.push_back((Until - Packet.Arrival) * Leak / Hz);
        double& Bytes = Arrived[Packet.PID];
        Bytes += Packet.Bytes;
        // What of the units decoded by now has left, and what stands before
        // the first one (the rest of a frame a cut left) with it.
        double Removed = 0;
        if (const auto Units = Lead.Units.find(Packet.PID); Units != Lead.Units.end()) {
            const std::vector<TAccessUnit>& U = Units->second;
            std::size_t& J = Left[Packet.PID];
            while (J < U.size() && static_cast<double>(U[J].Decode) * 300 <= Packet.Arrival)
                ++J;
            Removed = J == 0          ? 0
                      : J == U.size() ? Bytes
                                      : std::min<double>(static_cast<double>(U[J].Start), Bytes);
        }
        Alone.Held.push_back(Bytes - Removed);
        Alone.Allow(Packet.PID,
                    std::max(Alone.Held.back(),
                             Buffer == Lead.Buffers.end() ? 0.0 : static_cast<double>(Buffer->second.Size)),
                    std::max(Alone.Transport.back(), TransportBufferSize));
    }
    return Alone;
}

// Whether the later file, Shift ticks later still, leaves every buffer it
// shares with the earlier file's last units within its size (or, where it
// fills one too much on its own, adds nothing to it). Filler: when the PCR
// packets between the files leave the clock's transport buffer empty.
bool Holds(const TTransportEnd& End, const TTransportLead& Lead, const TAlone& Alone, double Shift,
           double FillerEmpty)
{
    const std::optional<std::int64_t> Last = End.Waiting ? End.Waiting->LastDecode() : std::nullopt;
    for (std::size_t I = 0; I < Lead.Packets.size(); ++I) {
        const TTransportLead::TPacket& Packet = Lead.Packets[I];
        const double T = Packet.Arrival + Shift;
        double Empty = 0;
        if (const auto E = End.TransportEmpty.find(Packet.PID); E != End.TransportEmpty.end())
            Empty = E->second;
        if (Packet.PID == End.PCRPID)
            Empty = std::max(Empty, FillerEmpty);
        if ((!Last || T > static_cast<double>(*Last) * 300) && T >= Empty)
            return true;
        const auto Buffer = Lead.Buffers.find(Packet.PID);
        if (Buffer == Lead.Buffers.end())
            continue;
        const double Residual = std::max(0.0, Empty - T) * Buffer->second.Leak / Hz;
        if (Residual > 0 && Alone.Transport[I] + Residual > Alone.AllowedTransport.at(Packet.PID))
            return false;
        const double Waiting =
            End.Waiting
                ? static_cast<double>(End.Waiting->Waiting(Packet.PID, static_cast<std::int64_t>(T / 300)))
                : 0;
        if (Waiting > 0 && Alone.Held[I] + Waiting > Alone.Allowed.at(Packet.PID))
            return false;
    }
    return true;
}

// The smallest of First..Last (Last holds) at which Test holds; Test holds
// for everything after where it holds first.
std::int64_t FirstHolding(std::int64_t First, std::int64_t Last, const auto& Test)
{
    while (First < Last) {
        const std::int64_t Middle = First + (Last - First) / 2;
        if (Test(Middle))
            Last = Middle;
        else
            First = Middle + 1;
    }
    return First;
}

// When the clock's transport buffer is empty after packets at Times.
double EmptyAfter(double Busy, const std::vector<double>& Times, double Leak)
{
    for (const double T : Times)
        Busy = std::max(Busy, T) + PacketBytes / Leak * Hz;
    return Busy;
}

} // namespace

TStreamBuffer StreamBufferOf(TStreamCoding Coding, std::uint8_t ProfileAndLevel, std::uint8_t Channels)
{
    if (Coding == scMPEG1Video || Coding == scMPEG2Video) {
        // Rmax is 1.2 times the level's highest bit rate; the multiplex and
        // elementary buffers hold BSmux (4 ms of it), BSoh (1/750 s of it)
        // and the level's largest VBV buffer (2.4.2.6, table 8-13 of
        // 13818-2). Main level for MPEG-1's constrained parameters.
        struct TLevel
        {
            std::uint8_t Level;
            double BitRate, VBV; // bit/s, bits
        };
        static constexpr TLevel Levels[] = {
            {10, 4e6, 475136}, {8, 15e6, 1835008}, {6, 60e6, 7340032}, {4, 80e6, 9781248}};
        const std::uint8_t Level = ProfileAndLevel & 0x0F;
        const auto Found = std::find_if(std::begin(Levels), std::end(Levels),
                                        [Level](const TLevel& L) { return L.Level == Level; });
        const TLevel& L = Found == std::end(Levels) ? Levels[1] : *Found;
        const double Rmax = 1.2 * L.BitRate / 8;
        return {static_cast<std::int64_t>(0.004 * Rmax + Rmax / 750 + L.VBV / 8), Rmax};
    }
    switch (Coding) {
    case scAC3:
    case scEnhancedAC3: return {5696, 2e6 / 8};
    case scAAC:
    case scLATM: return Channels > 2 ? TStreamBuffer{8976, 5529600.0 / 8} : TStreamBuffer{3584, 2e6 / 8};
    default: return {3584, 2e6 / 8};
    }
}

std::optional<TStreamBuffer> H264StreamBuffer(const TSequenceParameterSet& Sps)
{
    const std::optional<TH264Level> Level = H264LevelOf(Sps);
    if (!Level)
        return std::nullopt;
    const double Factor = CpbBrNalFactor(Sps.ProfileIdc);
    const double Rmax = 1.2 * Level->MaxBR * Factor / 8, Cpb = Level->MaxCPB * Factor / 8;
    return TStreamBuffer{static_cast<std::int64_t>(0.004 * Rmax + Rmax / 750 + Cpb), Rmax};
}

TTransportJoint PlanTransportJoint(const TTransportEnd& End, const TTransportLead& Lead)
{
    TTransportJoint Joint;
    if (End.TicksPerByte <= 0)
        return Joint;
    TAlone Alone = ModelAlone(Lead);
    const double AtoB = Lead.TicksPerByte > 0 ? Lead.TicksPerByte : End.TicksPerByte;
    const auto Leak = Lead.Buffers.count(End.PCRPID) ? Lead.Buffers.at(End.PCRPID).Leak : 2e6 / 8;
    const double OwnEmpty = End.TransportEmpty.count(End.PCRPID) ? End.TransportEmpty.at(End.PCRPID) : 0;
    // Where a packet after the earlier file's last would have its PCR, at
    // that file's own rate.
    const auto PCRAfter = [&](double Packets) {
        return static_cast<double>(End.LastPCR) +
               (End.SinceLastPCR + Packets * PacketBytes + PCRByte) * End.TicksPerByte;
    };
    // What the earlier file holds by itself as its last byte arrives.
    const double Ended = PCRAfter(0) - PCRByte * End.TicksPerByte;
    for (const auto& [PID, Buffer] : Lead.Buffers) {
        const double Waiting =
            End.Waiting
                ? static_cast<double>(End.Waiting->Waiting(PID, static_cast<std::int64_t>(Ended / 300)))
                : 0;
        const auto Empty = End.TransportEmpty.find(PID);
        const double Transport =
            Empty == End.TransportEmpty.end() ? 0 : std::max(0.0, Empty->second - Ended) * Buffer.Leak / Hz;
        Alone.Allow(PID, Waiting, Transport);
    }
    // Furthest: everything the earlier file left has gone.
    const double Drain =
        std::max(End.Waiting && End.Waiting->LastDecode()
                     ? static_cast<double>(*End.Waiting->LastDecode()) * 300
                     : 0,
                 OwnEmpty) -
        (Lead.Packets.empty() ? static_cast<double>(Lead.FirstPCR) : Lead.Packets.front().Arrival);
    const bool Constant = End.ConstantRate && Lead.ConstantRate && Lead.TicksPerByte > 0 &&
                          std::abs(Lead.TicksPerByte - End.TicksPerByte) <= End.TicksPerByte * 1e-3;
    if (Constant) {
        // Filler packets at the one rate: the later file's first PCR follows
        // the earlier file's last by the bytes between them.
        const auto ShiftAfter = [&](std::int64_t Count) {
            return PCRAfter(static_cast<double>(Count)) - PCRByte * End.TicksPerByte +
                   Lead.PCRAt * End.TicksPerByte - static_cast<double>(Lead.FirstPCR);
        };
        std::int64_t Fewest =
            static_cast<std::int64_t>(std::ceil(-ShiftAfter(0) / (PacketBytes * End.TicksPerByte)));
        Fewest = std::max<std::int64_t>(Fewest, 0);
        if (Fewest == 0 &&
            ShiftAfter(0) + static_cast<double>(Lead.FirstPCR) - static_cast<double>(End.LastPCR) >
                static_cast<double>(FillerPCRGap))
            Fewest = 1;
        const std::int64_t Most = std::max(
            Fewest, static_cast<std::int64_t>(std::ceil(Drain / (PacketBytes * End.TicksPerByte))) + 1);
        const std::int64_t Count = FirstHolding(
            Fewest, Most, [&](std::int64_t N) { return Holds(End, Lead, Alone, ShiftAfter(N), OwnEmpty); });
        const auto Shift = static_cast<std::int64_t>(std::llround(ShiftAfter(Count)));
        Joint.Pause = Shift / 300;
        Joint.Extra = Shift - 300 * Joint.Pause;
        // A PCR where the next chance of one would come too late.
        double LastPCR = static_cast<double>(End.LastPCR);
        const double FirstOfLater = static_cast<double>(Lead.FirstPCR) + static_cast<double>(Shift);
        for (std::int64_t I = 0; I < Count; ++I) {
            const double Next = I + 1 < Count ? PCRAfter(static_cast<double>(I + 1)) : FirstOfLater;
            if (Next - LastPCR > static_cast<double>(FillerPCRGap)) {
                LastPCR = PCRAfter(static_cast<double>(I));
                Joint.Filler.push_back(std::llround(LastPCR));
            } else {
                Joint.Filler.push_back(std::nullopt);
            }
        }
        return Joint;
    }
    // A PCR packet right after the earlier file's last keeps its last bytes
    // at their time; it waits while the clock's transport buffer is full.
    double Pin = PCRAfter(0);
    const double PinEnd = Pin + (PacketBytes - 1 - PCRByte) * End.TicksPerByte;
    if (const double Room = TransportBufferSize - PacketBytes - std::max(0.0, OwnEmpty - PinEnd) * Leak / Hz;
        Room < 0)
        Pin += -Room / Leak * Hz;
    // The later file's first bytes come at its own rate up to its first PCR.
    const double HeadTicks = (PacketBytes - PCRByte + Lead.PCRAt) * AtoB;
    const double Earliest = Pin + HeadTicks - static_cast<double>(Lead.FirstPCR);
    const auto Ticks = [](double T) { return static_cast<std::int64_t>(std::ceil(std::max(T, 0.0) / 300)); };
    const auto FillerTimes = [&](std::int64_t Pause) {
        const double Last = static_cast<double>(Lead.FirstPCR) + static_cast<double>(Pause) * 300 - HeadTicks;
        std::vector<double> Times = {Pin};
        const auto Steps =
            static_cast<std::int64_t>(std::ceil((Last - Pin) / static_cast<double>(FillerPCRGap)));
        for (std::int64_t I = 1; I <= Steps; ++I)
            Times.push_back(Pin + (Last - Pin) * static_cast<double>(I) / static_cast<double>(Steps));
        return Times;
    };
    Joint.Pause =
        FirstHolding(Ticks(Earliest), std::max(Ticks(Earliest), Ticks(Drain)), [&](std::int64_t Pause) {
            return Holds(End, Lead, Alone, static_cast<double>(Pause) * 300,
                         EmptyAfter(OwnEmpty, FillerTimes(Pause), Leak));
        });
    for (const double T : FillerTimes(Joint.Pause))
        Joint.Filler.push_back(std::llround(T));
    return Joint;
}

TTransportEnd TransportEndOf(const TTransportState& T, const TBufferModel& Waiting)
{
    TTransportEnd End;
    End.LastPCR = T.LastPCR.value_or(0);
    End.SinceLastPCR = T.Position - T.LastPCRAt;
    End.TicksPerByte = T.TicksPerByte();
    End.ConstantRate = T.RateLow > 0 && T.RateHigh - T.RateLow <= T.RateLow * 1e-3;
    End.Waiting = &Waiting;
    End.TransportEmpty = T.TransportEmpty;
    End.PCRPID = T.PCRPID;
    return End;
}

std::vector<TFillerPacket> FillerPackets(const TTransportJoint& Joint, const TTransportEnd& End)
{
    std::vector<TFillerPacket> Filler;
    for (std::size_t I = 0; I < Joint.Filler.size(); ++I) {
        const double NullArrival = static_cast<double>(End.LastPCR) +
                                   (End.SinceLastPCR + static_cast<double>(I) * PacketBytes + PCRByte) *
                                       End.TicksPerByte;
        const std::optional<std::int64_t>& PCR = Joint.Filler[I];
        Filler.push_back({PCR ? *PCR : std::llround(NullArrival), PCR.has_value()});
    }
    return Filler;
}

} // namespace vantrel
