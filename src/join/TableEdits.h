// The tables of a transport stream as a join writes them (ISO/IEC 13818-1,
// 2.4.4; ETSI EN 300 468, 5.2.3): a later file's PAT, PMTs and SDT in the
// output's PIDs and program numbers, a PAT that lists only the programs
// kept, and versions that stay true across the joints: a table that says
// what the output's said before keeps its version, one that says something
// else takes the next; every section changed gets its CRC anew.
#pragma once

#include "join/PIDMap.h"

#include <compare>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

namespace vantrel {

// One table of the output: the PID it comes on, its table id and its
// extension (the PAT's transport stream id, a PMT's program number, an
// SDT's transport stream id), as the output writes them.
struct TTableKey
{
    std::uint16_t PID = 0;
    std::uint8_t TableId = 0;
    std::uint16_t Extension = 0;
    auto operator<=>(const TTableKey&) const = default;
};

// True for the tables a join rewrites: the PAT on PID 0, a PMT, DVB's SDT
// of the stream itself on PID 0x11 and its EITs (events) on PID 0x12.
bool IsEditedTable(std::uint16_t PID, std::uint8_t TableId);

// Section (one whole section of PID, CRC last) as the output has it: the
// PAT's programs and PMT PIDs, a PMT's program number, PCR PID and stream
// PIDs, an SDT's and an EIT's service ids, all mapped; the PAT and the SDT
// without the programs (services) not kept, so no longer than they were.
// Its version is as it was, its CRC anew. Nothing when the output keeps
// nothing of it (the PMT or the EIT of a program not kept); any other
// section is returned as it is.
std::optional<std::vector<std::uint8_t>> MapSection(std::span<const std::uint8_t> Section,
                                                    const TPIDMap& Map);
// Sets a long-form section's version (0 to 31) and makes its CRC anew.
void SetSectionVersion(std::span<std::uint8_t> Section, std::uint8_t Version);
// The key of a section as it is written; nothing for a section too short
// for a long-form header.
std::optional<TTableKey> TableKeyOf(std::uint16_t PID, std::span<const std::uint8_t> Section);

// The versions of the output's tables and what each of them said last
// (section 0 of it, but for the version and the CRC).
class TTableVersions
{
public:
    // A later file's table, its first section as the output would write it
    // at Version: how many versions its own are to be moved by, so that it
    // keeps the output's version when it says the same, or takes the next
    // one. A table the output has not had keeps its versions.
    int Shift(const TTableKey& Key, std::span<const std::uint8_t> Section) const;
    // A section as it was written.
    void Written(const TTableKey& Key, std::span<const std::uint8_t> Section);

private:
    struct TTable
    {
        std::uint8_t Version = 0;
        std::uint8_t SectionNumber = 0;
        std::vector<std::uint8_t> Content;
    };
    std::map<TTableKey, TTable> m_Tables;
};

} // namespace vantrel
