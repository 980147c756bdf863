#include "join/TableEdits.h"

#include "mpeg/CRC32.h"
#include "mpeg/ts/ProgramTables.h"
#include "mpeg/ts/Sections.h"
#include "mpeg/ts/ServiceTable.h"

#include <algorithm>

namespace vantrel {

namespace {

// A long-form header: table_id, length (2), extension (2), version (1),
// section numbers (2).
constexpr std::size_t LongHeader = 8;

std::uint16_t Word(const std::uint8_t* P)
{
    return static_cast<std::uint16_t>((P[0] << 8) | P[1]);
}

void PutWord(std::uint8_t* P, std::uint16_t Value)
{
    P[0] = static_cast<std::uint8_t>(Value >> 8);
    P[1] = static_cast<std::uint8_t>(Value);
}

// A 13-bit PID after three reserved bits, which stay.
void PutPID(std::uint8_t* P, std::uint16_t PID)
{
    P[0] = static_cast<std::uint8_t>((P[0] & 0xE0) | (PID >> 8));
    P[1] = static_cast<std::uint8_t>(PID);
}

std::uint16_t PIDAt(const std::uint8_t* P)
{
    return Word(P) & 0x1FFF;
}

void SetLength(std::vector<std::uint8_t>& Section)
{
    const std::size_t Length = Section.size() - SectionHeaderLength;
    Section[1] = static_cast<std::uint8_t>((Section[1] & 0xF0) | (Length >> 8));
    Section[2] = static_cast<std::uint8_t>(Length);
}

// program_number (16) | reserved (3) PID (13), four bytes an entry.
std::optional<std::vector<std::uint8_t>> MapPAT(std::vector<std::uint8_t> S, const TPIDMap& Map)
{
    std::vector<std::uint8_t> Out(S.begin(), S.begin() + LongHeader);
    for (std::size_t At = LongHeader; At + 4 <= S.size() - SectionCRCLength; At += 4) {
        std::uint8_t* Entry = &S[At];
        const std::uint16_t Number = Word(Entry), PID = PIDAt(Entry + 2);
        // The network PID (program 0) stays, as DVB's tables do.
        const std::optional<std::uint16_t> Program =
            Number == 0 ? std::optional(Number) : Map.ProgramNumber(Number);
        if (!Program || !Map.Keeps(PID))
            continue;
        PutWord(Entry, *Program);
        PutPID(Entry + 2, Map.PID(PID));
        Out.insert(Out.end(), Entry, Entry + 4);
    }
    Out.resize(Out.size() + SectionCRCLength);
    return Out;
}

// program_number in the extension; PCR PID; then the streams, each its
// type, PID and descriptors (DecodePMT says where each entry stands).
std::optional<std::vector<std::uint8_t>> MapPMT(std::vector<std::uint8_t> S, const TPIDMap& Map)
{
    const std::optional<TPMT> PMT = DecodePMT(S);
    if (!PMT)
        return S;
    const std::optional<std::uint16_t> Program = Map.ProgramNumber(PMT->ProgramNumber);
    if (!Program)
        return std::nullopt;
    PutWord(&S[3], *Program);
    PutPID(&S[LongHeader], Map.PID(PMT->PCRPID));
    for (const TPMTStream& Stream : PMT->Streams)
        PutPID(&S[Stream.EntryOffset + 1u], Map.PID(Stream.PID));
    return S;
}

// original_network_id (2), reserved (1); then the services, each its id
// (2), flags (1), running status and the descriptors' length (2) and the
// descriptors. A service the output does not keep is left out: a receiver
// would list a channel the file does not have.
std::optional<std::vector<std::uint8_t>> MapSDT(std::vector<std::uint8_t> S, const TPIDMap& Map)
{
    const std::size_t End = S.size() - SectionCRCLength;
    std::vector<std::uint8_t> Out(S.begin(), S.begin() + static_cast<long>(std::min(LongHeader + 3, End)));
    for (std::size_t At = LongHeader + 3; At + 5 <= End;) {
        const std::size_t Next = std::min(End, At + 5u + (Word(&S[At + 3]) & 0x0FFF));
        if (const std::optional<std::uint16_t> Service = Map.ProgramNumber(Word(&S[At]))) {
            PutWord(&S[At], *Service);
            Out.insert(Out.end(), S.begin() + static_cast<long>(At), S.begin() + static_cast<long>(Next));
        }
        At = Next;
    }
    Out.resize(Out.size() + SectionCRCLength);
    return Out;
}

// An EIT of the stream itself is one service's (its id the extension): the
// output's number for it, or nothing for a service it does not keep.
std::optional<std::vector<std::uint8_t>> MapEIT(std::vector<std::uint8_t> S, const TPIDMap& Map)
{
    const std::optional<std::uint16_t> Service = Map.ProgramNumber(Word(&S[3]));
    if (!Service)
        return std::nullopt;
    PutWord(&S[3], *Service);
    return S;
}

bool IsActualEIT(std::uint8_t TableId)
{
    // present/following 0x4E, schedule 0x50 to 0x5F; the other streams'
    // (0x4F, 0x60 to 0x6F) describe services elsewhere and stay.
    return TableId == EITActualTableId || (TableId >= 0x50 && TableId <= 0x5F);
}

} // namespace

bool IsEditedTable(std::uint16_t PID, std::uint8_t TableId)
{
    return (PID == PATPID && TableId == PATTableId) || TableId == PMTTableId ||
           (PID == SDTPID && TableId == SDTActualTableId) || (PID == EITPID && IsActualEIT(TableId));
}

std::optional<std::vector<std::uint8_t>> MapSection(std::span<const std::uint8_t> Section, const TPIDMap& Map)
{
    std::vector<std::uint8_t> S(Section.begin(), Section.end());
    const std::optional<TSectionHeader> Header = DecodeSectionHeader(Section);
    if (!Header || Header->Length != Section.size() || !CheckSectionCRC(Section))
        return S;
    const std::uint8_t Id = Header->TableId;
    std::optional<std::vector<std::uint8_t>> Out =
        Id == PATTableId                                               ? MapPAT(std::move(S), Map)
        : Id == PMTTableId                                             ? MapPMT(std::move(S), Map)
        : Id == SDTActualTableId                                       ? MapSDT(std::move(S), Map)
        : IsActualEIT(Id) && S.size() >= LongHeader + SectionCRCLength ? MapEIT(std::move(S), Map)
                                                                       : std::optional(std::move(S));
    if (Out) {
        SetLength(*Out);
        EncodeSectionCRC(*Out);
    }
    return Out;
}

void SetSectionVersion(std::span<std::uint8_t> Section, std::uint8_t Version)
{
    // reserved (2) | version (5) | current_next (1)
    Section[5] = static_cast<std::uint8_t>((Section[5] & 0xC1) | ((Version & 0x1F) << 1));
    EncodeSectionCRC(Section);
}

std::optional<TTableKey> TableKeyOf(std::uint16_t PID, std::span<const std::uint8_t> Section)
{
    const std::optional<TSectionHeader> Header = DecodeSectionHeader(Section);
    if (!Header)
        return std::nullopt;
    return TTableKey{PID, Header->TableId, Header->Extension};
}

namespace {

// What a section says but for its version and CRC.
std::vector<std::uint8_t> Content(std::span<const std::uint8_t> Section)
{
    std::vector<std::uint8_t> Bytes(Section.begin(), Section.end() - SectionCRCLength);
    Bytes[5] &= 0xC1;
    return Bytes;
}

} // namespace

int TTableVersions::Shift(const TTableKey& Key, std::span<const std::uint8_t> Section) const
{
    const auto Table = m_Tables.find(Key);
    const std::optional<TSectionHeader> Header = DecodeSectionHeader(Section);
    if (Table == m_Tables.end() || !Header)
        return 0;
    const bool Same =
        Table->second.SectionNumber == Header->SectionNumber && Table->second.Content == Content(Section);
    return (Table->second.Version + (Same ? 0 : 1) - Header->Version + 32) % 32;
}

void TTableVersions::Written(const TTableKey& Key, std::span<const std::uint8_t> Section)
{
    const std::optional<TSectionHeader> Header = DecodeSectionHeader(Section);
    if (!Header)
        return;
    TTable& Table = m_Tables[Key];
    // The first section a table sends speaks for it.
    if (Table.Content.empty() || Header->SectionNumber <= Table.SectionNumber ||
        Header->Version != Table.Version)
        Table = {Header->Version, Header->SectionNumber, Content(Section)};
}

} // namespace vantrel
