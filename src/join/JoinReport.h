// The join's report for scripts: where each input begins in the output, the
// pause before it, whether it continues the one before and what of an open
// GOP at its start cannot be shown, as `vantrel-cli join --json` prints it.
#pragma once

#include "join/Chapters.h"

#include <optional>
#include <string>
#include <vector>

namespace vantrel {

struct TJoinReport
{
    std::string Output;
    std::optional<double> Duration; // of the output, when it can be probed
    std::string Chapters;           // the chapter list written, or empty
    std::vector<std::string> Files;
    std::vector<TInputPlacement> Placements;
};

// One JSON document: {"output", "duration", "chapters", "files": [{"file",
// "start", "pause", "continues", "leading_pictures", "broken_link"}...]};
// seconds with three decimals, null for what is not known.
std::string JoinReportJson(const TJoinReport& Report);

} // namespace vantrel
