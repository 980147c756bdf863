#include "join/PIDMap.h"

#include <algorithm>
#include <numeric>

namespace vantrel {

namespace {

// The PIDs below this are the tables every receiver reads (PAT, CAT, and
// DVB's NIT, SDT, EIT, TDT, ...): a program chosen keeps them, and a later
// file's stay what they are.
constexpr std::uint16_t FirstProgramPID = 0x20;

// What pairs a stream of a later file with one of the first file: its kind
// and how it is coded (the join's rules compare sound by its codec).
std::pair<int, int> StreamKey(const TStreamInfo& Stream)
{
    return {Stream.Kind, Stream.Kind == skSound ? static_cast<int>(Stream.AudioCodec) : Stream.Coding};
}

const TProgramInfo* ProgramNumbered(const TMediaInfo& Info, std::uint16_t Number)
{
    const auto Found = std::find_if(Info.Programs.begin(), Info.Programs.end(),
                                    [Number](const TProgramInfo& P) { return P.Number == Number; });
    return Found == Info.Programs.end() ? nullptr : &*Found;
}

bool CarriesStream(const TProgramInfo& Program, std::uint16_t PID)
{
    return std::any_of(Program.Streams.begin(), Program.Streams.end(),
                       [PID](const TStreamInfo& S) { return S.PID == PID; });
}

} // namespace

std::vector<const TProgramInfo*> KeptPrograms(const TMediaInfo& Info, std::uint16_t Program)
{
    std::vector<const TProgramInfo*> Kept;
    if (Program == 0) {
        for (const TProgramInfo& P : Info.Programs)
            Kept.push_back(&P);
        return Kept;
    }
    // A file of one program joins with the one chosen whatever its number.
    if (const TProgramInfo* P = ProgramNumbered(Info, Program))
        Kept.push_back(P);
    else if (Info.Programs.size() == 1)
        Kept.push_back(&Info.Programs.front());
    return Kept;
}

TPIDMap::TPIDMap() = default;

std::uint16_t TPIDMap::PID(std::uint16_t PID) const
{
    PID &= 0x1FFF;
    const auto Found =
        std::lower_bound(m_Moved.begin(), m_Moved.end(), std::pair<std::uint16_t, std::uint16_t>{PID, 0});
    return Found != m_Moved.end() && Found->first == PID ? Found->second : PID;
}

std::vector<std::uint16_t> TPIDMap::Table() const
{
    std::vector<std::uint16_t> Table(PIDCount);
    std::iota(Table.begin(), Table.end(), std::uint16_t{0});
    for (const auto& [From, To] : m_Moved)
        Table[From] = To;
    for (std::uint16_t PID = 0; PID < PIDCount; ++PID)
        if (m_Dropped[PID])
            Table[PID] = PIDCount;
    return Table;
}

void TPIDMap::Set(std::uint16_t From, std::uint16_t To)
{
    const auto At =
        std::lower_bound(m_Moved.begin(), m_Moved.end(), std::pair<std::uint16_t, std::uint16_t>{From, 0});
    if (At != m_Moved.end() && At->first == From)
        At->second = To;
    else
        m_Moved.insert(At, {From, To});
}

TPIDMap::TPIDMap(const TMediaInfo& File, std::uint16_t Program) : TPIDMap()
{
    if (Program == 0)
        return;
    m_OneProgram = true;
    m_Identity = false;
    const std::vector<const TProgramInfo*> Kept = KeptPrograms(File, Program);
    std::vector<bool> Keep(PIDCount, false);
    Keep[NullPID] = true;
    for (const TProgramInfo* P : Kept) {
        m_Programs.push_back({P->Number, P->Number});
        Keep[P->PMTPID] = Keep[P->PCRPID] = true;
        for (const TStreamInfo& S : P->Streams)
            Keep[S.PID] = true;
    }
    for (std::uint16_t PID = FirstProgramPID; PID < PIDCount; ++PID)
        m_Dropped[PID] = !Keep[PID];
}

TPIDMap::TPIDMap(const TMediaInfo& Reference, const TMediaInfo& File, std::uint16_t Program)
    : TPIDMap(File, Program)
{
    const std::vector<const TProgramInfo*> Into = KeptPrograms(Reference, Program);
    const std::vector<const TProgramInfo*> From = KeptPrograms(File, Program);
    constexpr std::uint16_t None = PIDCount;
    std::vector<std::uint16_t> Target(PIDCount, None);
    for (const TProgramInfo* P : From)
        // A file of one program takes the first file's one; a multiplex
        // the program of the same number.
        if (const TProgramInfo* To =
                Into.size() == 1 && From.size() == 1 ? Into.front() : ProgramNumbered(Reference, P->Number))
            Pair(*To, *P, Target);
    // The output's PIDs: what else of the later file stands on one of them
    // (a stream the first file has none for) moves to a free one.
    std::vector<bool> Taken(PIDCount, false);
    for (const TProgramInfo& P : Reference.Programs) {
        Taken[P.PMTPID] = Taken[P.PCRPID] = true;
        for (const TStreamInfo& S : P.Streams)
            Taken[S.PID] = true;
    }
    for (std::uint16_t PID = 0; PID < PIDCount; ++PID)
        if (Target[PID] != None)
            Taken[Target[PID]] = true;
    std::uint16_t Free = NullPID - 1;
    for (std::uint16_t PID = 0; PID < PIDCount; ++PID) {
        if (m_Dropped[PID])
            continue;
        if (Target[PID] != None) {
            if (Target[PID] != PID)
                Set(PID, Target[PID]);
        } else if (PID >= FirstProgramPID && PID != NullPID && Taken[PID]) {
            while (Free >= FirstProgramPID && Taken[Free])
                --Free;
            Set(PID, Free);
            Taken[Free] = true;
        }
    }
    m_Identity = m_Identity && m_Moved.empty();
    for (const auto& [From, To] : m_Programs)
        m_Identity = m_Identity && From == To;
}

void TPIDMap::Pair(const TProgramInfo& To, const TProgramInfo& From, std::vector<std::uint16_t>& Target)
{
    std::erase_if(m_Programs, [&](const auto& P) { return P.first == From.Number; });
    m_Programs.push_back({From.Number, To.Number});
    Target[From.PMTPID] = To.PMTPID;
    // Streams pair in their order, those that speak the same language first.
    std::vector<bool> Used(To.Streams.size(), false), Paired(From.Streams.size(), false);
    for (const bool ByLanguage : {true, false})
        for (std::size_t I = 0; I < From.Streams.size(); ++I)
            for (std::size_t J = 0; J < To.Streams.size() && !Paired[I]; ++J) {
                const TStreamInfo &A = To.Streams[J], &B = From.Streams[I];
                if (Used[J] || StreamKey(A) != StreamKey(B) || (ByLanguage && A.Languages != B.Languages))
                    continue;
                Used[J] = Paired[I] = true;
                Target[B.PID] = A.PID;
            }
    // A clock of its own PID goes to the first file's, when that has one too.
    if (!CarriesStream(From, From.PCRPID) && !CarriesStream(To, To.PCRPID))
        Target[From.PCRPID] = To.PCRPID;
}

std::optional<std::uint16_t> TPIDMap::ProgramNumber(std::uint16_t Number) const
{
    for (const auto& [File, Output] : m_Programs)
        if (File == Number)
            return Output;
    // With a program chosen, no other one goes on.
    return m_OneProgram ? std::nullopt : std::optional(Number);
}

} // namespace vantrel
