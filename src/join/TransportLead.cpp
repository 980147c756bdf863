#include "join/TransportLead.h"

#include "join/MPEGTimeCorrect.h"
#include "mpeg/PESHeader.h"
#include "mpeg/TimeStamps.h"
#include "mpeg/ts/Sections.h"
#include "mpeg/ts/ServiceTable.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace vantrel {

TKeptStreams KeptStreams(const TMediaInfo& Info, std::uint16_t Program, const TPIDMap& Map)
{
    TKeptStreams Kept;
    Kept.Tables = {PATPID, SDTPID, EITPID};
    const std::vector<const TProgramInfo*> Programs = KeptPrograms(Info, Program);
    for (const TProgramInfo* P : Programs) {
        Kept.Tables.push_back(P->PMTPID);
        for (const TStreamInfo& S : P->Streams) {
            const auto Coding = static_cast<TStreamCoding>(S.Coding);
            if ((S.Kind != skVideo && S.Kind != skSound) || !Map.Keeps(S.PID) ||
                std::any_of(Kept.Streams.begin(), Kept.Streams.end(),
                            [&](const TKeptStream& K) { return K.PID == S.PID; }))
                continue;
            Kept.Streams.push_back({S.PID, Map.PID(S.PID), Coding, S.Kind == skVideo, S.SampleRate,
                                    StreamBufferOf(Coding, S.ProfileAndLevel, S.AudioChannels)});
        }
    }
    // The program whose video describes the file gives it its time.
    const TProgramInfo* Main = Programs.empty() ? nullptr : Programs.front();
    for (const TProgramInfo* P : Programs)
        if (Info.Program < Info.Programs.size() && P == &Info.Programs[Info.Program])
            Main = P;
    if (Main)
        Kept.PCRPID = Main->PCRPID;
    for (const TProgramInfo* P : Programs)
        if (P->PCRPID != Kept.PCRPID && P->PCRPID < NullPID && Map.Keeps(P->PCRPID) &&
            std::find(Kept.OtherPCRPIDs.begin(), Kept.OtherPCRPIDs.end(), P->PCRPID) ==
                Kept.OtherPCRPIDs.end())
            Kept.OtherPCRPIDs.push_back(P->PCRPID);
    return Kept;
}

namespace {

// One stream as the head is read: its PES header while it comes, its
// units.
struct TStreamRead
{
    TStreamRead(const TKeptStream& Stream, std::int64_t FrameTicks)
        : Stream(Stream), Units(Stream.Out, FrameTicks, Stream.Coding)
    {
    }
    const TKeptStream& Stream;
    TUnitSplitter Units;
    std::vector<std::uint8_t> Header;
    bool InHeader = false;
};

struct TPCRAt
{
    double At;
    std::int64_t Base;
    std::uint16_t Extension;
};

// Where each PCR's byte stands and the time the PCR gives it: arrival times
// of the bytes between on a line, before the first and after the last at
// the rate next to them.
class TArrivals
{
public:
    explicit TArrivals(std::vector<std::pair<double, double>> Points) : m_Points(std::move(Points)) {}
    double At(double Position) const
    {
        if (m_Points.size() < 2)
            return m_Points.empty() ? 0 : m_Points.front().second;
        auto Next = std::upper_bound(m_Points.begin(), m_Points.end(), Position,
                                     [](double P, const auto& Point) { return P < Point.first; });
        Next = std::clamp(Next, m_Points.begin() + 1, m_Points.end() - 1);
        const auto& [B1, T1] = *std::prev(Next);
        const auto& [B2, T2] = *Next;
        return B2 > B1 ? T1 + (Position - B1) * (T2 - T1) / (B2 - B1) : T1;
    }

private:
    std::vector<std::pair<double, double>> m_Points;
};

// What an H.264 stream's first units tell: its buffers by the level of its
// sequence, and whether it begins with an open GOP.
void ReadH264Head(const TH264UnitSplitter& H264, std::uint16_t Out, TTransportHead& Head)
{
    const std::vector<TH264Unit>& Units = H264.Units();
    if (Units.empty())
        return;
    if (const TSequenceParameterSet* Sps = H264.Sets().Sps(Units.front().SpsId))
        if (const std::optional<TStreamBuffer> Buffer = H264StreamBuffer(*Sps))
            Head.Lead.Buffers[Out] = *Buffer;
    if (Units.front().Idr)
        return;
    Head.LeadingPictures = LeadingPictures(Units);
    if (Head.LeadingPictures > 0 && Units.front().RecoveryPoint)
        Head.BrokenLink = Units.front().BrokenLink;
}

} // namespace

TTransportHead ReadTransportHead(TByteSource& Source, const TPacketLayout& Layout, const TKeptStreams& Kept,
                                 const TPIDMap& Map, std::int64_t FrameTicks)
{
    TTransportHead Head;
    std::vector<std::unique_ptr<TStreamRead>> Streams;
    std::vector<std::int16_t> Index(PIDCount, -1);
    for (const TKeptStream& S : Kept.Streams) {
        Index[S.PID] = static_cast<std::int16_t>(Streams.size());
        Streams.push_back(std::make_unique<TStreamRead>(S, FrameTicks));
    }
    std::map<std::uint16_t, TSectionAssembler> Tables;
    for (const std::uint16_t PID : Kept.Tables)
        Tables[PID].OnSection = [&Head, &Map, PID](std::span<const std::uint8_t> Section) {
            const std::optional<std::vector<std::uint8_t>> Mapped = MapSection(Section, Map);
            if (Mapped)
                if (const std::optional<TTableKey> Key = TableKeyOf(Map.PID(PID), *Mapped))
                    Head.Tables.try_emplace(*Key, *Mapped);
        };
    // Stamps one after another off the wrapping clock, from the first.
    TFileLine Line;
    std::optional<std::int64_t> Anchor;
    const auto OnLine = [&](std::int64_t Raw) {
        const std::int64_t Stamp = Line.Stamp(Raw);
        Anchor = Anchor.value_or(Raw);
        return Stamp;
    };
    constexpr int StampedPackets = 64; // FirstPTS looks this far
    int Stamped = 0;
    std::vector<TPCRAt> PCRs;
    std::map<std::uint16_t, TPCRAt> OtherFirst; // by the file's PID
    std::vector<double> PacketAt;               // where each lead packet's last byte stands
    TTransportStreamReader Reader;
    Reader.Open(Source, Layout);
    TContinuityTracker Continuity;
    double Position = 0;
    while (Reader.NextPacket() && Reader.Packet().Position - Layout.First < TransportLeadBytes) {
        const TTransportPacket& P = Reader.Packet();
        if (!Map.Keeps(P.PID))
            continue;
        const TContinuity Continuing = Continuity.Check(P);
        const bool Lost = Continuing == ccLost;
        if (P.HasPCR && P.PID == Kept.PCRPID) {
            PCRs.push_back({Position + PCRByte, P.PCRBase, P.PCRExtension});
            if (P.Size == TransportPacketLength + ArrivalStampLength && !Head.ArrivalRelation)
                Head.ArrivalRelation =
                    static_cast<std::uint32_t>((P.ArrivalStamp - P.PCR()) & (ArrivalStampWrap - 1));
        }
        if (P.HasPCR && P.PID != Kept.PCRPID && !OtherFirst.count(P.PID) &&
            std::find(Kept.OtherPCRPIDs.begin(), Kept.OtherPCRPIDs.end(), P.PID) != Kept.OtherPCRPIDs.end())
            OtherFirst[P.PID] = {Position + PCRByte, P.PCRBase, P.PCRExtension};
        if (const auto Table = Tables.find(P.PID); Table != Tables.end())
            Table->second.Add(P, Reader.Bytes(), Lost);
        const std::int16_t I = Index[P.PID];
        if (I >= 0) {
            TStreamRead& S = *Streams[static_cast<std::size_t>(I)];
            const std::uint8_t* Data = Reader.Bytes() + P.PayloadOffset;
            std::uint32_t Bytes = 0;
            // A packet sent twice brings its bytes once, as the pass writes them.
            const bool Carries =
                P.HasPayload && P.PayloadLength > 0 && P.Scrambling == 0 && Continuing != ccDuplicate;
            if (Carries && P.PayloadUnitStart) {
                S.Header.assign(Data, Data + P.PayloadLength);
                S.InHeader = true;
            } else if (Carries && S.InHeader) {
                S.Header.insert(S.Header.end(), Data, Data + P.PayloadLength);
            } else if (Carries) {
                S.Units.Add(Data, P.PayloadLength, std::nullopt, false);
                Bytes = P.PayloadLength;
            }
            const std::uint32_t Length = S.InHeader ? PESHeaderLength(S.Header) : 0;
            TPESInfo PES;
            if (Length > 0 && S.Header.size() >= Length && DecodePESHeader(S.Header, 0, PES)) {
                S.InHeader = false;
                std::optional<std::int64_t> Decode, Shown;
                if (PES.HasPTS) {
                    const std::int64_t PTS = OnLine(PES.PTS);
                    Decode = Shown = PTS;
                    if (Stamped++ < StampedPackets) {
                        Head.FirstPTS = Head.FirstPTS
                                            ? *Head.FirstPTS + std::min<std::int64_t>(
                                                                   ClockDistance(*Head.FirstPTS, PES.PTS), 0)
                                            : PES.PTS;
                        if (S.Stream.Video)
                            Head.FirstPicture = std::min(Head.FirstPicture.value_or(PTS), PTS);
                    }
                }
                if (PES.HasDTS)
                    Decode = OnLine(PES.DTS);
                if (Decode) {
                    Head.FirstStamp = Head.FirstStamp.value_or(Shown.value_or(*Decode));
                    Head.FirstDecode.try_emplace(S.Stream.Out, *Decode);
                }
                Bytes = static_cast<std::uint32_t>(S.Header.size() - Length);
                S.Units.Add(S.Header.data() + Length, Bytes, Decode, true);
            }
            Head.Lead.Packets.push_back({S.Stream.Out, 0, Bytes});
            PacketAt.push_back(Position + TransportPacketLength - 1);
        }
        Position += TransportPacketLength;
    }
    if (Head.FirstPTS)
        Head.FirstPTS = ClockValue(*Head.FirstPTS);
    Head.Anchor = Anchor.value_or(PCRs.empty() ? 0 : PCRs.front().Base);
    std::vector<std::pair<double, double>> Points;
    const auto OnItsLine = [&](const TPCRAt& PCR) {
        return static_cast<double>(300 * (Head.Anchor + ClockDistance(Head.Anchor, PCR.Base)) +
                                   PCR.Extension);
    };
    for (const TPCRAt& PCR : PCRs)
        Points.emplace_back(PCR.At, OnItsLine(PCR));
    TTransportLead& Lead = Head.Lead;
    if (!Points.empty()) {
        Head.FirstPCR = Lead.FirstPCR = static_cast<std::int64_t>(Points.front().second);
        Lead.PCRAt = Points.front().first;
    }
    if (Points.size() >= 2) {
        const auto Rate = [&](std::size_t I) {
            return (Points[I + 1].second - Points[I].second) / (Points[I + 1].first - Points[I].first);
        };
        Lead.TicksPerByte = Rate(0);
        double Low = Rate(0), High = Rate(0);
        for (std::size_t I = 1; I + 1 < Points.size(); ++I)
            Low = std::min(Low, Rate(I)), High = std::max(High, Rate(I));
        Lead.ConstantRate = Points.size() >= 3 && Low > 0 && High - Low <= Low * 1e-3;
    }
    const TArrivals Arrivals(std::move(Points));
    if (!PCRs.empty())
        for (const auto& [PID, PCR] : OtherFirst) {
            const double At = Arrivals.At(PCR.At);
            Head.OtherFirstPCR[Map.PID(PID)] = {std::llround(OnItsLine(PCR) - At),
                                                std::llround(At) - Lead.FirstPCR};
        }
    for (std::size_t I = 0; I < Lead.Packets.size(); ++I)
        Lead.Packets[I].Arrival = Arrivals.At(PacketAt[I]);
    for (const auto& S : Streams) {
        Lead.Units[S->Stream.Out] = S->Units.Units();
        Lead.Buffers[S->Stream.Out] = S->Stream.Buffer;
        if (const TH264UnitSplitter* H264 = S->Units.H264(); H264 && S->Stream.Video)
            ReadH264Head(*H264, S->Stream.Out, Head);
    }
    return Head;
}

void MoveHead(TTransportHead& Head, std::int64_t Ticks)
{
    for (std::optional<std::int64_t>* Stamp : {&Head.FirstStamp, &Head.FirstPicture})
        if (*Stamp)
            **Stamp += Ticks;
    if (Head.FirstPCR)
        *Head.FirstPCR += 300 * Ticks;
    for (auto& [PID, Decode] : Head.FirstDecode)
        Decode += Ticks;
    Head.Lead.FirstPCR += 300 * Ticks;
    for (TTransportLead::TPacket& Packet : Head.Lead.Packets)
        Packet.Arrival += static_cast<double>(300 * Ticks);
    for (auto& [PID, Units] : Head.Lead.Units)
        for (TAccessUnit& Unit : Units)
            Unit.Decode += Ticks;
}

} // namespace vantrel
