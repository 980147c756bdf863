// How the packets of a transport stream go into a join's output: which of
// them it keeps (every one, or one program's alone with the tables every
// receiver reads), and for a later file which PIDs and program numbers its
// streams take there. The same streams on other PIDs take the first file's
// (a channel that moved its PIDs between two recordings, a recorder that
// numbers its own), so that the output is one program whatever each
// recording used; what the first file has no stream for keeps its PID, or a
// free one when the first file's streams use that.
#pragma once

#include "mpeg/ts/TransportPacket.h"
#include "probe/MPEGInfo.h"

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace vantrel {

class TPIDMap
{
public:
    // Keeps every packet as it is.
    TPIDMap();
    // The first file's: Program's packets alone (0: all of them).
    TPIDMap(const TMediaInfo& File, std::uint16_t Program);
    // A later file's, into an output whose streams are the first file's
    // (Reference). Program: the one program kept, by its number in the
    // first file (0: all); a later file's program takes its place by its
    // order (a file of one program) or its number (a multiplex).
    TPIDMap(const TMediaInfo& Reference, const TMediaInfo& File, std::uint16_t Program);

    bool Keeps(std::uint16_t PID) const { return !m_Dropped[PID & 0x1FFF]; }
    // The output's PID for a kept one.
    std::uint16_t PID(std::uint16_t PID) const;
    // The output's PID of every PID (PIDCount for one left out), for a pass
    // that looks it up for every packet.
    std::vector<std::uint16_t> Table() const;
    // The output's number of a program of the file; nothing for one the
    // output does not keep.
    std::optional<std::uint16_t> ProgramNumber(std::uint16_t Number) const;
    // True when every packet is kept as it is.
    bool Identity() const { return m_Identity; }

private:
    void Pair(const TProgramInfo& To, const TProgramInfo& From, std::vector<std::uint16_t>& Target);

    void Set(std::uint16_t From, std::uint16_t To);

    // A map is kept for every file of a join: the PIDs that move, sorted,
    // and a bit for each one left out.
    std::vector<std::pair<std::uint16_t, std::uint16_t>> m_Moved;
    std::vector<bool> m_Dropped = std::vector<bool>(PIDCount, false);
    // The file's program numbers the output knows by another, and whether
    // it keeps only those (a program chosen).
    std::vector<std::pair<std::uint16_t, std::uint16_t>> m_Programs;
    bool m_OneProgram = false;
    bool m_Identity = true;
};

// The programs of a file that the output keeps: Program's alone, or all.
std::vector<const TProgramInfo*> KeptPrograms(const TMediaInfo& Info, std::uint16_t Program);

} // namespace vantrel
