#include "TransportModel.h"

#include "H264Model.h"

#include <algorithm>
#include <array>
#include <map>
#include <tuple>

namespace vantrel::test {

namespace {

constexpr double ClockHz = 27e6;

struct TUnit
{
    std::size_t End; // ES offset after its last byte
    double Decode;   // 27 MHz, continuous
};

// Bytes and 27 MHz ticks of the sound frame at D (N bytes left); 0 bytes
// when none starts there.
std::pair<std::size_t, double> SoundFrame(TModelKind Model, const std::uint8_t* D, std::size_t N,
                                          double LATMTicks)
{
    static constexpr int HzAAC[] = {96000, 88200, 64000, 48000, 44100, 32000,
                                    24000, 22050, 16000, 12000, 11025, 8000};
    // The program stream model's frames, its 90 kHz ticks in 27 MHz ones.
    if (Model == mdMPEGAudio && N >= 4) {
        const auto [Length, Ticks] = AudioFrame(D);
        return {static_cast<std::size_t>(Length), Ticks * 300};
    }
    if (Model == mdAC3 && N >= 6 && D[0] == 0x0B && D[1] == 0x77) {
        if ((D[5] >> 3) <= 10) {
            const auto [Length, Ticks] = AC3Frame(D);
            return {static_cast<std::size_t>(Length), Ticks * 300};
        }
        // Enhanced AC-3 (annex E): a dependent substream plays with the frame before it.
        const int Rate = D[4] >> 6, Blocks = Rate == 3 ? 6 : std::array{1, 2, 3, 6}[(D[4] >> 4) & 3];
        const int Hz = Rate == 3 ? std::array{24000, 22050, 16000, 0}[(D[4] >> 4) & 3]
                                 : std::array{48000, 44100, 32000}[Rate];
        if (Hz == 0)
            return {0, 0};
        return {2 * ((((D[2] & 7u) << 8) | D[3]) + 1), (D[2] >> 6) == 1 ? 0 : Blocks * 256 * ClockHz / Hz};
    }
    if (Model == mdAAC && N >= 7 && D[0] == 0xFF && (D[1] & 0xF6) == 0xF0 && ((D[2] >> 2) & 15) < 12)
        return {((D[3] & 3u) << 11) | (D[4] << 3) | (D[5] >> 5),
                1024.0 * ((D[6] & 3) + 1) * ClockHz / HzAAC[(D[2] >> 2) & 15]};
    if (Model == mdLATM && N >= 3 && D[0] == 0x56 && (D[1] & 0xE0) == 0xE0)
        return {3 + (((D[1] & 0x1Fu) << 8) | D[2]), LATMTicks};
    return {0, 0};
}

// The frame time of a LATM stream from its first StreamMuxConfig (ISO/IEC
// 14496-3, 1.7.3): numSubFrames and the core's rate; 0 when none is found.
double LATMTicks(const TBytes& ES)
{
    static constexpr int Hz[] = {96000, 88200, 64000, 48000, 44100, 32000,
                                 24000, 22050, 16000, 12000, 11025, 8000};
    for (std::size_t At = 0; At + 3 < ES.size();) {
        if (ES[At] != 0x56 || (ES[At + 1] & 0xE0) != 0xE0)
            return 0;
        std::size_t Bit = (At + 3) * 8;
        const auto Read = [&](int N) {
            std::uint32_t V = 0;
            for (int I = 0; I < N; ++I, ++Bit)
                V = (V << 1) | (Bit / 8 < ES.size() ? (ES[Bit / 8] >> (7 - Bit % 8)) & 1 : 0);
            return V;
        };
        const auto Value = [&] { return Read(8 * (Read(2) + 1)); };
        if (Read(1) == 0) {
            const std::uint32_t Version = Read(1);
            if (Version)
                Read(1), Value();
            Read(1);
            const std::uint32_t SubFrames = Read(6) + 1;
            Read(7);
            if (Version)
                Value();
            const std::uint32_t Type = Read(5), Index = Read(4);
            (void)Type;
            return Index < 12 ? 1024.0 * SubFrames * ClockHz / Hz[Index] : 0;
        }
        At += 3 + (((ES[At + 1] & 0x1F) << 8) | ES[At + 2]);
    }
    return 0;
}

// Units without a stamp of their own where the stream says no frame time
// (H.264: the second field of a pair in one PES packet) decode evenly
// spaced between the stamped ones around them; after the last stamp, at
// the pace before it. The first unit has a stamp.
void Spread(std::vector<TUnit>& Units, const std::vector<bool>& Stamped)
{
    double Step = 0;
    for (std::size_t I = 1; I < Units.size();) {
        if (Stamped[I]) {
            Step = Units[I].Decode - Units[I - 1].Decode;
            ++I;
            continue;
        }
        std::size_t J = I;
        while (J < Units.size() && !Stamped[J])
            ++J;
        if (J < Units.size())
            Step = (Units[J].Decode - Units[I - 1].Decode) / double(J - I + 1);
        for (; I < J; ++I)
            Units[I].Decode = Units[I - 1].Decode + Step;
    }
}

std::vector<TUnit> Units(const TModelledStream& S)
{
    std::vector<TUnit> Units;
    std::vector<std::pair<std::size_t, std::size_t>>
        Ranges; // start of each unit, where its stamp is looked for
    const TBytes& D = S.ES;
    double FrameTicks = 0;
    if (S.Kind == mdVideo) {
        constexpr std::size_t None = ~std::size_t{0};
        std::size_t Headers = None; // where the headers before the next picture start
        for (std::size_t I = 0; I + 4 <= D.size(); ++I) {
            if (D[I] != 0 || D[I + 1] != 0 || D[I + 2] != 1)
                continue;
            if ((D[I + 3] == 0xB3 || D[I + 3] == 0xB8) && Headers == None)
                Headers = I;
            if (D[I + 3] == 0xB3 && FrameTicks == 0 && I + 8 <= D.size()) {
                static constexpr double Rates[] = {25, 23.976, 24, 25, 29.97, 30, 50, 59.94, 60};
                FrameTicks = ClockHz / Rates[(D[I + 7] & 15) <= 8 ? D[I + 7] & 15 : 0];
            }
            if (D[I + 3] == 0x00) {
                Ranges.emplace_back(std::min(Headers, I), I);
                Headers = None;
            }
        }
    } else if (S.Kind == mdH264) {
        Ranges = H264UnitRanges(D);
    } else {
        const double Latm = S.Kind == mdLATM ? LATMTicks(D) : 0;
        std::vector<double> Ticks;
        for (std::size_t I = 0; I < D.size();) {
            const auto [Length, T] = SoundFrame(S.Kind, &D[I], D.size() - I, Latm);
            if (Length == 0) {
                ++I;
                continue;
            }
            if (T == 0 && !Ranges.empty()) { // part of the frame before
                I += Length;
                continue;
            }
            Ranges.emplace_back(I, I);
            Ticks.push_back(T);
            I += Length;
        }
        FrameTicks = Ticks.empty() ? 0 : Ticks.front();
    }
    std::size_t Pes = 0;
    std::optional<std::size_t> StampedPES;
    std::vector<bool> OwnStamp;
    for (std::size_t J = 0; J < Ranges.size(); ++J) {
        while (Pes + 1 < S.PESs.size() && S.PESs[Pes + 1].ESOffset <= Ranges[J].second)
            ++Pes;
        const TModelledStream::TPES* P = S.PESs.empty() ? nullptr : &S.PESs[Pes];
        const bool Stamped = P && P->Decode && P->ESOffset <= Ranges[J].second && StampedPES != Pes;
        double Decode = 0;
        if (Stamped) {
            StampedPES = Pes;
            Decode = *P->Decode;
        } else if (!Units.empty()) {
            Decode = Units.back().Decode + FrameTicks;
        } else {
            continue; // before the first stamp: nothing says when
        }
        Units.push_back({J + 1 < Ranges.size() ? Ranges[J + 1].first : D.size(), Decode});
        OwnStamp.push_back(Stamped);
    }
    if (FrameTicks == 0)
        Spread(Units, OwnStamp);
    return Units;
}

// The packet that brings the byte before ES offset End.
const TModelledStream::TPacket& PacketOf(const TModelledStream& S, std::size_t End)
{
    std::size_t Bytes = 0;
    for (const TModelledStream::TPacket& Packet : S.Packets)
        if ((Bytes += Packet.Bytes) >= End)
            return Packet;
    return S.Packets.back();
}

} // namespace

void ModelStream(const TModelledStream& S, TTransportCheck& R, const TFaultNote& Fault)
{
    if (S.Packets.empty())
        return;
    const bool Leaks = S.Kind == mdVideo || S.Kind == mdH264; // through a multiplex buffer
    const std::uint16_t PID = S.PID;
    const TBytes& D = S.ES;
    // Rates in bytes a second; sizes in bytes (2.4.2.3, 2.4.2.6-7; DVB's
    // AC-3 model, ETSI TS 101 154).
    double Rx = 2e6 / 8, Rbx = 0, MBS = 3584, EBS = 0;
    if (S.Kind == mdVideo) {
        double Rmax = 15e6, VBVmax = 1835008, VBV = 0;
        for (std::size_t I = 0; I + 12 <= D.size(); ++I)
            if (D[I] == 0 && D[I + 1] == 0 && D[I + 2] == 1 && D[I + 3] == 0xB3) {
                VBV = (((D[I + 10] & 0x1F) << 5) | (D[I + 11] >> 3)) * 2048.0;
                for (std::size_t E = I + 12; E + 10 <= D.size() && E < I + 200; ++E)
                    if (D[E] == 0 && D[E + 1] == 0 && D[E + 2] == 1 && D[E + 3] == 0xB5 &&
                        (D[E + 4] >> 4) == 1) {
                        const int Profile = D[E + 4] & 7, Level = D[E + 5] >> 4;
                        const std::map<std::pair<int, int>, std::pair<double, double>> Bounds = {
                            {{4, 10}, {4e6, 475136}},  {{4, 8}, {15e6, 1835008}},  {{4, 6}, {60e6, 7340032}},
                            {{4, 4}, {80e6, 9781248}}, {{5, 8}, {15e6, 1835008}},  {{1, 8}, {20e6, 2441216}},
                            {{1, 6}, {80e6, 9781248}}, {{1, 4}, {100e6, 12222464}}};
                        if (const auto B = Bounds.find({Profile, Level}); B != Bounds.end())
                            std::tie(Rmax, VBVmax) = B->second;
                        VBV += D[E + 8] * 2048.0 * 1024;
                        break;
                    }
                break;
            }
        Rx = Rbx = 1.2 * Rmax / 8;
        const double Mux = std::max(1.2 * Rmax, 2e6) / 8;
        EBS = VBV;
        MBS = 0.004 * Mux + Mux / 750 + VBVmax / 8 - VBV;
    } else if (S.Kind == mdH264) {
        const std::optional<TH264Buffers> Buffers = H264Buffers(D);
        if (!Buffers)
            return;
        Rx = Buffers->Rx, Rbx = Buffers->Rbx, MBS = Buffers->MBS, EBS = Buffers->EBS;
    } else if (S.Kind == mdAC3) {
        MBS = 5696;
    } else if (S.Kind == mdAAC || S.Kind == mdLATM) {
        const bool Many = S.Kind == mdAAC && D.size() > 3 && ((((D[2] & 1) << 2) | (D[3] >> 6)) > 2);
        Rx = Many ? 5529600.0 / 8 : Rx;
        MBS = Many ? 8976 : 3584;
    }
    const std::vector<TUnit> Units = test::Units(S);
    R.Size[PID] = static_cast<std::int64_t>(MBS);
    R.UnitsOf[PID] = static_cast<int>(Units.size());
    R.Units += static_cast<int>(Units.size());
    // The transport buffer: whole packets in, Rx out, first come first served.
    std::vector<std::pair<double, std::size_t>> Out; // when a packet's bytes have left, its ES bytes
    double Busy = 0;
    std::vector<double> Ends;
    for (const TModelledStream::TPacket& Packet : S.Packets) {
        const double T = Packet.Arrival;
        double Held = 188;
        for (auto E = Ends.rbegin(); E != Ends.rend() && *E > T; ++E)
            Held += std::min(188.0, (*E - T) / ClockHz * Rx);
        if (Held > 512)
            Fault(R.Overflows, "TB overflow", Packet.Position,
                  "PID " + std::to_string(PID) + " holds " + std::to_string(int(Held)) + " bytes");
        Busy = std::max(Busy, T) + 188 / Rx * ClockHz;
        Ends.push_back(Busy);
        Out.emplace_back(Busy, Packet.Bytes);
    }
    // The next buffer: ES bytes in as they leave TB; video leaks on into
    // its elementary buffer at Rbx while that has room; units leave whole.
    double Now = Out.front().first, Buffer = 0, Entered = 0, Removed = 0;
    std::int64_t& Peak = R.Peak[PID];
    std::vector<std::pair<std::size_t, double>> Late; // unit end, decode time
    const auto Advance = [&](double To) {
        if (Leaks && To > Now) {
            const double Room = std::max(0.0, EBS - std::max(0.0, Entered - Removed));
            const double Moved = std::min({Buffer, Rbx * (To - Now) / ClockHz, Room});
            Buffer -= Moved;
            Entered += Moved;
        }
        Now = std::max(Now, To);
        while (!Late.empty() && Entered + 0.5 >= double(Late.front().first)) {
            R.WorstLate = std::max(R.WorstLate, (Now - Late.front().second) / ClockHz);
            Late.erase(Late.begin());
        }
    };
    for (std::size_t I = 0, K = 0; I < Out.size() || K < Units.size();) {
        if (I < Out.size() && (K == Units.size() || Out[I].first <= Units[K].Decode)) {
            Advance(Out[I].first);
            if (Leaks)
                Buffer += double(Out[I].second);
            else
                Entered += double(Out[I].second);
            const double Held = Leaks ? Buffer : Entered - Removed;
            Peak = std::max(Peak, std::int64_t(Held));
            if (Held > MBS)
                Fault(R.Overflows, Leaks ? "MB overflow" : "B overflow", S.Packets[I].Position,
                      "PID " + std::to_string(PID) + " holds " + std::to_string(std::int64_t(Held)) + " of " +
                          std::to_string(std::int64_t(MBS)) + " bytes at " + std::to_string(Now / ClockHz) +
                          " s");
            ++I;
        } else {
            Advance(Units[K].Decode);
            // Half a byte: the leak moves fractions. A unit due before the
            // one before it cannot be decoded in time either.
            if (Entered + 0.5 < double(Units[K].End) || (K > 0 && Units[K].Decode < Units[K - 1].Decode)) {
                Fault(R.Late, "late unit", PacketOf(S, Units[K].End).Position,
                      "PID " + std::to_string(PID) + " decodes at " +
                          std::to_string(Units[K].Decode / ClockHz) + " s before it is whole");
                Late.emplace_back(Units[K].End, Units[K].Decode);
            }
            Removed = std::max(Removed, double(Units[K].End));
            ++K;
        }
    }
    // What is still in the multiplex buffer leaks on: a late unit's lateness
    // is when it is whole at last.
    for (double To = Now; !Late.empty() && Buffer > 0;)
        Advance(To += ClockHz / 1000);
}

} // namespace vantrel::test
