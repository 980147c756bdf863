// One file's pass through a join of program streams (MPEG-2 program streams
// and MPEG-1 system streams): each packet written as it is, re-stamped (the
// file moved in time as a whole, only its time stamp bytes patched), or left
// out (a pack of padding while the file is behind its clock). The same pass
// plans the file when the join's plan is made (over its head, and its tail
// into nowhere) and writes it after.
#pragma once

#include "io/OutputFile.h"
#include "join/AccessUnits.h"
#include "join/JoinPlan.h"
#include "join/JoinState.h"
#include "join/MPEGTimeCorrect.h"
#include "mpeg/ps/ProgramStreamReader.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace vantrel {

// Writes the packet the file before was cut in, held back for a file that
// did not complete it: with zeros for what its file did not hold, so that it
// keeps its length and its pack its size.
void WriteCutPacket(TJoinState& State, TOutputFile& Output);

struct TPassSettings
{
    std::size_t Index = 0, Count = 1; // the file's place in the join
    bool RecalcTimecodes = true;
    bool ProgramStream = false; // MPEG-2 packs and PES headers
    // The pass decides how the file joins (the plan's file is filled in);
    // else it does as the plan says.
    bool Planning = false;
    // Reports where the walk stands; true stops it.
    std::function<bool(std::int64_t Position)> Progress;
};

class TProgramStreamPass
{
public:
    TProgramStreamPass(const TPassSettings& Settings, TJoinPlan& Plan, TJoinState& State, TByteSource& Source,
                       TOutputFile& Output);
    TProgramStreamPass(const TProgramStreamPass&) = delete;
    TProgramStreamPass& operator=(const TProgramStreamPass&) = delete;

    // How the file begins: whether it goes on from the file before, where it
    // lands on the line, how its first packs arrive. Writes what stands
    // before its first packet: the packet the file before was cut in.
    void Begin();
    // Walks the file from the first packet at or after From (0: from where
    // Begin left it) to its end, or (Until >= 0) up to the first packet at or
    // after Until; false when the walk was stopped.
    bool Walk(std::int64_t From = 0, std::int64_t Until = -1);

    // How much of a later file's start is read ahead to schedule its joint,
    // and how much of a file's end tells what waits in the buffers there.
    static constexpr std::int64_t LeadBytes = 2 << 20;
    static constexpr std::size_t LeadPacks = 1024;
    // How much of a file's end has its pictures counted for where it ends.
    static constexpr std::int64_t PictureCountBytes = 4 << 20;
    // Where the look at a file's end begins: enough before the pictures
    // counted for a stamped picture to set where they count from.
    static constexpr std::int64_t TailBytes = PictureCountBytes + (256 << 10);
    // Bytes between packets are kept up to this length (the zeros that fill
    // a VCD sector, an end code); a longer run is junk the stream never needed.
    static constexpr std::int64_t MaxKeptGap = 64 * 1024;
    static constexpr std::int64_t VcdSectorPayload = 2324;
    static constexpr std::int64_t DvdSectorSize = 2048;

private:
    TFilePlan& File() const { return m_Plan.Files[m_Settings.Index]; }
    bool Last() const { return m_Settings.Index + 1 == m_Settings.Count; }
    bool IsLaterFile() const { return m_Settings.Index > 0; }
    // True when the file goes on in time where the output stops.
    bool ContinuesOutput();
    // Schedules the file's first packs after what the output holds.
    void PlanJoint();
    double JointTime() const;
    bool WritePackHeader();
    void WriteSystemHeader();
    void WritePES();
    void MarkVideoJoint(std::uint8_t* Payload, std::size_t Length, std::int64_t PayloadAt);
    // True when the current packet is cut by the end of the file and held
    // back for the next one.
    bool HoldsCutPacket();
    // Copies the bytes between two packets, or (EndsFile) after a file's last one.
    void CopyGap(std::int64_t From, std::int64_t To, bool EndsFile);
    bool Report(std::int64_t Position) const { return m_Settings.Progress && m_Settings.Progress(Position); }

    const TPassSettings m_Settings;
    TJoinPlan& m_Plan;
    TJoinState& m_State;
    TByteSource& m_Source;
    TOutputFile& m_Output;
    TProgramStreamReader m_Reader;

    bool m_Continues = false;
    // What stands before the first packet is written from here (the rest of
    // a cut packet), when it is.
    std::optional<std::int64_t> m_GapStart;
    std::size_t m_PlannedPack = 0; // the next of the plan's packs
    std::size_t m_FileHeaders = 0; // system headers of the file so far
    bool m_GroupSeen = false;      // the file's first group header
    std::int64_t m_PackSCR = 0;    // of the pack written last
    std::int64_t m_PackOutput = 0; // where it stands in the output
    // Where the last pack header stands, and the distance between pack
    // headers of the file's tail while it is one (-1 once it varies).
    std::optional<std::int64_t> m_LastPackInput;
    std::int64_t m_PackSpacing = 0;
};

} // namespace vantrel
