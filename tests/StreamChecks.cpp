#include "StreamChecks.h"

#include "StreamBytes.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <optional>
#include <set>
#include <tuple>

namespace vantrel::test {

TClockCheck CheckClock(const TBytes& File)
{
    TClockCheck Check;
    std::optional<std::int64_t> SCR;
    std::size_t PackStart = 0;
    std::uint32_t MuxRate = 0;
    for (std::size_t Pos : PacketOffsets(File)) {
        const std::uint8_t Code = File[Pos + 3];
        if (Code == 0xBA) {
            const std::int64_t Next = PackSCR(File, Pos);
            if (SCR) {
                if (StampDistance(*SCR, Next) <= 0)
                    ++Check.SCRNotIncreasing;
                Check.PackSizes.push_back(Pos - PackStart);
            }
            SCR = Next;
            PackStart = Pos;
            MuxRate = PackMuxRate(File, Pos);
            Check.MuxRates.insert(MuxRate);
            continue;
        }
        if ((Code < 0xC0 && Code != 0xBD) || Code > 0xEF || !SCR || MuxRate == 0)
            continue;
        const auto [PTS, DTS] = PacketStamps(File, Pos);
        if (!PTS)
            continue;
        ++Check.Stamped;
        const std::size_t End = Pos + 6 + ((File[Pos + 4] << 8) | File[Pos + 5]);
        const double Arrival = double(End - PackStart) * 90000 / (MuxRate * 50.0);
        const double Lateness = (Arrival - double(StampDistance(*SCR, DTS ? *DTS : *PTS))) / 90000;
        if (Lateness > 0) {
            ++Check.Late;
            Check.WorstLate = std::max(Check.WorstLate, Lateness);
        }
    }
    return Check;
}

TNavigationCheck CheckNavigation(const TBytes& File)
{
    TNavigationCheck Check;
    const auto Word = [&](std::size_t At) {
        return (std::uint32_t(File[At]) << 24) | (File[At + 1] << 16) | (File[At + 2] << 8) | File[At + 3];
    };
    // BCD hh mm ss ff, the frame byte's top bits the rate.
    const auto Elapsed = [&](std::size_t At) {
        const auto Bcd = [&](std::uint8_t B) { return (B >> 4) * 10 + (B & 15); };
        const double Rate = (File[At + 3] >> 6) == 1 ? 25 : 30;
        return Bcd(File[At]) * 3600 + Bcd(File[At + 1]) * 60 + Bcd(File[At + 2]) +
               Bcd(File[At + 3] & 0x3F) / Rate;
    };
    std::optional<std::uint32_t> Start, End;
    std::optional<std::int64_t> Earliest;
    double LastElapsed = 0;
    std::int64_t PackSCRLow = 0;
    std::size_t PackAt = 0;
    const auto CloseVobu = [&](std::size_t At) {
        if (Start && Earliest && std::uint32_t(*Earliest) != *Start)
            Check.Faults += "VOBU before " + std::to_string(At) + " starts at " + std::to_string(*Start) +
                            ", its video at " + std::to_string(std::uint32_t(*Earliest)) + "\n";
        if (Start && End && *End <= *Start)
            Check.Faults += "VOBU before " + std::to_string(At) + " ends before it starts\n";
        Start.reset(), End.reset(), Earliest.reset();
    };
    for (std::size_t Pos : PacketOffsets(File)) {
        const std::uint8_t Code = File[Pos + 3];
        if (Code == 0xBA)
            PackSCRLow = PackSCR(File, Pos) & 0xFFFFFFFF, PackAt = Pos;
        if (Code == 0xE0)
            if (const auto PTS = PacketStamps(File, Pos).first)
                Earliest = std::min(Earliest.value_or(*PTS), *PTS);
        if (Code != 0xBF || Pos + 6 + 33 > File.size())
            continue;
        const std::size_t P = Pos + 6;
        if (File[P] == 0) {
            CloseVobu(Pos);
            if (Word(P + 13) == 0)
                continue;
            ++Check.Count;
            Start = Word(P + 13), End = Word(P + 17);
        } else if (File[P] == 1 && Word(P + 29) != 0) {
            if (Word(P + 1) != PackSCRLow)
                Check.Faults += "navigation pack at " + std::to_string(Pos) + " gives SCR " +
                                std::to_string(Word(P + 1)) + ", its pack " + std::to_string(PackSCRLow) +
                                "\n";
            // An authored pack (its VOBU's end address filled in) gives its own sector.
            if (Word(P + 9) && Word(P + 5) != PackAt / 2048)
                Check.Faults += "navigation pack at sector " + std::to_string(PackAt / 2048) + " gives " +
                                std::to_string(Word(P + 5)) + "\n";
            if (Elapsed(P + 29) + 1e-9 < LastElapsed)
                Check.Faults += "cell time goes back at " + std::to_string(Pos) + "\n";
            LastElapsed = Elapsed(P + 29);
        }
    }
    CloseVobu(File.size());
    return Check;
}

std::vector<std::int64_t> StampsOf(const TBytes& File, std::uint8_t StreamId, bool Decode)
{
    std::vector<std::int64_t> Stamps;
    for (std::size_t Pos : PacketOffsets(File)) {
        if (File[Pos + 3] != StreamId)
            continue;
        const auto [PTS, DTS] = PacketStamps(File, Pos);
        if (Decode && (DTS || PTS))
            Stamps.push_back(DTS ? *DTS : *PTS);
        else if (!Decode && PTS)
            Stamps.push_back(*PTS);
    }
    return Stamps;
}

namespace {

// The packets of one pack (or those before a file's first pack header).
struct TPackBytes
{
    std::vector<TBytes> Packets;
    std::size_t Offset = 0; // of the first packet, in its file
};

std::vector<TPackBytes> SplitPacks(const TBytes& File)
{
    std::vector<TPackBytes> Packs;
    for (std::size_t Offset : PacketOffsets(File)) {
        const std::size_t Length = PacketLengthAt(File, Offset);
        if (File[Offset + 3] == 0xBA || Packs.empty())
            Packs.push_back({{}, Offset});
        Packs.back().Packets.emplace_back(File.begin() + static_cast<std::ptrdiff_t>(Offset),
                                          File.begin() + static_cast<std::ptrdiff_t>(Offset + Length));
    }
    return Packs;
}

bool Droppable(const TPackBytes& Pack)
{
    return std::all_of(Pack.Packets.begin(), Pack.Packets.end(),
                       [](const TBytes& P) { return P[3] == 0xBA || P[3] == 0xBB || P[3] == 0xBE; });
}

// Where a PES packet's payload starts: after its MPEG-2 header, or MPEG-1's
// stuffing, STD field and stamps.
std::size_t PayloadStart(const TBytes& P)
{
    if (P[3] == 0xBE || P[3] == 0xBF || P[3] == 0xBC || P[3] == 0xFF)
        return 6;
    if (P.size() >= 9 && (P[6] & 0xC0) == 0x80)
        return std::min<std::size_t>(P.size(), 9 + P[8]);
    std::size_t At = 6;
    while (At < P.size() && P[At] == 0xFF)
        ++At;
    if (At < P.size() && (P[At] & 0xC0) == 0x40)
        At += 2;
    if (At < P.size())
        At += (P[At] >> 4) == 3 ? 10 : (P[At] >> 4) == 2 ? 5 : 1;
    return std::min(At, P.size());
}

// The video payload of a join's output against its input: equal but for
// the broken link flag of a group header and sequence end codes blanked to
// zeros (00 00 01 B7 becomes 00 00 00 00).
bool SameVideo(const TBytes& In, const TBytes& Out, std::size_t From)
{
    const auto CodeAt = [&](std::size_t At, std::uint8_t Code) {
        return At + 4 <= In.size() && In[At] == 0 && In[At + 1] == 0 && In[At + 2] == 1 && In[At + 3] == Code;
    };
    for (std::size_t I = From; I < In.size(); ++I) {
        if (In[I] == Out[I])
            continue;
        const bool EndCode =
            Out[I] == 0 && ((I >= 2 && CodeAt(I - 2, 0xB7)) || (I >= 3 && CodeAt(I - 3, 0xB7)));
        const bool BrokenLink = I >= 7 && CodeAt(I - 7, 0xB8) && (In[I] ^ Out[I]) == 0x20;
        if (!EndCode && !BrokenLink)
            return false;
    }
    return true;
}

// Why Out is no join of In ("" when it is one).
std::string PacketDiffers(const TBytes& In, const TBytes& Out)
{
    if (In.size() != Out.size())
        return "length " + std::to_string(Out.size()) + " instead of " + std::to_string(In.size());
    const std::uint8_t Code = In[3];
    if (Code == 0xBA)
        // The clock and the rate may move; an MPEG-2 pack's stuffing stays.
        return std::equal(In.begin(), In.begin() + 4, Out.begin()) &&
                       (In.size() <= 13 || std::equal(In.begin() + 13, In.end(), Out.begin() + 13))
                   ? ""
                   : "another pack header";
    if (Code == 0xBB)
        return Out[3] == 0xBB || Out[3] == 0xBE ? "" : "a system header turned into another packet";
    if (Out[3] != Code)
        return "stream " + std::to_string(Out[3]) + " instead of " + std::to_string(Code);
    const std::size_t From = PayloadStart(In);
    if (From != PayloadStart(Out))
        return "another PES header layout";
    if (Code == 0xBF)
        return "";
    if (Code >= 0xE0 && Code <= 0xEF)
        return SameVideo(In, Out, From) ? "" : "other video bytes";
    return std::equal(In.begin() + static_cast<std::ptrdiff_t>(From), In.end(),
                      Out.begin() + static_cast<std::ptrdiff_t>(From))
               ? ""
               : "other payload bytes";
}

} // namespace

TPacketsKept CheckPacketsKept(const std::vector<TBytes>& Inputs, const TBytes& Output)
{
    TPacketsKept Check;
    struct TInputPack
    {
        std::size_t File;
        TPackBytes Pack;
    };
    std::vector<TInputPack> In;
    for (std::size_t F = 0; F < Inputs.size(); ++F)
        for (TPackBytes& Pack : SplitPacks(Inputs[F]))
            In.push_back({F, std::move(Pack)});
    const std::vector<TPackBytes> Out = SplitPacks(Output);
    std::map<std::size_t, std::set<std::int64_t>> Shifts; // by file
    std::size_t I = 0;
    const auto Where = [&](std::size_t O) {
        return " (output pack at " + std::to_string(Out[O].Offset) + ", file " +
               std::to_string(In[I].File + 1) + "'s at " + std::to_string(In[I].Pack.Offset) + ")";
    };
    const auto Differs = [](const TPackBytes& A, const TPackBytes& B) -> std::string {
        if (A.Packets.size() != B.Packets.size())
            return std::to_string(B.Packets.size()) + " packets instead of " +
                   std::to_string(A.Packets.size());
        for (std::size_t K = 0; K < A.Packets.size(); ++K)
            if (const std::string Why = PacketDiffers(A.Packets[K], B.Packets[K]); !Why.empty())
                return "packet " + std::to_string(K + 1) + ": " + Why;
        return "";
    };
    for (std::size_t O = 0; O < Out.size(); ++O, ++I) {
        // A pack of padding the join left out.
        while (I < In.size() && Droppable(In[I].Pack) && !Differs(In[I].Pack, Out[O]).empty()) {
            ++Check.DroppedPacks;
            ++I;
        }
        if (I == In.size()) {
            Check.Faults = "a pack no input holds at " + std::to_string(Out[O].Offset);
            return Check;
        }
        const TPackBytes& A = In[I].Pack;
        if (const std::string Why = Differs(A, Out[O]); !Why.empty()) {
            Check.Faults = Why + Where(O);
            return Check;
        }
        Check.Packets += static_cast<int>(A.Packets.size());
        // Every stamp of a file moves by the one offset of its file.
        for (std::size_t K = 0; K < A.Packets.size(); ++K) {
            const TBytes& P = A.Packets[K];
            if (P[3] < 0xBD || P[3] == 0xBE || P[3] == 0xBF)
                continue;
            const auto [InPTS, InDTS] = PacketStamps(P, 0);
            const auto [OutPTS, OutDTS] = PacketStamps(Out[O].Packets[K], 0);
            if (InPTS && OutPTS)
                Shifts[In[I].File].insert(StampDistance(*InPTS, *OutPTS));
            if (InDTS && OutDTS)
                Shifts[In[I].File].insert(StampDistance(*InDTS, *OutDTS));
        }
        if (Shifts[In[I].File].size() > 1) {
            Check.Faults = "file " + std::to_string(In[I].File + 1) +
                           "'s stamps move by more than one offset" + Where(O);
            return Check;
        }
    }
    for (; I < In.size(); ++I) {
        if (!Droppable(In[I].Pack)) {
            Check.Faults = "file " + std::to_string(In[I].File + 1) + "'s pack at " +
                           std::to_string(In[I].Pack.Offset) + " is missing from the output's end";
            return Check;
        }
        ++Check.DroppedPacks;
    }
    return Check;
}

} // namespace vantrel::test
