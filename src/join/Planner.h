// Makes the plan of a join before its first byte is written, from each
// input's record, head and tail: the passes that will write each file run
// first over its head (how it begins, its joint) and its tail, into nowhere
// (where it ends, what waits in the buffers there, what the next file
// meets), so the plan is what writing will do.
#pragma once

#include "io/InputFile.h"
#include "join/JoinPlan.h"
#include "probe/MPEGInfo.h"

#include <functional>
#include <vector>

namespace vantrel {

struct TPlanSettings
{
    bool RecalcTimecodes = true;
    bool VideoOnly = false;
    double FrameRate = 25; // of the first file: what times the joined stream
    // The program of transport streams kept, by its number in the first
    // file; 0 keeps them all.
    std::uint16_t Program = 0;
};

// Opens input Index to read it; raises what opening raises.
using TOpenInput = std::function<TInputFile&(std::size_t Index)>;

TJoinPlan MakeJoinPlan(const std::vector<TInputRecord>& Inputs, const TPlanSettings& Settings,
                       const TOpenInput& Open);

} // namespace vantrel
