#include "probe/JoinRules.h"

namespace vantrel {

TFormatMatch CompareMediaInfo(const TMediaInfo& A, const TMediaInfo& B)
{
    // A program stream's packs and an MPEG-1 stream's do not mix either.
    if (A.Width != B.Width || A.Height != B.Height || A.FrameRateCode != B.FrameRateCode ||
        A.ChromaFormat != B.ChromaFormat || A.MPEGVersion != B.MPEGVersion ||
        // MPEG-2's rate extension changes the rate of a code.
        (A.MPEGVersion == 2 && A.FrameRate != B.FrameRate) ||
        (A.IsSystemStream && B.IsSystemStream && A.ProgramStream != B.ProgramStream))
        return fmVideoDiffers;
    if (A.HasAudio == B.HasAudio &&
        (!A.HasAudio || (A.AudioCodec == B.AudioCodec && A.AudioLayer == B.AudioLayer &&
                         A.SampleRate == B.SampleRate && A.ChannelMode == B.ChannelMode &&
                         A.AudioChannels == B.AudioChannels && A.LowFrequency == B.LowFrequency)))
        return fmSame;
    return fmAudioDiffers;
}

bool SameFormat(const TMediaInfo& A, const TMediaInfo& B)
{
    return A.IsSystemStream == B.IsSystemStream && A.ProgramStream == B.ProgramStream &&
           A.AudioStreamId == B.AudioStreamId && A.AudioSubStream == B.AudioSubStream &&
           CompareMediaInfo(A, B) == fmSame;
}

bool AspectRatioDiffers(const TMediaInfo& Reference, const TMediaInfo& Info)
{
    // Code 0 is forbidden: a stream that carries it tells nothing of its shape.
    return CompareMediaInfo(Reference, Info) != fmVideoDiffers && Reference.AspectRatioCode != 0 &&
           Info.AspectRatioCode != 0 && Reference.AspectRatioCode != Info.AspectRatioCode;
}

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
