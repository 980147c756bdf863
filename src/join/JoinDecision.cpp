#include "JoinDecision.h"

namespace vantrel {

TJoinDecision DecideJoin(const std::vector<const TMediaInfo*>& Infos)
{
    TJoinDecision Decision;
    if (Infos.empty()) {
        Decision.Message = "There are no files to join.";
        return Decision;
    }
    Decision.FrameRate = Infos.front()->FrameRate;
    TFormatMatch Worst = fmSame;
    bool HasVideoStream = false;
    for (const TMediaInfo* Info : Infos) {
        const TFormatMatch Match = CompareMediaInfo(*Infos.front(), *Info);
        if (Match == fmVideoDiffers || (Match == fmAudioDiffers && Worst == fmSame))
            Worst = Match;
        HasVideoStream = HasVideoStream || !Info->IsSystemStream;
    }
    switch (Worst) {
    case fmVideoDiffers: Decision.Message = VideoDiffersMessage; break;
    case fmAudioDiffers:
        Decision.Verdict = TJoinVerdict::AskVideoOnly;
        Decision.Message = AudioDiffersMessage;
        break;
    default: Decision.Verdict = HasVideoStream ? TJoinVerdict::JoinVideoOnly : TJoinVerdict::Join; break;
    }
    return Decision;
}

} // namespace vantrel
