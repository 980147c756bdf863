// Which files may be joined, and how: the one rule that the window and the
// command-line tool both follow.
#pragma once

#include "media/MPEGInfo.h"

#include <string>
#include <vector>

namespace vantrel {

inline constexpr const char* VideoDiffersMessage =
    "The selected files have the different format of video and cannot be joined.";
inline constexpr const char* AudioDiffersMessage =
    "The selected files have the different format of audio and can be joined only without audio.";

enum class TJoinVerdict
{
    Join,          // every file as it is
    JoinVideoOnly, // a video elementary stream is among them: video only, without asking
    AskVideoOnly,  // the audio differs: only a join without audio is possible, if the user wants it
    Refuse         // the video differs
};

struct TJoinDecision
{
    TJoinVerdict Verdict = TJoinVerdict::Refuse;
    // For AskVideoOnly and Refuse: what to tell the user.
    std::string Message;
    // The first file's frame rate, which times the joined stream.
    double FrameRate = 0;
};

// Infos are the records of the files in join order, the first the reference.
// A video difference anywhere wins over audio differences anywhere, whatever
// the order. An empty list is refused.
TJoinDecision DecideJoin(const std::vector<const TMediaInfo*>& Infos);

} // namespace vantrel
