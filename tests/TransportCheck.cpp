#include "TransportCheck.h"

#include "TransportModel.h"
#include "TransportSupport.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>
#include <set>

namespace vantrel::test {

namespace {

constexpr double ClockHz = 27e6;
constexpr std::int64_t Wrap27 = (std::int64_t{1} << 33) * 300;

// The 27 MHz difference From to To on the wrapping clock, in [-Wrap/2, Wrap/2).
std::int64_t WrapDistance(std::int64_t From, std::int64_t To)
{
    const std::int64_t D = ((To - From) % Wrap27 + Wrap27) % Wrap27;
    return D >= Wrap27 / 2 ? D - Wrap27 : D;
}

std::int64_t Stamp90(const std::uint8_t* F)
{
    return (std::int64_t((F[0] >> 1) & 7) << 30) | (std::int64_t(((F[1] << 8) | F[2]) >> 1) << 15) |
           (((F[3] << 8) | F[4]) >> 1);
}

// The gathering of one PID's sections (2.4.4.1), each handed on whole.
class TSections
{
public:
    void Add(const TBytes& File, const TTSPacket& P, bool Lost,
             const std::function<void(const TBytes&)>& Done)
    {
        if (Lost)
            m_Active = false;
        const std::uint8_t* D = &File[P.Payload];
        std::size_t At = 0, N = P.PayloadLength;
        if (N == 0)
            return;
        if (P.UnitStart) {
            const std::size_t Pointer = D[0];
            if (m_Active)
                Take(D + 1, std::min(Pointer, N - 1), Done);
            m_Active = false;
            At = 1 + Pointer;
            while (At < N && D[At] != 0xFF) {
                m_Data.clear();
                m_Active = true;
                At += Take(D + At, N - At, Done);
                if (m_Active)
                    return;
            }
        } else if (m_Active) {
            Take(D, N, Done);
        }
    }

private:
    std::size_t Take(const std::uint8_t* D, std::size_t N, const std::function<void(const TBytes&)>& Done)
    {
        std::size_t Used = 0;
        while (Used < N && (m_Data.size() < 3 || m_Data.size() < Length()))
            m_Data.push_back(D[Used++]);
        if (m_Data.size() >= 3 && m_Data.size() == Length()) {
            m_Active = false;
            Done(m_Data);
        }
        return Used;
    }
    std::size_t Length() const { return 3 + (((m_Data[1] & 0x0F) << 8) | m_Data[2]); }
    TBytes m_Data;
    bool m_Active = false;
};

struct TPES
{
    std::size_t ESOffset;
    std::optional<std::int64_t> PTS, DTS; // 90 kHz, as written
    double B;                             // where its first packet ends
};
struct TStream
{
    std::uint8_t Type = 0;
    TModelKind Model = mdNone;
    std::uint16_t PCRPID = 0;
    TBytes ES, Header;
    bool InHeader = false;
    std::vector<std::pair<double, std::size_t>> Packets; // where each packet ends, ES bytes it brings
    std::vector<TPES> PESs;
    std::vector<double> Stamped; // where packets with a PTS end
};

class TChecker
{
public:
    explicit TChecker(const TBytes& File) : F(File) {}
    TTransportCheck Run();

private:
    void Fault(int& Count, const char* Kind, std::size_t At, const std::string& What);
    void Walk();
    void Packet(const TTSPacket& P);
    void OnPSI(std::uint16_t PID, const TBytes& Section, std::size_t At);
    void TimeBase(std::uint16_t PCRPID);
    double Time(std::uint16_t PCRPID, double B) const;
    double Decode(std::uint16_t PCRPID, double B, std::int64_t Stamp) const;
    void Gaps(int& Count, const char* Kind, double Limit, double& Max, std::uint16_t PCRPID,
              const std::vector<double>& At);
    void Model(std::uint16_t PID, const TStream& S);
    double B(std::size_t FilePosition) const
    {
        return (static_cast<double>(FilePosition) - static_cast<double>(m_First)) * 188 /
               static_cast<double>(R.PacketSize);
    }

    const TBytes& F;
    TTransportCheck R;
    std::size_t m_First = 0;
    std::set<std::string> m_Kinds;
    std::map<std::uint16_t, int> m_Counter;
    std::map<std::uint16_t, bool> m_Repeated;
    std::map<std::uint16_t, TSections> m_Sections;
    std::set<std::uint16_t> m_PMTPIDs;
    bool m_CAT = false, m_Scrambled = false;
    std::vector<double> m_PATs;
    std::map<std::uint16_t, std::vector<double>> m_PMTs;
    std::map<std::uint16_t, TStream> m_Streams;
    std::map<std::uint16_t, std::vector<std::tuple<double, std::int64_t, bool>>> m_PCRs;
    // The time base of each PCR PID: (B, 27 MHz continuous) at each PCR, and
    // for each the offset that turns its segment's own clock into it.
    std::map<std::uint16_t, std::vector<std::tuple<double, double, double>>> m_Clock;
};

void TChecker::Fault(int& Count, const char* Kind, std::size_t At, const std::string& What)
{
    ++Count;
    if (m_Kinds.insert(Kind).second)
        R.Faults.push_back(std::string(Kind) + " at byte " + std::to_string(At) + ": " + What);
}

void TChecker::OnPSI(std::uint16_t PID, const TBytes& S, std::size_t At)
{
    if (SectionCrc(S.data(), S.size()) != 0)
        return Fault(R.CRCErrors, "CRC_error", At, "a section of PID " + std::to_string(PID));
    const std::size_t End = S.size() - 4;
    if (PID == 0 && S[0] == 0x00) {
        m_PATs.push_back(B(At));
        for (std::size_t I = 8; I + 4 <= End; I += 4)
            if (((S[I] << 8) | S[I + 1]) != 0)
                m_PMTPIDs.insert(((S[I + 2] & 0x1F) << 8) | S[I + 3]);
    } else if (m_PMTPIDs.count(PID) && S[0] == 0x02) {
        m_PMTs[PID].push_back(B(At));
        const std::uint16_t PCRPID = ((S[8] & 0x1F) << 8) | S[9];
        for (std::size_t I = 12 + (((S[10] & 0x0F) << 8) | S[11]); I + 5 <= End;) {
            const std::uint16_t ES = ((S[I + 1] & 0x1F) << 8) | S[I + 2];
            const std::size_t Info = ((S[I + 3] & 0x0F) << 8) | S[I + 4];
            TStream& Stream = m_Streams[ES];
            Stream.Type = S[I];
            Stream.PCRPID = PCRPID;
            std::set<std::uint8_t> Tags;
            for (std::size_t D = I + 5; D + 2 <= I + 5 + Info && D + 2 <= End; D += 2 + S[D + 1])
                Tags.insert(S[D]);
            const std::uint8_t T = S[I];
            Stream.Model = T == 1 || T == 2   ? mdVideo
                           : T == 0x1B        ? mdH264
                           : T == 3 || T == 4 ? mdMPEGAudio
                           : T == 0x81 || T == 0x87 || (T == 6 && (Tags.count(0x6A) || Tags.count(0x7A)))
                               ? mdAC3
                           : T == 0x0F ? mdAAC
                           : T == 0x11 ? mdLATM
                                       : Stream.Model;
            I += 5 + Info;
        }
    }
}

void TChecker::Packet(const TTSPacket& P)
{
    ++R.Packets;
    if (P.TransportError)
        return Fault(R.TransportErrors, "Transport_error", P.Sync, "PID " + std::to_string(P.PID));
    m_Scrambled = m_Scrambled || (P.Scrambling != 0 && P.PID != 0x1FFF);
    m_CAT = m_CAT || P.PID == 1;
    bool Lost = false;
    if (P.PID != 0x1FFF) {
        const auto Last = m_Counter.find(P.PID);
        if (Last != m_Counter.end() && !P.Discontinuity) {
            const int Expected = P.HasPayload ? (Last->second + 1) & 15 : Last->second;
            const bool Again = P.HasPayload && P.Counter == Last->second && !m_Repeated[P.PID];
            if (Again) {
                m_Repeated[P.PID] = true;
                return; // a duplicate brings nothing new
            }
            if (P.Counter != Expected) {
                Lost = true;
                Fault(R.ContinuityErrors, "Continuity_count_error", P.Sync,
                      "PID " + std::to_string(P.PID) + " counter " + std::to_string(P.Counter) + " after " +
                          std::to_string(Last->second));
            }
        }
        m_Counter[P.PID] = P.Counter;
        m_Repeated[P.PID] = false;
    }
    if (P.PCR)
        m_PCRs[P.PID].emplace_back(B(P.PCRByte), *P.PCR, P.Discontinuity);
    const bool PSI = P.PID == 0 || m_PMTPIDs.count(P.PID) || P.PID == 1 || P.PID == 0x11;
    if (PSI && P.Scrambling) {
        int& Count = P.PID == 0 ? R.PATErrors : R.PMTErrors;
        return Fault(Count, P.PID == 0 ? "PAT_error" : "PMT_error", P.Sync, "scrambled");
    }
    if (PSI && P.UnitStart && P.PayloadLength > 1u + F[P.Payload]) {
        const std::uint8_t Table = F[P.Payload + 1 + F[P.Payload]];
        if ((P.PID == 0 && Table != 0x00) || (m_PMTPIDs.count(P.PID) && Table != 0x02 && Table != 0xFF))
            Fault(P.PID == 0 ? R.PATErrors : R.PMTErrors, P.PID == 0 ? "PAT_error" : "PMT_error", P.Sync,
                  "table id " + std::to_string(Table));
    }
    if (PSI)
        m_Sections[P.PID].Add(F, P, Lost, [&](const TBytes& S) { OnPSI(P.PID, S, P.Sync); });
    const auto Found = m_Streams.find(P.PID);
    if (Found == m_Streams.end())
        return;
    TStream& S = Found->second;
    std::size_t Before = S.ES.size();
    const std::uint8_t* D = &F[P.Payload];
    std::size_t N = P.Scrambling ? 0 : P.PayloadLength;
    if (P.UnitStart && N > 0) {
        S.Header.assign(D, D + N);
        S.InHeader = true;
        N = 0;
    } else if (S.InHeader) {
        S.Header.insert(S.Header.end(), D, D + N);
        N = 0;
    }
    if (S.InHeader && S.Header.size() >= 9) {
        const TBytes& H = S.Header;
        const std::size_t Length = H[3] >= 0xBC && H[3] != 0xBD && H[3] < 0xC0 ? 6 : 9 + H[8];
        if (H.size() >= Length) {
            S.InHeader = false;
            TPES PES{S.ES.size(), std::nullopt, std::nullopt, B(P.Sync + 187)};
            if (Length > 9 && (H[7] & 0x80)) {
                PES.PTS = Stamp90(&H[9]);
                S.Stamped.push_back(PES.B);
            }
            if (Length > 14 && (H[7] & 0xC0) == 0xC0)
                PES.DTS = Stamp90(&H[14]);
            // Private data without a descriptor: MPEG audio by its stream id.
            if (S.Model == mdNone && S.Type == 6 && H[3] >= 0xC0 && H[3] <= 0xDF)
                S.Model = mdMPEGAudio;
            S.PESs.push_back(PES);
            S.ES.insert(S.ES.end(), H.begin() + static_cast<std::ptrdiff_t>(Length), H.end());
        }
    }
    S.ES.insert(S.ES.end(), D + P.PayloadLength - N, D + P.PayloadLength);
    S.Packets.emplace_back(B(P.Sync + 187), S.ES.size() - Before);
}

void TChecker::Walk()
{
    const std::optional<TTSLayout> Layout = FindLayout(F);
    if (!Layout)
        return;
    R.PacketSize = Layout->Size;
    m_First = Layout->FirstSync;
    int Missing = 0;
    for (std::size_t At = m_First; At + 188 <= F.size();) {
        if (F[At] != 0x47) {
            Fault(R.SyncByteErrors, "Sync_byte_error", At, "no sync byte");
            if (++Missing == 2) {
                Fault(R.SyncLosses, "TS_sync_loss", At, "two packets without their sync byte");
                // Found again where five packets in a row have theirs.
                std::size_t Next = At + 1;
                while (Next + 4 * R.PacketSize < F.size() &&
                       !(F[Next] == 0x47 && F[Next + R.PacketSize] == 0x47 &&
                         F[Next + 2 * R.PacketSize] == 0x47 && F[Next + 3 * R.PacketSize] == 0x47 &&
                         F[Next + 4 * R.PacketSize] == 0x47))
                    ++Next;
                At = Next;
                Missing = 0;
                continue;
            }
            At += R.PacketSize;
            continue;
        }
        Missing = 0;
        // A 192-byte packet's arrival stamp (its first four bytes, 30 bits)
        // goes on from the one before, modulo 2^30.
        if (R.PacketSize == 192 && At >= 4) {
            const auto Stamp = [&](std::size_t I) {
                return static_cast<std::uint32_t>((F[I] & 0x3F) << 24 | F[I + 1] << 16 | F[I + 2] << 8 |
                                                  F[I + 3]);
            };
            if (At >= m_First + 192 && ((Stamp(At - 4) - Stamp(At - 196)) & 0x3FFFFFFF) >= 1u << 29)
                Fault(R.ArrivalStepsBack, "Arrival_stamp_error", At,
                      "an arrival stamp before the one before");
        }
        TTSPacket P;
        if (ReadTSPacket(F, At, P))
            Packet(P);
        At += R.PacketSize;
    }
}

void TChecker::TimeBase(std::uint16_t PCRPID)
{
    auto& Clock = m_Clock[PCRPID];
    double Rate = 0, Offset = 0; // ticks a byte
    std::int64_t LastRaw = 0;
    for (const auto& [At, Raw, Indicated] : m_PCRs[PCRPID]) {
        if (Clock.empty()) {
            Clock.emplace_back(At, double(Raw), 0.0);
            LastRaw = Raw;
            continue;
        }
        const auto& [LastAt, LastTime, LastOffset] = Clock.back();
        const std::int64_t Step = WrapDistance(LastRaw, Raw);
        const bool Jump = Indicated || Step < 0 || Step > ClockHz / 10;
        if (Jump && !Indicated)
            Fault(R.PCRDiscontinuityErrors, "PCR_discontinuity_indicator_error", std::size_t(At),
                  "a step of " + std::to_string(Step / ClockHz) + " s");
        double Time = LastTime + double(Step);
        Offset = LastOffset;
        if (Jump) {
            // A new clock: the bytes keep their pace, the stamps follow it.
            Time = LastTime + (At - LastAt) * Rate;
            Offset = Time - double(Raw);
        } else if (At > LastAt) {
            Rate = (Time - LastTime) / (At - LastAt);
        }
        const double Gap = (Time - LastTime) / ClockHz;
        R.MaxPCRGap = std::max(R.MaxPCRGap, Gap);
        if (Gap > 0.04)
            Fault(R.PCRRepetitionErrors, "PCR_repetition_error", std::size_t(At),
                  "PCRs " + std::to_string(Gap) + " s apart");
        Clock.emplace_back(At, Time, Offset);
        LastRaw = Raw;
    }
}

double TChecker::Time(std::uint16_t PCRPID, double B) const
{
    const auto& Clock = m_Clock.at(PCRPID);
    if (Clock.size() < 2)
        return Clock.empty() ? 0 : std::get<1>(Clock.front());
    auto Next = std::upper_bound(Clock.begin(), Clock.end(), B,
                                 [](double V, const auto& Point) { return V < std::get<0>(Point); });
    if (Next == Clock.begin())
        ++Next;
    if (Next == Clock.end())
        --Next;
    const auto& [B1, T1, O1] = *std::prev(Next);
    const auto& [B2, T2, O2] = *Next;
    return B2 > B1 ? T1 + (B - B1) * (T2 - T1) / (B2 - B1) : T1;
}

double TChecker::Decode(std::uint16_t PCRPID, double B, std::int64_t Stamp) const
{
    // The stamp on its segment's clock, nearest to where the bytes arrive.
    const auto& Clock = m_Clock.at(PCRPID);
    auto At = std::upper_bound(Clock.begin(), Clock.end(), B,
                               [](double V, const auto& Point) { return V < std::get<0>(Point); });
    const double Offset = At == Clock.begin() ? 0 : std::get<2>(*std::prev(At));
    const double Near = Time(PCRPID, B) - Offset;
    return Near + double(WrapDistance(std::llround(Near), Stamp * 300)) + Offset;
}

void TChecker::Gaps(int& Count, const char* Kind, double Limit, double& Max, std::uint16_t PCRPID,
                    const std::vector<double>& At)
{
    for (std::size_t I = 1; I < At.size(); ++I) {
        const double Gap = (Time(PCRPID, At[I]) - Time(PCRPID, At[I - 1])) / ClockHz;
        Max = std::max(Max, Gap);
        if (Gap > Limit)
            Fault(Count, Kind, std::size_t(At[I] * R.PacketSize / 188) + m_First,
                  "next after " + std::to_string(Gap) + " s");
    }
}

void TChecker::Model(std::uint16_t PID, const TStream& S)
{
    if (m_Clock[S.PCRPID].size() < 2)
        return;
    TModelledStream M{PID, S.Model, S.ES, {}, {}};
    for (const auto& [B, Bytes] : S.Packets)
        M.Packets.push_back(
            {Time(S.PCRPID, B), Bytes, std::size_t(B * double(R.PacketSize) / 188) + m_First});
    for (const TPES& PES : S.PESs) {
        std::optional<double> At;
        if (PES.DTS || PES.PTS)
            At = Decode(S.PCRPID, PES.B, PES.DTS ? *PES.DTS : *PES.PTS);
        M.PESs.push_back({PES.ESOffset, At});
    }
    ModelStream(M, R, [this](int& Count, const char* Kind, std::size_t At, const std::string& What) {
        Fault(Count, Kind, At, What);
    });
}

TTransportCheck TChecker::Run()
{
    Walk();
    std::set<std::uint16_t> Clocks;
    for (const auto& [PID, S] : m_Streams)
        Clocks.insert(S.PCRPID);
    for (const std::uint16_t PID : Clocks)
        TimeBase(PID);
    if (!Clocks.empty()) {
        const std::uint16_t Clock = *Clocks.begin();
        // From the first byte on: a file must not start without its tables either.
        m_PATs.insert(m_PATs.begin(), 0.0);
        Gaps(R.PATErrors, "PAT_error", 0.5, R.MaxPATGap, Clock, m_PATs);
        for (auto& [PID, At] : m_PMTs) {
            At.insert(At.begin(), 0.0);
            Gaps(R.PMTErrors, "PMT_error", 0.5, R.MaxPMTGap, Clock, At);
        }
        for (auto& [PID, S] : m_Streams)
            Gaps(R.PTSErrors, "PTS_error", 0.7, R.MaxPTSGap, S.PCRPID, S.Stamped);
    }
    if (m_PATs.empty())
        Fault(R.PATErrors, "PAT_error", 0, "no PAT");
    if (m_Scrambled && !m_CAT)
        Fault(R.CATErrors, "CAT_error", 0, "scrambled packets without a CAT");
    for (auto& [PID, S] : m_Streams)
        if (S.Model != mdNone)
            Model(PID, S);
    return R;
}

} // namespace

bool TTransportCheck::Clean() const
{
    return SyncLosses + SyncByteErrors + PATErrors + ContinuityErrors + PMTErrors + TransportErrors +
               CRCErrors + PCRRepetitionErrors + PCRDiscontinuityErrors + PTSErrors + CATErrors + Late +
               Overflows ==
           0;
}

std::string TTransportCheck::Text() const
{
    std::string Text = std::to_string(Packets) + " packets of " + std::to_string(PacketSize) + " bytes; " +
                       std::to_string(Late) + " of " + std::to_string(Units) + " units late (worst " +
                       std::to_string(WorstLate) + " s), " + std::to_string(Overflows) +
                       " overflows; gaps: PAT " + std::to_string(MaxPATGap) + " s, PMT " +
                       std::to_string(MaxPMTGap) + " s, PCR " + std::to_string(MaxPCRGap) + " s, PTS " +
                       std::to_string(MaxPTSGap) + " s;";
    for (const auto& [PID, Bytes] : Peak)
        Text += " " + std::to_string(PID) + ": " + std::to_string(Bytes) + "/" + std::to_string(Size.at(PID));
    for (const std::string& Fault : Faults)
        Text += "\n  " + Fault;
    return Text;
}

TTransportCheck CheckTransport(const TBytes& File)
{
    return TChecker(File).Run();
}

std::string FullerThanInputs(const TTransportCheck& Joined, const std::vector<TTransportCheck>& Inputs)
{
    std::map<std::int64_t, std::int64_t> Fullest; // by buffer size
    for (const TTransportCheck& Input : Inputs)
        for (const auto& [PID, Peak] : Input.Peak) {
            const std::int64_t Size = Input.Size.at(PID);
            Fullest[Size] = std::max({Fullest[Size], Peak, Size});
        }
    std::string Text;
    for (const auto& [PID, Peak] : Joined.Peak) {
        const std::int64_t Size = Joined.Size.at(PID);
        const std::int64_t Allowed = Fullest.count(Size) ? Fullest.at(Size) : Size;
        if (Peak > Allowed)
            Text += "PID " + std::to_string(PID) + " holds " + std::to_string(Peak) + " of " +
                    std::to_string(Size) + " bytes, the inputs " + std::to_string(Allowed) + "; ";
    }
    return Text;
}

} // namespace vantrel::test
