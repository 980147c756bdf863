// The plan of a join, made from each input's head and tail before the first
// byte is written: where every file begins on the output's time line and how
// its first packs arrive, what the kept system headers and the last sequence
// end code are, how long the output runs. The one forward pass that writes
// the output follows it; the programs report it.
#pragma once

#include "join/JointPlanner.h"
#include "join/KeptHeaders.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {

struct TFilePlan
{
    // The rest of the recording before it (split anywhere): its times stay.
    bool Continues = false;
    // How many bytes at its start complete the packet the file before was
    // cut in; nothing when it completes none.
    std::optional<std::int64_t> Remainder;
    // Its smallest first PTS, as read: where its own line begins.
    std::optional<std::int64_t> FirstPTS;
    // Where that lands on the join's line, its pause included; nothing for
    // the first file, which keeps its stamps, and for a continuation.
    std::optional<std::int64_t> Start;
    // The schedule of its first packs, by where they stand in the file
    // (PlannedPacks[I] has Joint.SCR[I]).
    TJointPlan Joint;
    std::vector<std::int64_t> PlannedPacks;
    // Where the look at its end began: the first pack header of its tail.
    std::int64_t TailFrom = 0;
    // Seconds from the output's first stamp to where it begins.
    double Time = 0;
    // Ticks its DVD cells' elapsed times move on.
    std::int64_t ElapsedShift = 0;
    double Pause() const { return static_cast<double>(Joint.Pause) / ClockRate; }
};

struct TJoinPlan
{
    std::vector<TFilePlan> Files;
    TKeptHeaders Headers;
    // The sequence end code the output keeps (the last one of its video, when
    // only zeros of the video follow it): its file and where it stands there.
    std::optional<std::size_t> SequenceEndFile;
    std::int64_t SequenceEndAt = 0;
    // On the line: the output's first stamp, its first picture and where its
    // pictures and its sound end.
    std::optional<std::int64_t> FirstStamp, FirstPicture, VideoEnd, End;
    // Seconds from the first stamp to the end; 0 when it cannot be told.
    double Duration = 0;
};

} // namespace vantrel
