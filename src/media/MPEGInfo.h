// What a file holds: its kind by its first bytes, its video format and its
// first audio stream's format, its duration, and whether two files can be
// joined.
#pragma once

#include "ByteSource.h"
#include "FileBufs.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel {

enum TMediaFileKind : std::uint8_t
{
    mfkUnknown = 0,
    mfkSystemStream = 1,
    mfkVideoStream = 2
};

// Classifies by the first start code: 00 00 01 BA (pack start) is a system
// stream, 00 00 01 B3 (sequence header) a video elementary stream. Up to
// LeadingZeroLimit zero bytes may stand before it (the empty sectors a VCD
// track copied off a disc starts with: 150 or more). A file that starts with
// anything else is a system stream when a whole pack header stands within
// ResyncLimit bytes: the second half of a recording split in a pack. The
// name form raises the input file's errors ("Cannot open file %s" with the
// reason, "%s is not a regular file.").
TMediaFileKind GetMediaFileKind(const std::string& FileName);
TMediaFileKind GetMediaFileKind(TByteSource& Source);
constexpr std::int64_t LeadingZeroLimit = 1 << 20;
constexpr std::int64_t ResyncLimit = 64 * 1024;

struct TMediaInfo
{
    bool IsSystemStream = false;
    std::uint16_t FrameRateCode = 0;
    double FrameRate = 0;
    std::uint16_t Width = 0;
    std::uint16_t Height = 0;
    std::uint8_t AspectRatioCode = 0; // the pixel aspect ratio of the sequence header
    bool HasAudio = false;            // stream 0xC0 delivered payload
    std::uint8_t AudioLayer = 0;      // of its first confirmed frame header; 0 when none
    std::uint8_t ChannelMode = 0;
    std::int32_t SampleRate = 0;
    std::int32_t AudioBitRate = 0; // bit/s of that header
    double Duration = 0;           // seconds; 0 when the probe could not tell
};

// One input as one probe found it: what the list shows, the join decision
// weighs and the joiner joins, without opening the file again to ask.
struct TInputRecord
{
    std::string FileName;
    TFileIdentity Identity;      // of the file when it was probed
    std::int64_t StreamSize = 0; // of the stream it holds (inside its sectors, for a disc track)
    TMediaFileKind Kind = mfkUnknown;
    TMediaInfo Info;
};

// Opens the file once and probes it; raises what ProbeMediaFile raises.
TInputRecord ProbeInput(const std::string& FileName, bool WithDuration = true);
TInputRecord ProbeInput(TInputFile& File, bool WithDuration = true);

enum TFormatMatch : std::uint8_t
{
    fmSame = 0,
    fmVideoDiffers = 1,
    fmAudioDiffers = 2
};

// Fills Info for the named file or raises an Exception saying why it cannot
// be used. A VCD track in RIFF/CDXA sectors is read as the stream it holds.
// Without duration, only the start of the file is read (a few KB).
void ProbeMediaFile(const std::string& FileName, TMediaInfo& Info, bool WithDuration = true);
void ProbeMediaFile(TByteSource& Source, TMediaInfo& Info, bool WithDuration = true);
void ProbeSystemStream(TByteSource& Source, TMediaInfo& Info, bool WithDuration = true);
void ProbeVideoStream(TByteSource& Source, TMediaInfo& Info, bool WithDuration = true);

// A is the reference (the first file of a join). Video is compared by size and
// frame-rate code; audio by presence, layer, sampling rate and channel mode.
TFormatMatch CompareMediaInfo(const TMediaInfo& A, const TMediaInfo& B);
// True when two probes of a file found the same format (kind, video, audio):
// what a join checks before it trusts a record made earlier.
bool SameFormat(const TMediaInfo& A, const TMediaInfo& B);

// The status a file shows against the first file: "OK", "Video Differ" or
// "Audio Differ".
const char* FormatMatchText(TFormatMatch Match);

// Text of the channel mode for people: "stereo", "joint stereo", ...
const char* ChannelModeName(std::uint8_t ChannelMode);

// Texts for people, shared by the window and the command-line tool.
// "h:mm:ss.cc"; empty for a duration the probe could not tell (0).
std::string DurationText(double Seconds);
// "Layer II 44.1 kHz stereo 192 kbit/s"; "none" without audio; "unknown
// format" for audio without a frame header.
std::string AudioText(const TMediaInfo& Info);
// Why Info differs from the reference, or empty when it does not:
// "Audio differs from the first file: 48 kHz mono vs 44.1 kHz stereo". A
// file that joins but whose pictures have another shape says so too: a
// warning, not a refusal ("Aspect ratio differs from the first file: ...").
std::string DifferenceText(const TMediaInfo& Reference, const TMediaInfo& Info);
// True when Info joins with the reference but its pixel aspect ratio differs:
// players keep the first file's shape, so its pictures would look stretched.
bool AspectRatioDiffers(const TMediaInfo& Reference, const TMediaInfo& Info);

} // namespace vantrel
