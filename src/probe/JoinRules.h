// Which files may be joined, and how: the one rule that the window and the
// command-line tool both follow.
#pragma once

#include "probe/MPEGInfo.h"

#include <array>
#include <cstdint>
#include <optional>
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
// audio by presence, codec, layer, sampling rate and channels. Files of
// other containers (system, program, transport stream) never join, nor
// transport streams of other packet sizes. Two
// transport streams of one program each compare that program whatever its
// number and PIDs: the video as above, the sound by the codecs of its
// streams, as many of each (a channel's sound changes rate and channels
// from one broadcast to the next). A multiplex joins with files that hold
// the same programs, each compared so.
TFormatMatch CompareMediaInfo(const TMediaInfo& A, const TMediaInfo& B);
// The record of a transport stream cut down to its program of that number,
// which its video and sound fields then describe; nothing when it has none.
std::optional<TMediaInfo> SelectProgram(const TMediaInfo& Info, std::uint16_t Number);
// The records of a join that keeps one program of transport streams
// (Number; 0 keeps them all), as the rules compare them: each transport
// stream cut to that program, one of a single program to its own whatever
// its number. Raises "The file %s holds no program %u." for a file that has
// neither, and for another kind of file "Only transport streams have
// programs to choose."
std::vector<TInputRecord> InputsOfProgram(const std::vector<TInputRecord>& Inputs, std::uint16_t Number);
// True when two probes of a file found the same format (kind, video, audio):
// what a join checks before it trusts a record made earlier.
bool SameFormat(const TMediaInfo& A, const TMediaInfo& B);
// True when Info joins with the reference but its pixel aspect ratio differs:
// players keep the first file's shape, so its pictures would look stretched.
bool AspectRatioDiffers(const TMediaInfo& Reference, const TMediaInfo& Info);

// The words of a decision made without the files' names.
inline constexpr const char* VideoDiffersMessage =
    "The video of a file differs from that of the first file: the files cannot be joined.";
inline constexpr const char* AudioDiffersMessage =
    "The sound of a file differs from that of the first file: the files can be joined only without sound.";
// Transport streams of other video (H.264) are named by their codec.
inline constexpr const char* TransportVideoMessage =
    "Joining transport streams of %s video is not possible yet.";
inline constexpr const char* TransportSoundMessage =
    "The sound of a file differs from that of the first file: transport streams can be joined only with the "
    "same sound.";
inline constexpr const char* TransportVideoOnlyMessage =
    "A transport stream cannot be joined without its sound.";

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
    // For AskVideoOnly and Refuse: the files that differ so, in join order.
    std::vector<std::size_t> Differing;
};

// Infos are the records of the files in join order, the first the reference.
// A video difference anywhere wins over audio differences anywhere, whatever
// the order. An empty list is refused. Transport streams join as they are or
// not at all: one whose sound differs is refused (TransportSoundMessage),
// and so is video the join cannot cut yet (TransportVideoMessage).
TJoinDecision DecideJoin(const std::vector<const TMediaInfo*>& Infos);
// The same for the inputs of a join, whose message names the files that
// differ and how: "The video of b.mpg differs from that of the first file,
// a.mpg (352 x 240 at 29.97 fps vs 352 x 288 at 25.00 fps): the files cannot
// be joined." and what the user can do.
TJoinDecision DecideJoin(const std::vector<TInputRecord>& Inputs);

// The extensions of the files a join writes, lower case. A name for the
// output that ends in one (in any case) is the name written.
inline constexpr std::array<const char*, 12> OutputExtensions = {
    ".mpg", ".mpeg", ".m1v", ".m2v", ".vob", ".dat", ".ts", ".m2ts", ".mts", ".trp", ".tp", ".rec"};
// The extension that fits the output of a join whose first file is First:
// ".m1v" or ".m2v" for the video alone, ".vob" for a DVD's program stream
// (its sound or subpictures in private stream 1), ".mpg" for any other
// system or program stream, ".ts" or ".m2ts" (192-byte packets) for a
// transport stream.
const char* OutputExtension(const TMediaInfo& First, bool VideoOnly);
// Name as it is when it ends in one of OutputExtensions; else with
// Extension appended ("clip.avi" becomes "clip.avi.mpg").
std::string WithOutputExtension(const std::string& Name, const char* Extension);

} // namespace vantrel
