#include "join/JoinReport.h"

#include "io/SysUtils.h"
#include "probe/MediaJson.h"

namespace vantrel {

std::string JoinReportJson(const TJoinReport& Report)
{
    std::string Out =
        "{\"output\": " + JsonString(Report.Output) +
        ",\n \"duration\": " + (Report.Duration ? Format("%.3f", *Report.Duration) : std::string("null")) +
        ",\n \"chapters\": " + (Report.Chapters.empty() ? std::string("null") : JsonString(Report.Chapters)) +
        ",\n \"files\": [";
    for (std::size_t I = 0; I < Report.Files.size() && I < Report.Placements.size(); ++I) {
        const TInputPlacement& Placement = Report.Placements[I];
        Out += Format("%s\n  {%s, \"start\": %.3f, \"pause\": %.3f, \"continues\": %s, \"leading_pictures\": "
                      "%zu, \"broken_link\": %s}",
                      I ? "," : "", JsonFile(Report.Files[I]).c_str(), Placement.Start, Placement.Pause,
                      Placement.Continues ? "true" : "false", Placement.LeadingPictures,
                      Placement.BrokenLink ? "true" : "false");
    }
    return Out + "\n]}\n";
}

} // namespace vantrel
