// Which files may be joined, and how: the one rule that the window and the
// command-line tool both follow.
#pragma once

#include "probe/MPEGInfo.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel {
enum TFormatMatch : std::uint8_t
{
    fmSame = 0,
    fmVideoDiffers = 1,
    fmAudioDiffers = 2
};

// A is the reference (the first file of a join). Video is compared by size,
// frame rate, chroma format and MPEG version (MPEG-1 and MPEG-2 never join);
// audio by presence, codec, layer, sampling rate and channels.
TFormatMatch CompareMediaInfo(const TMediaInfo& A, const TMediaInfo& B);
// True when two probes of a file found the same format (kind, video, audio):
// what a join checks before it trusts a record made earlier.
bool SameFormat(const TMediaInfo& A, const TMediaInfo& B);
// True when Info joins with the reference but its pixel aspect ratio differs:
// players keep the first file's shape, so its pictures would look stretched.
bool AspectRatioDiffers(const TMediaInfo& Reference, const TMediaInfo& Info);

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
